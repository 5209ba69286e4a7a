#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "engine/backup_safety.h"
#include "engine/backup_steps.h"
#include "engine/run_context.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::engine {

// ---------------------------------------------------------------------------------------------
// Copies to extra folders

// The scratch name a copy to an extra folder is written under before it replaces `destination`:
// the destination with its extension changed to ".~tm" (Work20240305.zip -> Work20240305.~tm,
// Docs20240305 -> Docs20240305.~tm).
std::string ScratchNameOf(const std::string& destination);

// Copies the finished archive (a file) or, in copy mode, the finished backup folder to
// `destination`. The copy is always written under ScratchNameOf(destination), flushed to disk and
// only then put in place, so an existing copy of the same name is replaced only by a complete one
// and a failed or interrupted copy never leaves a damaged archive under the final name. Logs
// "Starting copy process to directory: ". True when the destination holds the new copy.
bool CopyArchiveTo(const std::string& source, const std::string& destination, RunContext& run);

// Copies one file's bytes in chunks of at most 61440 bytes, with the locked-file handling of the
// source and the run's progress after every chunk; the copy takes the source's times, attributes
// and, with CopyAccessRights, its access rights. A symbolic link is copied as a link. A source
// skipped at the locked-file prompt counts as copied. True when the destination exists afterwards.
bool CopyFileData(RunContext& run, const std::string& source, const std::string& destination);
// Copies a folder tree with CopyFileData; symbolic links are copied as links and never followed.
// Both paths end with "/". The first failure ends the copy; true when everything was copied.
bool CopyTree(RunContext& run, const std::string& sourceFolder, const std::string& destinationFolder);

// The sum of the sizes of all files in a tree; links count with nothing, as they are copied (and
// uploaded) as links or not at all.
std::uint64_t TreeSize(const std::string& folder);

// The extra folders Target2, Target3 and Target4 with their rotation (the distribution step).
StepResult CopyToExtraFolders(RunContext& run, StepResult current);

// ---------------------------------------------------------------------------------------------
// Rotation

enum class DepthUnit : int { Archives = 0, Days = 1, Months = 2 };

// One rotation candidate: its name in the searched folder and its last-write time (local, at the
// two-second resolution of FAT dates).
struct ListRec {
  std::string name;
  base::TDateTime time = 0;
};

// The folder and the name pattern that a rotation searches: names that start with `stem` and end
// with `extension`, ASCII letter case ignored. With dated subfolders (a "\" or "/" in the prefix, a
// "\" in the date format) the folder is the one that holds the newest backup.
struct RotationPattern {
  std::string searchFolder;  // without a trailing "/"
  std::string stem;
  std::string extension;
};
RotationPattern RotationPatternOf(const std::string& folder, const std::string& prefix,
                                  const std::string& extension, const std::string& dateFormat,
                                  const std::string& newestPath);
bool MatchesRotationPattern(const RotationPattern& pattern, const std::string& name);
// The backups a rotation sees: the entries of the search folder that match the pattern, newest
// first by their last-write time. Empty when the folder cannot be listed.
std::vector<ListRec> FindBackups(const RotationPattern& pattern);

// The moment before which a backup is too old for a depth in days or months: `now` minus `depth`
// days, or the same moment `depth` calendar months earlier with the day cut back to the end of a
// shorter month. 0 (none) for depth in archives and unknown units.
base::TDateTime RotationLimit(base::TDateTime now, int unit, int depth);

// The candidates a rotation deletes, newest first: with the depth in archives, all but the `depth`
// newest; in days or months, those older than RotationLimit(now, unit, depth). The candidate named
// `keepName` (the backup just made) counts among the kept ones and is never chosen, and one whose time
// is unknown (0) is kept and not counted. A depth of 0 or less chooses none. The local and the remote
// rotation both decide with this.
std::vector<ListRec> ChooseRotationVictims(std::vector<ListRec> candidates, const std::string& keepName,
                                           base::TDateTime now, int unit, int depth);

// Deletes the backups beyond the depth: in archives, all but the `depth` newest; in days or months,
// those older than RotationLimit. Deleting goes through DiscardPath (the trash when the option
// DeleteinRecucledBin is on); whole backup folders of the copy mode go with everything in them. The
// newest backup itself is never deleted, and nothing is when the newest backup is the searched
// folder or holds it (a copy-mode backup folder that is its target folder: its own files would be
// taken for old backups). A depth of 0 or less keeps everything.
// Scratch copies of unfinished runs are never candidates. For an incremental or differential task
// the newest archive that records a full backup and everything newer are kept, each kept one over
// the depth named in an information line; archives without that record count as before.
void RotateOldBackups(const std::string& folder, const std::string& prefix, const std::string& extension,
                      const std::string& dateFormat, const std::string& newestPath, int taskNumber, int unit,
                      int depth, BackupKind kind = BackupKind::Full);

// The rotation of the main folder after the extra folders and the upload (the distribution step).
StepResult RotateMainFolder(RunContext& run, StepResult current);

// ---------------------------------------------------------------------------------------------
// Shared by the copies of the copy mode and of the extra folders

// Gives a freshly written copy the access rights of its open source when the task's CopyAccessRights
// is on: permission bits, owner and group where this process may, the POSIX access-control list; a
// failure logs the "Copy Access Rights Error:" warning. Otherwise only the read-only attribute: no
// write permission when the source has none for its owner. Then the source's modification time.
void FinishCopiedFile(const platform::File& source, platform::File& copy,
                      const platform::FileInfo& sourceInfo, const core::TArhRecord& task);

// Makes `destination` a symbolic link with the same target as the link `source`, replacing what is
// there in one rename, with the link's own modification time. False with errno set on failure.
bool CopySymlink(const std::string& source, const std::string& destination);
// The target text of a link; empty when it cannot be read.
std::string LinkTarget(const std::string& path);

}  // namespace zentrove::engine
