#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace zentrove::platform {

// Moves a file or a whole folder to the user's trash as freedesktop.org's trash rules describe:
// the home trash ($XDG_DATA_HOME/Trash, by default ~/.local/share/Trash) for paths on the
// file system of the home trash, otherwise $topdir/.Trash/$uid (when an administrator prepared a
// sticky .Trash there) or $topdir/.Trash-$uid of the path's mount. The item goes to files/ under a
// unique name, with an info/<name>.trashinfo holding its original Path (percent-encoded) and
// DeletionDate. A symbolic link is trashed itself, not its target. On failure the path stays where
// it was. A backup of ours is marked in its .trashinfo (the key X-Zentrove-Backup, which other
// programs ignore), so that the limit on our share of the trash never touches what others trashed.
enum class TrashMark { None, Backup };
[[nodiscard]] Status MoveToTrash(const std::string& path, TrashMark mark = TrashMark::None);
// The same for a regular file, but the trash gets a second name (a hard link) of it and the path
// stays, so that a new file can then replace it in one rename and the name is never empty.
[[nodiscard]] Status LinkIntoTrash(const std::string& path, TrashMark mark = TrashMark::None);

// The trash folder MoveToTrash would use for the path (without creating it); empty when none fits.
std::string TrashFolderFor(const std::string& path);

// One item of a trash folder that MoveToTrash marked as a backup.
struct TrashedBackup {
  std::string name;          // under files/ and, with ".trashinfo", under info/
  std::string originalPath;  // as recorded, percent-encoding left as it stands
  std::string deletionDate;  // "YYYY-MM-DDThh:mm:ss"
  std::uint64_t bytes = 0;   // of all files in it
};
// What a .trashinfo text says: its original Path and DeletionDate as they stand (empty when missing)
// and whether it carries our backup mark. Other programs write these files: any text is accepted.
struct TrashInfo {
  std::string path;
  std::string deletionDate;
  bool backup = false;
};
TrashInfo ParseTrashInfo(std::string_view text);
// The marked backups of a trash folder, oldest first. A trash folder that does not exist holds none.
Result<std::vector<TrashedBackup>> ListTrashedBackups(const std::string& trashFolder);
// Deletes an item of the trash for good: its files, then its .trashinfo.
[[nodiscard]] Status PurgeTrashed(const std::string& trashFolder, const std::string& name);
// The size in bytes of the file system holding the path.
Result<std::uint64_t> FileSystemBytes(const std::string& path);

}  // namespace zentrove::platform
