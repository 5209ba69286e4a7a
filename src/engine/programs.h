#pragma once

#include <functional>
#include <string>

#include "core/task_record.h"

namespace zentrove::engine {

// The run conditions RunIfExists and RunIfNotExists; logs why a run may not take place.
bool CheckRunConditions(const core::TArhRecord& task);

// A condition without "*" is a plain path: found when a file or folder of that name exists, and the
// found path is the condition. A condition with "*" is a mask for full paths, searched from its
// base folder down in the order the file system lists entries (symbolic links to folders are not
// followed); the first file or folder that matches is the found path.
bool FindConditionFile(const std::string& condition, std::string& foundPath);

// Starts a before- or after-program: the program path is one word, the parameters are split by the
// shell's quoting rules (nothing is expanded), the working folder is `folder` when it is not empty.
// Waits for the program at most `waitLimitSeconds` (0: until it ends), then pauses `pauseSeconds`
// with the countdown "TimeOut:" N " sec" in StatusText3; a pause request holds the countdown. A stop
// request ends the wait and the pause within a poll interval; a program still running is left
// running. Nothing the program does stops the run. `refreshRow` redraws the task's row.
void RunProgram(const std::string& program, const std::string& parameters, const std::string& folder,
                core::TArhRecord& task, int pauseSeconds, int taskNumber, int waitLimitSeconds, int showValue,
                const std::function<void()>& refreshRow = {});

}  // namespace zentrove::engine
