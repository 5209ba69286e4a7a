#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace zentrove::platform {

enum class FileKind { None, File, Folder, Symlink, Other };

// What the file system knows of one path. Times are nanoseconds since 1 January 1970 UTC.
struct FileInfo {
  bool exists = false;
  // The errno of the failed look-up (ENOENT for a missing path); 0 when `exists`.
  int errorCode = 0;
  FileKind kind = FileKind::None;
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;
  std::int64_t atimeNs = 0;
  std::int64_t ctimeNs = 0;
  std::uint32_t mode = 0;  // permission bits only (07777)
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t linkCount = 0;
  bool hidden = false;    // the name starts with "."
  bool readOnly = false;  // the owner has no write permission
};

// The path with exactly one folder separator at its end / without any (the root stays "/").
std::string WithTrailingSlash(std::string path);
std::string WithoutTrailingSlash(std::string path);

// Looks at the path itself: a symbolic link is reported as FileKind::Symlink.
FileInfo Stat(const std::string& path);
// Follows symbolic links: reports what the path finally names (a dangling link does not exist).
FileInfo StatFollow(const std::string& path);

// True when the last part of the path starts with "." (not "." and ".." themselves).
bool IsHiddenName(std::string_view path);

struct FolderEntry {
  std::string name;                // raw bytes as the file system holds them
  FileKind kind = FileKind::None;  // of the entry itself; symbolic links are not followed
};

// The entries of a folder without "." and "..", in the order the file system returns them.
Result<std::vector<FolderEntry>> ListFolder(const std::string& path);

// The archive attribute. It counts as set when the file carries no mark in the extended attribute
// "user.zentrove.archived", or when the mark (the modification time in nanoseconds and the size
// recorded when it was cleared) differs from the file's current state; so every write sets it.
// Where the file system keeps no user extended attributes, the attribute is always set and clearing
// does nothing: incremental runs then take every file, which backs up more, never less. Symbolic
// links are followed.
inline constexpr const char* kArchiveMarkAttribute = "user.zentrove.archived";

// True also when the state cannot be read: a doubt means the file is backed up again.
bool IsArchiveAttributeSet(const std::string& path);
// The same for a file whose state the caller has just read with a stat that followed links, which
// saves reading it again. `noMarks` becomes true when the file system keeps no user attributes, so
// that a caller may take the other files on that device as set without asking.
bool IsArchiveAttributeSet(const std::string& path, const FileInfo& state, bool& noMarks);
// Writes the mark for the file's current state. A read-only file is made writable for that moment
// and its permissions are restored.
[[nodiscard]] Status ClearArchiveAttribute(const std::string& path);
// Writes the mark for the state the file had when it was read (from Stat or StatFollow before the
// read), so a change made while the file was being backed up keeps the attribute set.
[[nodiscard]] Status ClearArchiveAttribute(const std::string& path, const FileInfo& stateWhenRead);
// Removes the mark, so the file counts as changed.
[[nodiscard]] Status SetArchiveAttribute(const std::string& path);
// Gives the owner write permission and removes the archive mark, so nothing stands in the way of
// deleting or overwriting the file.
[[nodiscard]] Status LoseAllAttributes(const std::string& path);
// Whether the file system holding the path keeps user extended attributes.
bool SupportsUserAttributes(const std::string& path);

// Read-only on removes every write permission; off gives the owner write permission back.
enum class ReadOnly { No, Yes };
[[nodiscard]] Status SetReadOnly(const std::string& path, ReadOnly readOnly);

// Sets the modification and access times of the path itself (a symbolic link is not followed).
// kKeepTime leaves that time as it is.
inline constexpr std::int64_t kKeepTime = INT64_MIN;
[[nodiscard]] Status SetFileTimes(const std::string& path, std::int64_t mtimeNs, std::int64_t atimeNs);

// Gives the destination the source's permission bits, and its owner and group where this process
// may (a refused change of owner is not a failure).
[[nodiscard]] Status CopyModeAndOwner(const std::string& source, const std::string& destination);
// The access rights: mode and owner as above, then the POSIX access-control lists
// (system.posix_acl_access and, for folders, system.posix_acl_default) when the source has them.
[[nodiscard]] Status CopyAcl(const std::string& source, const std::string& destination);
// The same for two open files (a source being read, the copy being written), without looking up
// their paths again; the source's path names it in the failure's message.
class File;
[[nodiscard]] Status CopyAclOfOpen(const File& source, File& destination);

// True when another program keeps the file from being read: it cannot be opened for reading, or
// another process holds a write lock on it (the rule of IsLockedByAnotherProcess for open files in
// file_handle.h). A missing path is not locked. Never blocks.
bool IsLockedByAnotherProcess(const std::string& path);

// Replaces the file's contents crash-safely: a temporary file in the same folder is written, flushed
// to disk and renamed over the path, and the folder is flushed too, so after a crash the file holds
// either the old or the new contents. A new file takes `mode` (through the umask); an existing file
// keeps its permissions and owner but never more permissions than `mode` grants, so a file holding
// passwords (0600) cannot stay readable by others. A symbolic link is followed and its target
// replaced.
[[nodiscard]] Status WriteFileAtomically(const std::string& path, std::string_view bytes,
                                         std::uint32_t mode = 0644);
// The file's whole contents.
Result<std::string> ReadWholeFile(const std::string& path);

// Sets the permission bits (07777) of what the path names.
[[nodiscard]] Status SetMode(const std::string& path, std::uint32_t mode);
// Renames over whatever the new name holds (a folder only over an empty folder).
[[nodiscard]] Status Rename(const std::string& from, const std::string& to);
// Creates one folder with `mode` through the umask; EEXIST when the name is taken.
[[nodiscard]] Status CreateFolder(const std::string& path, std::uint32_t mode = 0777);
// Creates the folder and every missing folder above it with `mode` through the umask; an existing
// folder is success.
[[nodiscard]] Status CreateFolderPath(const std::string& path, std::uint32_t mode = 0777);
// Removes a file or a symbolic link (never a folder).
[[nodiscard]] Status RemoveFile(const std::string& path);
// Removes a folder and everything in it, depth first, through folder descriptors: a deep tree costs
// no path look-ups and a folder swapped for a symbolic link meanwhile is never followed. A folder
// lacking the owner's full permissions gets them first, as a read-only folder would otherwise keep its
// entries. The first failure ends the removal; `onFailure` hears of each failed path with its errno
// and whether it was a folder, and the result carries the failure of the top folder.
using DeleteFailure = std::function<void(const std::string& path, int errorCode, FileKind kind)>;
[[nodiscard]] Status DeleteTree(const std::string& folder, const DeleteFailure& onFailure = {});

// The target text of a symbolic link.
Result<std::string> ReadLink(const std::string& path);
// Creates the symbolic link `path` pointing to `target`.
[[nodiscard]] Status CreateSymlink(const std::string& target, const std::string& path);

// Flushes a folder's entries to disk, after a rename into it ("" is the working folder).
[[nodiscard]] Status SyncFolder(const std::string& folder);
// Flushes every file of the file system holding the path.
[[nodiscard]] Status SyncFileSystem(const std::string& path);

// Whether the standard error stream is a terminal, for progress lines that only a person reads.
bool StandardErrorIsTerminal();

}  // namespace zentrove::platform
