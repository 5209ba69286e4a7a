#pragma once

// Looking after the backups a task has made: listing them, testing them and restoring from them.
// These work on the destinations as they are, outside any run, and never change a backup.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "core/task_record.h"
#include "engine/backup_safety.h"
#include "engine/zip/zip_extract.h"

namespace zentrove::engine {

struct BackupItem {
  std::string path;
  std::string destination;   // "main", "extra 1", "extra 2", "extra 3"
  base::TDateTime time = 0;  // last write, local
  std::uint64_t size = 0;    // of a folder: of every file in it
  bool isFolder = false;
  BackupKind kind = BackupKind::Unknown;
};

// The extension of the task's backups: ".zip", "." + the external archiver's extension, or none
// in copy mode.
std::string BackupExtensionOf(const core::TArhRecord& task);

// The backups of the task at its main folder and its extra folders, as the rotation finds them
// (with dated subfolders: in the subfolder the current moment names), newest first. Nothing for the
// FTP mode, whose backups are on the server.
std::vector<BackupItem> ListBackups(const core::TArhRecord& task);

struct VerifyResult {
  bool sound = false;
  std::size_t checked = 0;  // entries or files looked at
  std::string damage;       // the first damage found, named
};

// Tests a built-in ZIP archive as the archive test after a run does, with the task's password; a
// copy-mode backup folder by comparing every copied file's size and time with its source (a source
// missing from a full backup counts as damage). Other archives cannot be tested.
VerifyResult VerifyBackup(const core::TArhRecord& task, const std::string& backupPath);

struct RestoreRequest {
  std::string backupPath;
  std::string folder;
  std::vector<std::string> patterns;  // masks on the stored names; all when empty
  zip::ExistingFiles existing = zip::ExistingFiles::Keep;
  const std::atomic<bool>* cancelFlag = nullptr;
};

struct RestoreResult {
  std::string openError;  // the backup could not be read at all
  zip::ExtractReport report;
};

// Extracts a ZIP backup (with the task's password) or copies a copy-mode backup folder into the
// folder, never outside it.
RestoreResult RestoreBackup(const core::TArhRecord& task, const RestoreRequest& request);

}  // namespace zentrove::engine
