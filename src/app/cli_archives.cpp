#include <algorithm>
#include <ostream>

#include "app/cli_commands.h"
#include "engine/backup_tools.h"
#include "log/log.h"
#include "platform/files.h"

namespace zentrove::app {
namespace {

std::string KindText(engine::BackupKind kind) {
  switch (kind) {
    case engine::BackupKind::Full:
      return "full";
    case engine::BackupKind::Incremental:
      return "incremental";
    case engine::BackupKind::Differential:
      return "differential";
    case engine::BackupKind::Unknown:
      break;
  }
  return "-";
}

struct TaskArguments {
  const core::TArhRecord* task = nullptr;
  std::vector<std::string> rest;  // after the task number
  int exitCode = kExitSuccess;
};

TaskArguments TakeTask(const core::TArhList& list, const std::vector<std::string>& arguments,
                       std::string_view command, std::ostream& err) {
  TaskArguments parsed;
  if (arguments.empty()) {
    parsed.exitCode = UsageError(err, std::string(command) + " needs a task number");
    return parsed;
  }
  const std::optional<int> number = ParseTaskNumber(arguments.front());
  if (!number) {
    parsed.exitCode = UsageError(err, "\"" + arguments.front() + "\" is not a task number");
    return parsed;
  }
  parsed.task = list.FindByNumber(*number);
  if (parsed.task == nullptr) {
    err << "zentrove: task " << *number << " does not exist\n";
    parsed.exitCode = kExitUsage;
  }
  parsed.rest.assign(arguments.begin() + 1, arguments.end());
  return parsed;
}

// The backup a command works on: the one named (a path, or a name among the task's backups), else
// the newest.
std::optional<std::string> ChooseBackup(const core::TArhRecord& task, const std::optional<std::string>& named,
                                        std::ostream& err) {
  const std::vector<engine::BackupItem> backups = engine::ListBackups(task);
  if (!named) {
    if (backups.empty()) {
      err << "zentrove: task " << task.TaskNumber << " has no backups\n";
      return std::nullopt;
    }
    return backups.front().path;
  }
  for (const engine::BackupItem& item : backups) {
    const std::size_t slash = item.path.rfind('/');
    if (item.path == *named || item.path.substr(slash + 1) == *named) return item.path;
  }
  if (platform::Stat(*named).exists) return *named;
  err << "zentrove: no backup \"" << *named << "\" of task " << task.TaskNumber << "\n";
  return std::nullopt;
}

}  // namespace

int ArchivesCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err) {
  TaskArguments parsed = TakeTask(list, arguments, "archives", err);
  if (parsed.task == nullptr) return parsed.exitCode;
  const bool json = std::erase(parsed.rest, "--json") > 0;
  if (!parsed.rest.empty()) return UsageError(err, "archives takes a task number and --json only");
  const std::vector<engine::BackupItem> backups = engine::ListBackups(*parsed.task);
  if (json) {
    out << "[";
    for (std::size_t i = 0; i < backups.size(); ++i) {
      const engine::BackupItem& item = backups[i];
      out << (i == 0 ? "\n  {" : ",\n  {") << "\"path\": " << JsonString(item.path)
          << ", \"destination\": " << JsonString(item.destination)
          << ", \"time\": " << JsonString(log::LogDateTimeText(item.time)) << ", \"size\": " << item.size
          << ", \"folder\": " << (item.isFolder ? "true" : "false")
          << ", \"kind\": " << JsonString(KindText(item.kind)) << "}";
    }
    out << (backups.empty() ? "]\n" : "\n]\n");
    return kExitSuccess;
  }
  if (backups.empty()) {
    out << "No backups of task " << parsed.task->TaskNumber << " found\n";
    return kExitSuccess;
  }
  for (const engine::BackupItem& item : backups) {
    out << log::LogDateTimeText(item.time) << '\t' << item.size << '\t' << KindText(item.kind) << '\t'
        << item.destination << '\t' << item.path << (item.isFolder ? "/" : "") << '\n';
  }
  return kExitSuccess;
}

int VerifyCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                  std::ostream& err) {
  TaskArguments parsed = TakeTask(list, arguments, "verify", err);
  if (parsed.task == nullptr) return parsed.exitCode;
  if (parsed.rest.size() > 1) return UsageError(err, "verify takes a task number and at most one backup");
  const std::optional<std::string> named =
      parsed.rest.empty() ? std::nullopt : std::optional<std::string>(parsed.rest.front());
  const std::optional<std::string> backup = ChooseBackup(*parsed.task, named, err);
  if (!backup) return named ? kExitUsage : kExitFailure;
  const engine::VerifyResult result = engine::VerifyBackup(*parsed.task, *backup);
  if (!result.sound) {
    out << "DAMAGED " << *backup << "\n" << result.damage << "\n";
    return kExitFailure;
  }
  out << "OK " << *backup << " (" << result.checked << " checked)\n";
  return kExitSuccess;
}

int RestoreCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                   std::ostream& err) {
  TaskArguments parsed = TakeTask(list, arguments, "restore", err);
  if (parsed.task == nullptr) return parsed.exitCode;
  engine::RestoreRequest request;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < parsed.rest.size(); ++i) {
    const std::string& argument = parsed.rest[i];
    if (argument == "--to") {
      if (i + 1 == parsed.rest.size()) return UsageError(err, "--to needs a folder");
      request.folder = parsed.rest[++i];
    } else if (argument == "--overwrite") {
      request.existing = engine::zip::ExistingFiles::Overwrite;
    } else {
      positional.push_back(argument);
    }
  }
  if (request.folder.empty()) return UsageError(err, "restore needs --to FOLDER");
  // The first word names a backup when it is one; every other word is a pattern.
  std::optional<std::string> named;
  if (!positional.empty()) {
    for (const engine::BackupItem& item : engine::ListBackups(*parsed.task)) {
      const std::string& first = positional.front();
      if (item.path == first || item.path.substr(item.path.rfind('/') + 1) == first) named = first;
    }
    if (!named && platform::Stat(positional.front()).exists) named = positional.front();
    if (named) positional.erase(positional.begin());
  }
  request.patterns = positional;
  const std::optional<std::string> backup = ChooseBackup(*parsed.task, named, err);
  if (!backup) return kExitFailure;
  request.backupPath = *backup;
  const engine::RestoreResult result = engine::RestoreBackup(*parsed.task, request);
  if (!result.openError.empty()) {
    err << "zentrove: " << result.openError << '\n';
    return kExitFailure;
  }
  const engine::zip::ExtractReport& report = result.report;
  for (const engine::zip::ExtractedEntry& entry : report.Entries) {
    if (entry.Status == engine::zip::ExtractStatus::Restored) continue;
    const char* what = entry.Status == engine::zip::ExtractStatus::Kept      ? "kept"
                       : entry.Status == engine::zip::ExtractStatus::Refused ? "refused"
                                                                             : "failed";
    err << "zentrove: " << what << ": " << entry.Name << ": " << entry.Message << '\n';
  }
  out << "Restored " << report.Count(engine::zip::ExtractStatus::Restored) << " of " << report.Entries.size()
      << " entries (" << report.RestoredBytes() << " bytes) from " << *backup << " into " << request.folder
      << "\n";
  if (report.Entries.empty()) {
    err << "zentrove: nothing in the backup matches\n";
    return kExitFailure;
  }
  return report.Ok() ? kExitSuccess : kExitFailure;
}

}  // namespace zentrove::app
