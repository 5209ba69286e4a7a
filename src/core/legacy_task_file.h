#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/task_record.h"

namespace zentrove::core {

class TArhList;

// The binary task list of version 1.7 and its include and exclude list files, all in the program
// folder.
inline constexpr const char* kLegacyTaskFileName = "ArhTasks.dat";
inline constexpr const char* kLegacyBackupFileName = "ArhTasks.bak";
inline constexpr const char* kLegacyIncludeListName = "Zentrove.FM1";
inline constexpr const char* kLegacyExcludeListName = "Zentrove.FM2";
inline constexpr std::size_t kLegacyRecordSize = 6952;

// The legacy texts are single-byte Windows text. A text that is already valid UTF-8 is kept; any
// other is read as Windows-1252 (the five bytes that code page leaves undefined become the control
// characters of the same number, as Windows converts them).
std::string LegacyTextToUtf8(std::string_view bytes);

// Fills a task (normally a new one) from one record of kLegacyRecordSize bytes. The include and
// exclude lists and the task number are not taken from the record; IfArhiveExistSync becomes 0.
// The passwords are left in their stored form.
void ReadLegacyRecord(const unsigned char* record, TArhRecord& task);

// Splits the file into records, each filled into a new task with the given defaults. A file whose
// size is not a whole number of records is corrupt: false with a message, and no tasks.
[[nodiscard]] bool ParseLegacyTaskFile(std::string_view bytes, const NewTaskDefaults& defaults,
                                       std::vector<std::unique_ptr<TArhRecord>>& tasks, std::string& error);

// The lines of a list file as the classic string list reads them: split at CR LF, LF or CR, with no
// empty last line for a final line end.
std::vector<std::string> SplitListFileLines(std::string_view text);

// True when the program folder holds ArhTasks.dat and no ArhTasks.bpd exists at `taskFilePath`.
bool LegacyConversionNeeded(const std::string& programFolder, const std::string& taskFilePath);

// Converts ArhTasks.dat in the program folder (with Zentrove.FM1 and Zentrove.FM2) into the empty
// list and writes the list's file. ArhTasks.dat is renamed to ArhTasks.bak only after the new file
// was written completely, so a failed conversion leaves everything as it was. On failure the log
// and the user have been told; in every case the caller ends the program afterwards.
[[nodiscard]] bool ConvertLegacyTaskFile(TArhList& list, const std::string& programFolder,
                                         const NewTaskDefaults& options, std::string* error = nullptr);

}  // namespace zentrove::core
