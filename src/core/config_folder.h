#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/user_interface.h"

namespace zentrove::core {

// ---- Start flags ----

inline constexpr std::string_view kServiceSwitch = "service";
inline constexpr std::string_view kLocalConfigSwitch = "localcfg";

// Set once from the command line, before anything else reads them.
struct StartFlags {
  bool ServiceMode = false;  // started by the service unit: no dialogs, survives the log-off
  bool LocalConfig = false;  // the configuration lives in the program folder
};

// True for "service" and "localcfg" in any case; arguments are compared whole.
bool IsStartSwitch(std::string_view argument);
// Looks at every argument, the program path at index 0 included; unknown arguments are ignored.
StartFlags ReadStartFlags(const std::vector<std::string>& arguments);
void SetStartFlags(StartFlags flags);
StartFlags CurrentStartFlags();
bool ServiceMode();
bool LocalConfig();

// ---- Folders ----

// The folder of the running program, with a trailing "/".
std::string ProgramFolder();
// Where every configuration file lives, absolute and with a trailing "/": the program folder with
// localcfg, otherwise the configuration base folder, created with its parents when missing. It never
// fails: any problem yields the program folder.
std::string ConfigFolder();
// The rule of ConfigFolder with its inputs given.
std::string ResolveConfigFolder(bool localConfig, const std::string& programFolder,
                                const std::string& baseFolder);

// ---- Moving an older installation's configuration ----

inline constexpr std::string_view kMigrationTitle = "Attention";

// True for a name whose extension is exactly ".bpd", ".log", ".ini", ".bdy" or ".emc" (lower case).
bool IsMigratedFileName(std::string_view name);
// The folders differ, the program folder holds ArhTasks.bpd and the configuration folder does not.
bool MigrationNeeded(const std::string& programFolder, const std::string& configFolder);
// Copies every file of the program folder with a migrated extension into the configuration folder
// (overwriting) and renames the original to its name + ".bak". A file whose copy fails keeps its name,
// so nothing ends up in neither place. Returns the names that were moved.
std::vector<std::string> MoveConfigurationFiles(const std::string& programFolder,
                                                const std::string& configFolder);
std::string MigrationMessage(const std::string& configFolder);
// The whole step: when MigrationNeeded, moves the files and tells `ui` (none in service mode: pass
// nullptr). True when the migration ran. Errors are ignored.
bool MigrateOldInstallation(const std::string& programFolder, const std::string& configFolder,
                            UserInterface* ui);

// ---- Memory ----

inline constexpr std::uint64_t kWorkingSetTrimThreshold = 11'000'000;
// An unreadable size counts as just above the threshold.
bool WorkingSetNeedsTrim(std::optional<std::uint64_t> residentBytes);
// Hands freed memory back to the system when the process is large; the dispatcher calls it while the
// program is idle. Errors are ignored.
void TrimWorkingSet();

}  // namespace zentrove::core
