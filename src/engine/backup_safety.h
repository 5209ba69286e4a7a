#pragma once

// The rules that keep a finished backup from being lost: a new backup is written completely under a
// scratch name before the old one is discarded, leftovers of killed runs are removed only when our
// own scheme made them, discarded backups take no more than a share of the trash, and the rotation
// of incremental tasks keeps the full archive the later ones depend on.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/task_record.h"
#include "engine/backup_steps.h"
#include "engine/run_context.h"
#include "platform/result.h"

namespace zentrove::engine {

// What a run backs up, decided by the archive-attribute settings of its task.
// Unknown: an archive that records no kind (older ones, those of external archivers, folders).
enum class BackupKind { Unknown, Full, Incremental, Differential };
BackupKind BackupKindOf(const core::TArhRecord& task);

// The ZIP comment that records the kind of backup an archive holds ("Zentrove backup: full",
// "... incremental", "... differential").
std::string BackupKindComment(BackupKind kind);
// The kind an archive records; none for an archive without the record (older archives, those of
// external archivers, folders of the copy mode, anything that cannot be read).
std::optional<BackupKind> RecordedBackupKind(const std::string& path);

// Discards an old backup: to the trash (marked as ours, then the trash limit is kept) when the
// option DeleteinRecucledBin is on, otherwise deleted for good. True on success.
bool DiscardBackup(const std::string& path, int taskNumber);
// Purges our trashed backups of one trash folder, oldest first, until they take at most
// `limitBytes`; a warning line names each. Items other programs trashed are never touched.
void KeepTrashLimit(const std::string& trashFolder, std::uint64_t limitBytes, int taskNumber);

// Puts a complete backup folder at `scratch` in the place of the folder `finalName`: the old one is
// moved to an aside name (AsideNameOf) first and goes (deleted, or discarded with DiscardBackup)
// only once the new one stands under the final name, so at every moment one complete backup has the
// final name or the aside name, from where the next run brings it back.
enum class OldCopy { Delete, Discard };
std::string AsideNameOf(const std::string& path);
[[nodiscard]] platform::Status ReplaceFolder(const std::string& scratch, const std::string& finalName,
                                             OldCopy old, int taskNumber);

// A scratch backup folder holds this file while it is built, so a leftover folder at a scratch name
// can be told from one the user put there.
inline constexpr const char* kScratchFolderMark = ".zentrove-scratch";
// The scratch name a new or replacing backup is built under before it takes `finalName`: for an
// archive "~" + task number + its extension, for a copy-mode folder the name with ".~tm" in place of
// its extension.
std::string BackupScratchPath(const std::string& finalName, int taskNumber, bool folder);
// Creates a scratch backup folder with its mark.
[[nodiscard]] platform::Status CreateScratchFolder(const std::string& path);
// Whether the path is a leftover that our scheme made: a regular file with a scratch name, or a
// folder with a scratch name that holds the mark or nothing at all. A missing path is not.
bool IsOwnScratch(const std::string& path);
// Removes the path when IsOwnScratch; a path that is missing counts as removed. False (and nothing
// touched) when something else is at that name.
bool RemoveOwnScratch(const std::string& path);

// Makes way for a new scratch copy: removes a leftover of ours at the path. When something else is
// there, logs Error "The backup cannot be written, because the scratch name is taken: " + path,
// which becomes the run's error text, and returns false.
bool ClearScratchName(RunContext& run, const std::string& path);

// Puts the complete new backup at `scratch` in the place of `finalName`. The scratch copy is flushed
// first; an old backup of that name is then discarded (DiscardBackup) or replaced in one rename.
// On failure logs Error "The archive file cannot be renamed to " + final name + the error code,
// which becomes the run's error text, and leaves the old backup where it was whenever it still is.
bool PutNewBackupInPlace(RunContext& run, const std::string& scratch, const std::string& finalName);

// A backup step that writes under a scratch name: the run's ZipName points at the scratch name
// while the step runs and at the final name again afterwards.
class ScratchBackup {
 public:
  ScratchBackup() = default;
  // Clears the scratch name (ClearScratchName) and, for a folder, creates it with its mark; a
  // ScratchBackup that has not started when that fails.
  static ScratchBackup Begin(RunContext& run, bool folder);
  bool Started() const { return run_ != nullptr; }
  // Runs the step; when it throws, the scratch copy is removed and the final name restored first.
  StepResult Run(const std::function<StepResult()>& step) const;
  // With `complete`, puts the scratch copy in place (PutNewBackupInPlace); otherwise, or when that
  // fails, removes it. True when the new backup stands under the final name.
  bool Finish(bool complete) const;

 private:
  RunContext* run_ = nullptr;
  std::string final_;
  std::string scratch_;
};

// Removes the leftovers of earlier, killed runs of the task from a folder it writes to: scratch
// files named for this task (its numbered archive, and names that start with `prefix`, or its last
// part with dated subfolders, and carry the scratch extension) and its scratch folders (IsOwnScratch);
// a backup folder moved aside and never replaced takes its name back, and a complete one loses a mark
// left in it. Runs only while no other run of the task is alive: the worker holds the task's run lock.
void RemoveLeftoverScratch(const std::string& folder, const std::string& prefix, int taskNumber);
// Removes the per-file scratch files (".NAME.N.~tm") that killed copies left anywhere in a mirror.
void RemoveMirrorScratch(const std::string& backupFolder, int taskNumber);

}  // namespace zentrove::engine
