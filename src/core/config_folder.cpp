#include "core/config_folder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "base/regional_format.h"
#include "base/text.h"
#include "core/legacy_task_file.h"
#include "core/task_list.h"
#include "core/version.h"
#include "log/log.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/instance.h"
#include "platform/process.h"
#include "platform/signals.h"

namespace zentrove::core {
namespace {

namespace fs = std::filesystem;

std::mutex g_flagsMutex;
StartFlags g_flags;

constexpr std::string_view kBackupSuffix = ".bak";
bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

}  // namespace

// ---- Start flags ----

bool IsStartSwitch(std::string_view argument) {
  const std::string lower = base::ToLowerAscii(argument);
  return lower == kServiceSwitch || lower == kLocalConfigSwitch;
}

StartFlags ReadStartFlags(const std::vector<std::string>& arguments) {
  StartFlags flags;
  for (const std::string& argument : arguments) {
    const std::string lower = base::ToLowerAscii(argument);
    if (lower == kServiceSwitch) flags.ServiceMode = true;
    if (lower == kLocalConfigSwitch) flags.LocalConfig = true;
  }
  return flags;
}

void SetStartFlags(StartFlags flags) {
  std::lock_guard lock(g_flagsMutex);
  g_flags = flags;
}

StartFlags CurrentStartFlags() {
  std::lock_guard lock(g_flagsMutex);
  return g_flags;
}

bool ServiceMode() {
  return CurrentStartFlags().ServiceMode;
}
bool LocalConfig() {
  return CurrentStartFlags().LocalConfig;
}

// ---- Folders ----

std::string ProgramFolder() {
  return platform::ProgramFolder();
}

std::string ResolveConfigFolder(bool localConfig, const std::string& programFolder,
                                const std::string& baseFolder) {
  if (localConfig || baseFolder.empty()) return programFolder;
  try {
    std::error_code error;
    const fs::path folder = fs::absolute(baseFolder, error);
    if (error) return programFolder;
    if (!fs::is_directory(folder, error)) {
      if (!fs::create_directories(folder, error) || error) return programFolder;
      // The folder holds the scrambled passwords of the tasks and options.
      fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, error);
    }
    return platform::WithTrailingSlash(folder.lexically_normal().string());
  } catch (...) {
    return programFolder;
  }
}

std::string ConfigFolder() {
  const std::string programFolder = ProgramFolder();
  try {
    return ResolveConfigFolder(LocalConfig(), programFolder, platform::ConfigBaseFolder());
  } catch (...) {
    return programFolder;
  }
}

// ---- Migration ----

bool IsMigratedFileName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot);
  return extension == ".bpd" || extension == ".log" || extension == ".ini" || extension == ".bdy" ||
         extension == ".emc";
}

bool MigrationNeeded(const std::string& programFolder, const std::string& configFolder) {
  if (programFolder == configFolder) return false;
  return FileExists(programFolder + kTaskFileName) && !FileExists(configFolder + kTaskFileName);
}

std::vector<std::string> MoveConfigurationFiles(const std::string& programFolder,
                                                const std::string& configFolder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(programFolder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (IsMigratedFileName(name)) names.push_back(name);
  }
  // The task list goes last: its presence in the configuration folder ends the migration for good,
  // so a start that is cut short moves the rest the next time.
  std::stable_partition(names.begin(), names.end(),
                        [](const std::string& name) { return name != kTaskFileName; });

  std::vector<std::string> moved;
  for (const std::string& name : names) {
    const std::string source = programFolder + name;
    std::error_code copyError;
    if (!fs::is_regular_file(source, copyError)) continue;
    fs::copy_file(source, configFolder + name, fs::copy_options::overwrite_existing, copyError);
    if (copyError) continue;
    std::error_code renameError;
    fs::rename(source, source + std::string(kBackupSuffix), renameError);
    moved.push_back(name);
  }
  return moved;
}

std::string MigrationMessage(const std::string& configFolder) {
  return "Old version of Zentrove is detected.\n\rAll configuration files are moved to: \n\r" + configFolder;
}

bool MigrateOldInstallation(const std::string& programFolder, const std::string& configFolder,
                            UserInterface* ui) {
  try {
    if (!MigrationNeeded(programFolder, configFolder)) return false;
    MoveConfigurationFiles(programFolder, configFolder);
    if (ui != nullptr)
      ui->ShowMessage(kMigrationTitle, MigrationMessage(configFolder), MessageIcon::Information);
    return true;
  } catch (...) {
    return false;
  }
}

// ---- Memory ----

bool WorkingSetNeedsTrim(std::optional<std::uint64_t> residentBytes) {
  return residentBytes.value_or(kWorkingSetTrimThreshold + 1) > kWorkingSetTrimThreshold;
}

void TrimWorkingSet() {
  try {
    if (WorkingSetNeedsTrim(platform::ResidentSetBytes())) platform::TrimMemory();
  } catch (...) {
  }
}

}  // namespace zentrove::core
