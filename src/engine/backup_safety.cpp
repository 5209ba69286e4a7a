#include "engine/backup_safety.h"

#include <cerrno>
#include <vector>

#include "base/text.h"
#include "core/options.h"
#include "engine/engine_ops.h"
#include "engine/source_selection.h"
#include "engine/zip/zip_reader.h"
#include "log/log.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/scratch.h"
#include "platform/trash.h"

namespace zentrove::engine {
namespace {

using log::AddLogLine;
using log::LogLevel;

constexpr std::string_view kCommentStart = "Zentrove backup: ";
constexpr std::string_view kScratchExtension = ".~tm";
constexpr std::string_view kAsideExtension = ".~old";

// Flushes the new backup before anything old goes: a file by itself, a tree by flushing its file
// system.
bool FlushBackup(const std::string& path, bool folder) {
  if (folder) return platform::SyncFileSystem(path).Ok();
  auto file = platform::File::Open(path);
  return file && file->Sync().Ok();
}

bool BelongsToTask(std::string_view name, const std::string& prefix, int taskNumber) {
  if (!platform::IsScratchName(name)) return false;
  const std::string numbered = "~" + std::to_string(taskNumber);
  if (name.substr(0, numbered.size()) == numbered &&
      (name.size() == numbered.size() || name[numbered.size()] == '.')) {
    return true;
  }
  // "NAME.~tm": the scratch copy of a backup whose name starts with the task's prefix.
  return name.front() != '.' && base::EndsWith(name, kScratchExtension) &&
         base::EqualsNoCase(name.substr(0, std::min(prefix.size(), name.size())), prefix);
}

void LogRemoved(int taskNumber, const std::string& path) {
  AddLogLine(LogLevel::Information, taskNumber, "A scratch file of an interrupted run was removed: " + path);
}

void RemoveCountedScratch(const std::string& folder, int taskNumber) {
  auto entries = platform::ListFolder(folder);
  if (!entries) return;
  for (const platform::FolderEntry& entry : *entries) {
    const std::string path = folder + "/" + entry.name;
    if (entry.kind == platform::FileKind::Folder) {
      RemoveCountedScratch(path, taskNumber);
    } else if (entry.kind == platform::FileKind::File && entry.name.front() == '.' &&
               base::EndsWith(entry.name, kScratchExtension) && platform::IsScratchName(entry.name)) {
      if (platform::RemoveFile(path)) LogRemoved(taskNumber, path);
    }
  }
}

// Keeps the limit of the option TrashLimitPercent in the trash folder that just received a backup.
void KeepTrashLimitOf(const std::string& trashFolder, int taskNumber) {
  const std::int32_t percent = core::CurrentOptions()->TrashLimitPercent;
  if (percent <= 0 || trashFolder.empty()) return;
  if (const auto size = platform::FileSystemBytes(trashFolder)) {
    KeepTrashLimit(trashFolder, *size / 100 * static_cast<std::uint64_t>(percent), taskNumber);
  }
}

// Replaces an old archive file by the new one: the trash gets the old one under a second name
// first, so that the final name changes from the old archive to the new one in one rename.
platform::Status ReplaceFile(const std::string& scratch, const std::string& finalName, int taskNumber) {
  const auto replace = [&] {
    return platform::MoveScratchInPlace(scratch, finalName, platform::Replace::Yes, platform::Flush::Yes);
  };
  if (!core::CurrentOptions()->DeleteinRecucledBin) return replace();
  const std::string trash = platform::TrashFolderFor(finalName);
  if (platform::LinkIntoTrash(finalName, platform::TrashMark::Backup)) {
    platform::Status placed = replace();
    if (placed) KeepTrashLimitOf(trash, taskNumber);
    return placed;
  }
  // A file system without hard links: the old archive goes to the trash as a whole first.
  if (!DiscardBackup(finalName, taskNumber))
    return platform::Status::FromErrno(errno == 0 ? EACCES : errno, finalName);
  return platform::MoveScratchInPlace(scratch, finalName, platform::Replace::OnlyWhenFree,
                                      platform::Flush::Yes);
}

}  // namespace

void KeepTrashLimit(const std::string& trashFolder, std::uint64_t limitBytes, int taskNumber) {
  auto backups = platform::ListTrashedBackups(trashFolder);
  if (!backups) return;
  std::uint64_t total = 0;
  for (const platform::TrashedBackup& backup : *backups)
    total += backup.bytes;
  for (const platform::TrashedBackup& backup : *backups) {
    if (total <= limitBytes) break;
    if (const platform::Status purged = platform::PurgeTrashed(trashFolder, backup.name); !purged) {
      AddLogLine(LogLevel::Error, taskNumber,
                 "The old backup cannot be deleted from the trash: " + trashFolder + "/files/" + backup.name +
                     " " + ErrorCodeSuffix(purged.Code()));
      continue;
    }
    total -= backup.bytes;
    AddLogLine(LogLevel::Warning, taskNumber,
               "Old backups take more than their share of the trash, deleted for good: " + trashFolder +
                   "/files/" + backup.name + " (" + backup.deletionDate + ")");
  }
}

std::string AsideNameOf(const std::string& path) {
  return WithoutTrailingSlash(path) + std::string(kAsideExtension);
}

platform::Status ReplaceFolder(const std::string& scratch, const std::string& finalName, OldCopy old,
                               int taskNumber) {
  if (!PathExists(finalName)) {
    return platform::MoveScratchInPlace(scratch, finalName, platform::Replace::OnlyWhenFree,
                                        platform::Flush::Yes);
  }
  const std::string aside = AsideNameOf(finalName);
  if (PathExists(aside) && !DeleteFileOrTree(aside)) return platform::Status::FromErrno(EEXIST, aside);
  if (platform::Status moved = platform::Rename(finalName, aside); !moved) return moved;
  platform::Status placed =
      platform::MoveScratchInPlace(scratch, finalName, platform::Replace::OnlyWhenFree, platform::Flush::Yes);
  if (!placed) {
    (void)platform::Rename(aside, finalName);
    return placed;
  }
  const bool gone = old == OldCopy::Discard ? DiscardBackup(aside, taskNumber) : DeleteFileOrTree(aside);
  if (!gone) AddLogLine(LogLevel::Error, taskNumber, "The file cannot be deleted : " + aside);
  return platform::Status::Success();
}

BackupKind BackupKindOf(const core::TArhRecord& task) {
  if (!task.SkipIfArchiveBitNotSet) return BackupKind::Full;
  return task.ResetArchiveBitOnZip ? BackupKind::Incremental : BackupKind::Differential;
}

std::string BackupKindComment(BackupKind kind) {
  switch (kind) {
    case BackupKind::Incremental:
      return std::string(kCommentStart) + "incremental";
    case BackupKind::Differential:
      return std::string(kCommentStart) + "differential";
    case BackupKind::Full:
    case BackupKind::Unknown:
      break;
  }
  return std::string(kCommentStart) + "full";
}

std::optional<BackupKind> RecordedBackupKind(const std::string& path) {
  if (!IsExistingFile(path)) return std::nullopt;
  zip::ZipError error;
  const auto reader = zip::ZipReader::Open(path, error);
  if (!reader) return std::nullopt;
  for (const BackupKind kind : {BackupKind::Full, BackupKind::Incremental, BackupKind::Differential}) {
    if (reader->Comment() == BackupKindComment(kind)) return kind;
  }
  return std::nullopt;
}

bool DiscardBackup(const std::string& path, int taskNumber) {
  if (!core::CurrentOptions()->DeleteinRecucledBin) return DeleteFileOrTree(path);
  const std::string target = WithoutTrailingSlash(path);
  if (target.empty() || target == "/") return false;
  const std::string trash = platform::TrashFolderFor(target);
  if (!platform::MoveToTrash(target, platform::TrashMark::Backup)) return false;
  KeepTrashLimitOf(trash, taskNumber);
  return true;
}

std::string BackupScratchPath(const std::string& finalName, int taskNumber, bool folder) {
  return folder ? platform::ScratchPathFor(finalName, platform::ScratchShape::ReplacedExtension)
                : platform::ScratchPathFor(finalName, platform::ScratchShape::Numbered,
                                           static_cast<unsigned>(taskNumber));
}

platform::Status CreateScratchFolder(const std::string& path) {
  const std::string folder = WithoutTrailingSlash(path);
  if (platform::Status created = platform::CreateFolder(folder); !created) return created;
  platform::OpenOptions options;
  options.access = platform::Access::Write;
  options.creation = platform::Creation::CreateNew;
  options.mode = 0600;
  auto mark = platform::File::Open(folder + "/" + kScratchFolderMark, options);
  return mark ? mark->Close() : mark.GetStatus();
}

bool IsOwnScratch(const std::string& path) {
  const std::string target = WithoutTrailingSlash(path);
  if (!platform::IsScratchName(NamePart(target))) return false;
  const platform::FileInfo info = platform::Stat(target);
  if (info.kind == platform::FileKind::File) return true;
  if (info.kind != platform::FileKind::Folder) return false;
  // A folder killed before it got its mark is still empty: removing it loses nothing.
  const auto entries = platform::ListFolder(target);
  return (entries && entries->empty()) ||
         platform::Stat(target + "/" + kScratchFolderMark).kind == platform::FileKind::File;
}

bool RemoveOwnScratch(const std::string& path) {
  const std::string target = WithoutTrailingSlash(path);
  const platform::FileInfo info = platform::Stat(target);
  if (!info.exists) return true;
  if (!IsOwnScratch(target)) return false;
  return info.kind == platform::FileKind::Folder ? DeleteFileOrTree(target)
                                                 : platform::RemoveFile(target).Ok();
}

bool ClearScratchName(RunContext& run, const std::string& path) {
  if (RemoveOwnScratch(path)) return true;
  const std::string text = "The backup cannot be written, because the scratch name is taken: " + path;
  AddLogLine(LogLevel::Error, run.Task.TaskNumber, text);
  run.ErrorText = text;
  return false;
}

bool PutNewBackupInPlace(RunContext& run, const std::string& scratch, const std::string& finalName) {
  const int number = run.Task.TaskNumber;
  const std::string target = WithoutTrailingSlash(finalName);
  const bool folder = IsExistingFolder(scratch);
  const platform::FileInfo old = platform::Stat(target);
  platform::Status placed = platform::Status::Success();
  if (!FlushBackup(scratch, folder)) {
    placed = platform::Status::FromErrno(errno == 0 ? EIO : errno, scratch);
  } else if (!old.exists) {
    placed =
        platform::MoveScratchInPlace(scratch, target, platform::Replace::OnlyWhenFree, platform::Flush::Yes);
  } else if (old.kind == platform::FileKind::Folder) {
    placed = ReplaceFolder(scratch, target, OldCopy::Discard, number);
  } else {
    placed = ReplaceFile(scratch, target, number);
  }
  if (placed) return true;
  const std::string text =
      "The archive file cannot be renamed to " + target + " " + ErrorCodeSuffix(placed.Code());
  AddLogLine(LogLevel::Error, number, text);
  run.ErrorText = text;
  return false;
}

ScratchBackup ScratchBackup::Begin(RunContext& run, bool folder) {
  ScratchBackup backup;
  backup.final_ = run.ZipName;
  backup.scratch_ = BackupScratchPath(WithoutTrailingSlash(backup.final_), run.Task.TaskNumber, folder);
  if (!ClearScratchName(run, backup.scratch_)) return ScratchBackup{};
  if (const platform::Status created =
          folder ? CreateScratchFolder(backup.scratch_) : platform::Status::Success();
      !created) {
    const std::string text =
        "The backup folder cannot be created: " + backup.scratch_ + " " + ErrorCodeSuffix(created.Code());
    AddLogLine(LogLevel::Error, run.Task.TaskNumber, text);
    run.ErrorText = text;
    return ScratchBackup{};
  }
  backup.run_ = &run;
  run.ZipName = folder ? WithTrailingSlash(backup.scratch_) : backup.scratch_;
  run.ScratchName = backup.scratch_;
  run.FinalName = WithoutTrailingSlash(backup.final_);
  return backup;
}

StepResult ScratchBackup::Run(const std::function<StepResult()>& step) const {
  if (!run_) return step();
  try {
    return step();
  } catch (...) {
    (void)Finish(false);
    throw;
  }
}

bool ScratchBackup::Finish(bool complete) const {
  if (!run_) return complete;
  run_->ZipName = final_;
  run_->ScratchName.clear();
  run_->FinalName.clear();
  if (complete && PutNewBackupInPlace(*run_, scratch_, final_)) {
    (void)platform::RemoveFile(WithoutTrailingSlash(final_) + "/" + kScratchFolderMark);
    return true;
  }
  if (PathExists(scratch_)) (void)DeleteFileOrTree(scratch_);
  return false;
}

void RemoveLeftoverScratch(const std::string& folder, const std::string& fullPrefix, int taskNumber) {
  // With dated subfolders the names in the backup's own folder start with the prefix's last part.
  const std::size_t separator = fullPrefix.find_last_of("\\/");
  const std::string prefix = separator == std::string::npos ? fullPrefix : fullPrefix.substr(separator + 1);
  const std::string base = WithoutTrailingSlash(folder);
  auto entries = platform::ListFolder(base);
  if (!entries) return;
  for (const platform::FolderEntry& entry : *entries) {
    const std::string path = base + "/" + entry.name;
    const bool ownFolder =
        entry.kind == platform::FileKind::Folder &&
        base::EqualsNoCase(std::string_view(entry.name).substr(0, std::min(prefix.size(), entry.name.size())),
                           prefix);
    if (ownFolder && base::EndsWith(entry.name, kAsideExtension)) {
      // A backup folder moved aside by a replacement that was killed before it ended.
      const std::string original = path.substr(0, path.size() - kAsideExtension.size());
      if (!PathExists(original)) (void)platform::Rename(path, original);
      continue;
    }
    if (ownFolder && !platform::IsScratchName(entry.name)) {
      // A folder takes its final name only when complete; a kill right after that may leave its mark.
      const std::string mark = path + "/" + kScratchFolderMark;
      if (platform::Stat(mark).kind == platform::FileKind::File) (void)platform::RemoveFile(mark);
      continue;
    }
    if (!BelongsToTask(entry.name, prefix, taskNumber) || !IsOwnScratch(path)) continue;
    if (RemoveOwnScratch(path)) LogRemoved(taskNumber, path);
  }
}

void RemoveMirrorScratch(const std::string& backupFolder, int taskNumber) {
  RemoveCountedScratch(WithoutTrailingSlash(backupFolder), taskNumber);
}

}  // namespace zentrove::engine
