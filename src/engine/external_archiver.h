#pragma once

// Packing with a command-line archiver described by a configuration file (name + ".EMC" in the
// configuration folder): the parameter template is filled from the task, the include and exclude
// items go into list files beside the archive, the archiver runs as a process of its own, and the
// result is whether the archive exists afterwards.

#include <string>
#include <string_view>
#include <vector>

#include "core/task_record.h"
#include "engine/archiver_config.h"
#include "engine/backup_steps.h"
#include "engine/run_context.h"

namespace zentrove::engine {

class RunEnvironment;

inline constexpr std::string_view kIncludeListExtension = ".IFM";
inline constexpr std::string_view kExcludeListExtension = ".EFM";

// Reads the configuration of that name from the configuration folder. When the file is missing or
// cannot be read, logs Error "Error reading the archiver configuration file" + name + ".EMC" with
// the task number and returns what it could read (empty keys).
TExtArhInfo LoadArchiverConfig(const std::string& name, int taskNumber);
TExtArhInfo LoadArchiverConfig(const std::string& configFolder, const std::string& name, int taskNumber);
// The names of the configurations in the folder (files ending in ".EMC", in any letter case),
// without the extension, sorted.
std::vector<std::string> ArchiverNames(const std::string& configFolder);

// What the parameter template is filled with.
struct ArchiverTemplateValues {
  ZipAction action = ZipAction::Update;
  bool processSubfolders = true;
  int compressMetod = 6;
  std::string tempPath;  // the program option TempPath
  std::string password;  // the task's Password
  // The file holding the password, for "[PasswordFile]"; empty while there is none.
  std::string passwordFilePath;
  bool resetArchiveBit = false;
  bool copyAccessRights = false;
  bool deleteAfterArchiving = false;
  bool onlyArchiveMarked = false;
  std::string zipName;
  int zipPriority = 3;          // the program option ZipPriority
  std::string includeListPath;  // empty when there is no include list file
  std::string excludeListPath;  // empty when there is no exclude list file
};
ArchiverTemplateValues TemplateValuesOf(const RunContext& run, const std::string& includeListPath,
                                        const std::string& excludeListPath);

// The password switch that goes into "[PasswordSW]": PasswordInputSw when the configuration has one,
// else PasswordSw; empty when the task has no password.
std::string PasswordSwitchOf(const TExtArhInfo& config, const ArchiverTemplateValues& values);
// Whether the password switch names "[PasswordFile]", so the run must write the password into a
// private file first.
bool NeedsPasswordFile(const TExtArhInfo& config, const ArchiverTemplateValues& values);

// The filled template. Values that come from outside the configuration (paths, the password) are
// inserted quoted for the place they land in, so that splitting the command line by shell rules
// makes each of them exactly one word whatever blanks or quotation marks it holds. `shown` is the
// same text with the password masked, for log lines. "[Password]" puts the password itself on the
// command line, "[PasswordFile]" the path of the file holding it; with PasswordInputSw the archiver
// reads the password from its standard input (`passwordInput`, the password followed by a line
// end, repeated for archivers that ask again).
struct ArchiverParameters {
  std::string text;
  std::string shown;
  std::string passwordInput;
  // Every local user can read a program's command line.
  bool PasswordOnCommandLine() const { return text != shown; }
};
ArchiverParameters FillArchiverTemplate(const TExtArhInfo& config, const ArchiverTemplateValues& values);

// The path of a list file: the archive name with its extension changed.
std::string ListFilePath(const std::string& zipName, std::string_view extension);
// The contents of a list file: one line per non-empty item, ending in CR LF, "*.*" written as "*"
// (all files, with or without a dot, as everywhere in the program); with listCodePage 1 each line
// is converted to the OEM code page when it can be.
std::string ListFileText(const std::vector<std::string>& items, int listCodePage);

// Runs the archiver for the run's archive. 1 when the archive exists afterwards, else 0. Stores the
// archiver's exit code in run.ExitCode.
int ExternalArchiveRun(RunContext& run, const TExtArhInfo& config);

// Registers the preparation (the configuration is loaded and the extension set at the start of the
// run) and the step of BackupStepKind::ExternalArchiver.
void RegisterExternalArchiverStep(RunEnvironment& environment);

}  // namespace zentrove::engine
