#pragma once

// The backup step of the built-in ZIP archiver: configures the ZIP writer from the task, connects
// its hooks to the run (progress, per-file log, locked files, messages), writes a new archive under
// a temporary name or updates an existing one in place, tests it when asked, renames it to its final
// name, and only then clears the archive marks of the files it took and deletes the sources.

#include <cstdint>
#include <string>

#include "core/task_record.h"
#include "engine/backup_steps.h"
#include "engine/run_context.h"
#include "engine/zip/zip_types.h"

namespace zentrove::engine {

class RunEnvironment;

// The writer's action for the run's action.
zip::ZipAction WriterActionOf(ZipAction action);

// The writer's settings for a run of the task: the level from CompressMetod, the password and its
// encryption strength (only when a password is set), OEM names, the action and the temporary folder.
zip::ZipSettings ZipSettingsOf(const core::TArhRecord& task, ZipAction action, const std::string& tempPath);

// Where a new archive is written before it gets its final name: "~" + task number + the final
// name's extension, in the final name's folder ("/backup/Work20240305.zip", 1004 ->
// "/backup/~1004.zip").
std::string TemporaryArchiveName(const std::string& finalName, int taskNumber);

// "ZIP start: Files=" + count + " TotalKBBytes=" + whole kilobytes.
std::string ZipStartInfoText(std::uint64_t fileCount, std::uint64_t totalBytes);

// The Warning text of a writer message: the writer's text (or the text for the id when it gave
// none) followed by "[" + detail + "]".
std::string ZipMessageText(int id, const std::string& text, const std::string& detail);

// Tests every entry of the archive with the task's password, with the run's progress and stop
// handling, and logs "ZIP archive check START" and then "Check OK" or "Check ERROR" (a stopped test
// logs neither of the two).
enum class ArchiveCheck { Passed, Failed, Stopped };
ArchiveCheck CheckArchive(RunContext& run, const std::string& path);

// The built-in ZIP step for the job runner. s: the archive exists under run.ZipName (the final name
// unless a stop left the temporary one); r: the number of files added. A writer failure throws with
// the writer's error text; a failed test sets the run's error text to "ZIP archive CHECK ERROR".
StepResult RunZipStep(RunContext& run);

// Registers RunZipStep as the step of BackupStepKind::BuiltInZip.
void RegisterZipStep(RunEnvironment& environment);

}  // namespace zentrove::engine
