#include "platform/files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/file_handle.h"
#include "platform/posix/long_path.h"
#include "platform/posix/stat_info.h"
#include "platform/scratch.h"

namespace zentrove::platform {
namespace {

constexpr const char* kAclAccess = "system.posix_acl_access";
constexpr const char* kAclDefault = "system.posix_acl_default";

bool IsUnsupported(int code) {
  return code == ENOTSUP || code == EOPNOTSUPP;
}

std::string MarkText(const FileInfo& info) {
  return std::to_string(info.mtimeNs) + " " + std::to_string(info.size);
}

// An extended attribute's value through `get` (getxattr or fgetxattr with its file and name bound),
// retried when the value grows between asking for its size and reading it.
template <typename Get>
std::optional<std::string> ReadAttributeWith(const Get& get, int& error) {
  std::string value(64, '\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t n = get(value.data(), value.size());
    if (n >= 0) {
      value.resize(static_cast<std::size_t>(n));
      error = 0;
      return value;
    }
    if (errno != ERANGE) {
      error = errno;
      return std::nullopt;
    }
    const ssize_t needed = get(nullptr, 0);
    if (needed < 0) {
      error = errno;
      return std::nullopt;
    }
    value.assign(static_cast<std::size_t>(needed) + 1, '\0');
  }
  error = ERANGE;
  return std::nullopt;
}

std::optional<std::string> ReadAttribute(const std::string& path, const char* name, int& error) {
  const posix::PathAt at(path);
  if (at.Error() != 0) {
    error = at.Error();
    return std::nullopt;
  }
  const std::string shortPath = at.ShortPath();
  return ReadAttributeWith(
      [&](void* buffer, std::size_t size) { return getxattr(shortPath.c_str(), name, buffer, size); }, error);
}

int ChangeMode(const std::string& path, std::uint32_t mode) {
  return posix::WithPathAt(path, [mode](const posix::PathAt& at) {
    return fchmodat(at.Fd(), at.Name(), static_cast<mode_t>(mode & 07777), 0);
  });
}

// An extended-attribute call (which takes no folder descriptor) through a path short enough for the
// kernel.
template <typename Call>
int WithShortPath(const std::string& path, const Call& call) {
  return posix::WithPathAt(path, [&call](const posix::PathAt& at) { return call(at.ShortPath().c_str()); });
}

// Runs an attribute change; when the file refuses it because the owner has no write permission, the
// permission is granted for that moment and the old mode restored afterwards.
template <typename Change>
Status WithOwnerWrite(const std::string& path, const char* what, Change change) {
  if (change() == 0) return Status::Success();
  const int first = errno;
  if (first != EACCES && first != EPERM) return Status::FromErrno(first, path);
  const FileInfo info = StatFollow(path);
  if (!info.exists || !info.readOnly) return Status::FromErrno(first, path);
  if (ChangeMode(path, info.mode | S_IWUSR) != 0) return Status::FromErrno(first, path);
  const int result = change();
  const int error = errno;
  const int restored = ChangeMode(path, info.mode);
  const int restoreError = errno;
  if (result != 0) return Status::FromErrno(error, path);
  if (restored != 0)
    return Status::FromErrno(restoreError, std::string("cannot restore the mode after ") + what + " " + path);
  return Status::Success();
}

Status RemoveMark(const std::string& path) {
  Status status = WithOwnerWrite(path, "removing the archive mark", [&] {
    if (WithShortPath(path, [](const char* at) { return removexattr(at, kArchiveMarkAttribute); }) == 0)
      return 0;
    return (errno == ENODATA || IsUnsupported(errno)) ? 0 : -1;
  });
  return status;
}

int MakeFolder(const std::string& path, std::uint32_t mode) {
  return posix::WithPathAt(path, [mode](const posix::PathAt& at) {
    return mkdirat(at.Fd(), at.Name(), static_cast<mode_t>(mode & 07777));
  });
}

// The file a path finally names when it is a (possibly dangling) chain of symbolic links.
std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    if (Stat(current).kind != FileKind::Symlink) return current;
    const Result<std::string> target = ReadLink(current);
    if (!target || target->empty()) return current;
    current = target->front() == '/' ? *target : posix::FolderOf(current) + "/" + *target;
  }
  return current;
}

}  // namespace

FileInfo Stat(const std::string& path) {
  struct stat st {};
  const int result = posix::WithPathAt(
      path, [&st](const posix::PathAt& at) { return fstatat(at.Fd(), at.Name(), &st, AT_SYMLINK_NOFOLLOW); });
  return posix::InfoOf(path, result, st);
}

FileInfo StatFollow(const std::string& path) {
  struct stat st {};
  const int result =
      posix::WithPathAt(path, [&st](const posix::PathAt& at) { return fstatat(at.Fd(), at.Name(), &st, 0); });
  return posix::InfoOf(path, result, st);
}

bool IsHiddenName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  const auto slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return name.size() > 1 && name.front() == '.' && name != "..";
}

Result<std::vector<FolderEntry>> ListFolder(const std::string& path) {
  auto folder = Folder::Open(path);
  if (!folder) return folder.GetStatus();
  std::vector<FolderEntry> entries;
  const Status listed = folder->ForEachEntry([&](std::string_view name, FileKind kind) {
    if (kind == FileKind::None) {
      const FileInfo info = folder->InfoOf(std::string(name).c_str(), Links::DontFollow);
      kind = info.exists ? info.kind : FileKind::Other;
    }
    entries.push_back({std::string(name), kind});
    return true;
  });
  if (!listed) return listed;
  return entries;
}

bool IsArchiveAttributeSet(const std::string& path) {
  bool noMarks = false;
  return IsArchiveAttributeSet(path, StatFollow(path), noMarks);
}

bool IsArchiveAttributeSet(const std::string& path, const FileInfo& state, bool& noMarks) {
  if (!state.exists) return true;
  int error = 0;
  const auto mark = ReadAttribute(path, kArchiveMarkAttribute, error);
  if (!mark) noMarks = IsUnsupported(error);
  return !mark || *mark != MarkText(state);
}

Status ClearArchiveAttribute(const std::string& path) {
  const FileInfo info = StatFollow(path);
  if (!info.exists) return Status::FromErrno(info.errorCode, path);
  return ClearArchiveAttribute(path, info);
}

Status ClearArchiveAttribute(const std::string& path, const FileInfo& stateWhenRead) {
  if (!stateWhenRead.exists) return Status::FromErrno(ENOENT, path);
  const std::string mark = MarkText(stateWhenRead);
  return WithOwnerWrite(path, "clearing the archive attribute", [&] {
    const auto set = [&mark](const char* at) {
      return setxattr(at, kArchiveMarkAttribute, mark.data(), mark.size(), 0);
    };
    if (WithShortPath(path, set) == 0) return 0;
    return IsUnsupported(errno) ? 0 : -1;
  });
}

Status SetArchiveAttribute(const std::string& path) {
  return RemoveMark(path);
}

Status LoseAllAttributes(const std::string& path) {
  const FileInfo info = Stat(path);
  if (!info.exists) return Status::FromErrno(info.errorCode, path);
  if (info.kind == FileKind::Symlink) return Status::Success();
  if (info.readOnly && ChangeMode(path, info.mode | S_IWUSR) != 0) {
    return Status::FromErrno(errno, path);
  }
  return RemoveMark(path);
}

bool SupportsUserAttributes(const std::string& path) {
  const auto probe = [](const char* at) {
    return static_cast<int>(getxattr(at, "user.zentrove.probe", nullptr, 0));
  };
  if (WithShortPath(path, probe) >= 0) return true;
  return !IsUnsupported(errno);
}

Status SetReadOnly(const std::string& path, ReadOnly readOnly) {
  const FileInfo info = StatFollow(path);
  if (!info.exists) return Status::FromErrno(info.errorCode, path);
  const std::uint32_t mode =
      readOnly == ReadOnly::Yes ? (info.mode & ~std::uint32_t{0222}) : (info.mode | S_IWUSR);
  if (mode != info.mode && ChangeMode(path, mode) != 0) return Status::FromErrno(errno, path);
  return Status::Success();
}

Status SetFileTimes(const std::string& path, std::int64_t mtimeNs, std::int64_t atimeNs) {
  const timespec times[2] = {posix::ToTimespec(atimeNs), posix::ToTimespec(mtimeNs)};
  const auto set = [&times](const posix::PathAt& at) {
    return utimensat(at.Fd(), at.Name(), times, AT_SYMLINK_NOFOLLOW);
  };
  if (posix::WithPathAt(path, set) != 0) return Status::FromErrno(errno, path);
  return Status::Success();
}

Status CopyModeAndOwner(const std::string& source, const std::string& destination) {
  const FileInfo from = StatFollow(source);
  if (!from.exists) return Status::FromErrno(from.errorCode, source);
  std::uint32_t mode = from.mode;
  // Changing the owner needs privileges; without them the copy keeps ours, and then it must not
  // carry the set-user and set-group bits, which would make it run as us.
  const auto changeOwner = [&from](const posix::PathAt& at) {
    return fchownat(at.Fd(), at.Name(), from.uid, from.gid, 0);
  };
  if (posix::WithPathAt(destination, changeOwner) != 0) {
    if (errno != EPERM) return Status::FromErrno(errno, destination);
    const FileInfo to = StatFollow(destination);
    if (to.uid != from.uid || to.gid != from.gid) mode &= ~std::uint32_t{S_ISUID | S_ISGID};
  }
  if (ChangeMode(destination, mode) != 0) return Status::FromErrno(errno, destination);
  return Status::Success();
}

Status CopyAcl(const std::string& source, const std::string& destination) {
  if (Status status = CopyModeAndOwner(source, destination); !status) return status;
  const bool folder = StatFollow(source).kind == FileKind::Folder;
  for (const char* name : {kAclAccess, kAclDefault}) {
    if (name == kAclDefault && !folder) continue;
    int error = 0;
    const auto acl = ReadAttribute(source, name, error);
    if (!acl) {
      if (error == ENODATA || IsUnsupported(error)) continue;
      return Status::FromErrno(error, source);
    }
    const auto set = [&](const char* at) { return setxattr(at, name, acl->data(), acl->size(), 0); };
    if (WithShortPath(destination, set) != 0) {
      return Status::FromErrno(errno, destination);
    }
  }
  return Status::Success();
}

Status CopyAclOfOpen(const File& sourceFile, File& destinationFile) {
  const int sourceFd = sourceFile.NativeHandle();
  const int destinationFd = destinationFile.NativeHandle();
  const std::string& source = sourceFile.Path();
  struct stat from {};
  if (fstat(sourceFd, &from) != 0) return Status::FromErrno(errno, source);
  std::uint32_t mode = from.st_mode & 07777;
  // As for paths: without the privilege to give the copy the source's owner, it keeps ours and
  // must then lose the set-user and set-group bits.
  if (fchown(destinationFd, from.st_uid, from.st_gid) != 0) {
    if (errno != EPERM) return Status::FromErrno(errno, source);
    struct stat to {};
    if (fstat(destinationFd, &to) != 0 || to.st_uid != from.st_uid || to.st_gid != from.st_gid)
      mode &= ~std::uint32_t{S_ISUID | S_ISGID};
  }
  if (fchmod(destinationFd, static_cast<mode_t>(mode)) != 0) return Status::FromErrno(errno, source);
  for (const char* name : {kAclAccess, kAclDefault}) {
    if (name == kAclDefault && !S_ISDIR(from.st_mode)) continue;
    int error = 0;
    const auto acl = ReadAttributeWith(
        [&](void* buffer, std::size_t size) { return fgetxattr(sourceFd, name, buffer, size); }, error);
    if (!acl) {
      if (error == ENODATA || IsUnsupported(error)) continue;
      return Status::FromErrno(error, source);
    }
    if (fsetxattr(destinationFd, name, acl->data(), acl->size(), 0) != 0)
      return Status::FromErrno(errno, source);
  }
  return Status::Success();
}

bool IsLockedByAnotherProcess(const std::string& path) {
  OpenOptions options;
  options.nonBlocking = true;
  auto file = File::Open(path, options);
  if (!file) return file.Code() != ENOENT && file.Code() != ENOTDIR;
  return IsLockedByAnotherProcess(*file);
}

Status WriteFileAtomically(const std::string& path, std::string_view bytes, std::uint32_t mode) {
  const std::string target = FollowLinks(path);
  const FileInfo existing = StatFollow(target);
  if (existing.exists && existing.kind != FileKind::File) return Status::FromErrno(EISDIR, target);

  auto writer = ScratchWriter::Create(target, ScratchShape::Counted, existing.exists ? 0600 : (mode & 07777));
  if (!writer) return writer.GetStatus();
  File& out = writer->Output();
  if (existing.exists) {
    // A refused change of owner leaves the replacement ours, as a new file would be.
    (void)out.SetOwner(existing.uid, existing.gid);
    if (Status status = out.SetMode(existing.mode & mode & 07777); !status) return status;
  }
  if (Status status = out.Write(bytes.data(), bytes.size()); !status) return status;
  return writer->Commit(Replace::Yes);
}

Result<std::string> ReadWholeFile(const std::string& path) {
  auto file = File::Open(path);
  if (!file) return file.GetStatus();
  const FileInfo info = file->Info();
  if (info.kind == FileKind::Folder) return Status::FromErrno(EISDIR, path);
  std::string content;
  if (info.size > 0) content.reserve(static_cast<std::size_t>(info.size));
  char buffer[65536];
  for (;;) {
    auto n = file->Read(buffer, sizeof buffer);
    if (!n) return n.GetStatus();
    if (*n == 0) return content;
    content.append(buffer, *n);
  }
}

Status SetMode(const std::string& path, std::uint32_t mode) {
  if (ChangeMode(path, mode) != 0) return Status::FromErrno(errno, path);
  return Status::Success();
}

Status Rename(const std::string& from, const std::string& to) {
  const int result =
      posix::WithPathsAt(from, to, [](int fromFd, const char* fromName, int toFd, const char* toName) {
        return renameat(fromFd, fromName, toFd, toName);
      });
  if (result != 0) return Status::FromErrno(errno, to);
  return Status::Success();
}

Status CreateFolder(const std::string& path, std::uint32_t mode) {
  if (MakeFolder(path, mode) != 0) return Status::FromErrno(errno, path);
  return Status::Success();
}

Status CreateFolderPath(const std::string& path, std::uint32_t mode) {
  const std::string folder = WithoutTrailingSlash(path);
  if (folder.empty() || StatFollow(folder).kind == FileKind::Folder) return Status::Success();
  const auto slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (Status parent = CreateFolderPath(folder.substr(0, slash), mode); !parent) return parent;
  }
  if (MakeFolder(folder, mode) != 0 && errno != EEXIST) return Status::FromErrno(errno, folder);
  if (StatFollow(folder).kind != FileKind::Folder) return Status::FromErrno(ENOTDIR, folder);
  return Status::Success();
}

Status RemoveFile(const std::string& path) {
  if (posix::WithPathAt(path, [](const posix::PathAt& at) { return unlinkat(at.Fd(), at.Name(), 0); }) != 0)
    return Status::FromErrno(errno, path);
  return Status::Success();
}

namespace {

// Removes the folder NAME in PARENT and what it holds; the entries are removed after the listing
// ends, so the listing never sees its own changes. At `depth` from the top and below, `parent` is
// closed while NAME is emptied; it is open again on return unless the result is a failure.
Status DeleteTreeAt(Folder& parent, const std::string& name, const std::string& path,
                    const DeleteFailure& onFailure, std::size_t depth) {
  const FileInfo info = parent.InfoOf(name.c_str(), Links::DontFollow);
  if (info.exists && info.kind == FileKind::Folder && (info.mode & S_IRWXU) != S_IRWXU)
    (void)parent.SetModeOf(name, info.mode | S_IRWXU);
  if (auto folder = Folder::OpenAt(parent, name)) {
    const bool release = depth >= kHeldFolderLevels;
    const FileInfo identity = release ? parent.Info() : FileInfo{};
    if (release) parent = Folder();
    std::vector<std::pair<std::string, FileKind>> entries;
    (void)folder->ForEachEntry([&entries](std::string_view entry, FileKind kind) {
      entries.emplace_back(entry, kind);
      return true;
    });
    for (auto& [child, kind] : entries) {
      if (kind == FileKind::None) kind = folder->InfoOf(child.c_str(), Links::DontFollow).kind;
      const std::string childPath = path + "/" + child;
      if (kind == FileKind::Folder) {
        if (!DeleteTreeAt(*folder, child, childPath, onFailure, depth + 1)) break;
        continue;
      }
      if (Status removed = folder->RemoveFile(child); !removed) {
        if (onFailure) onFailure(childPath, removed.Code(), kind);
        break;
      }
    }
    if (release) {
      auto above = Folder::ParentOf(*folder, identity);
      if (!above) {
        if (onFailure) onFailure(posix::FolderOf(path), above.Code(), FileKind::Folder);
        return above.GetStatus();
      }
      parent = std::move(*above);
    }
  }
  Status removed = parent.RemoveEmptyFolder(name);
  if (!removed) {
    if (onFailure) onFailure(path, removed.Code(), FileKind::Folder);
    return Status::FromErrno(removed.Code(), path);
  }
  return Status::Success();
}

}  // namespace

Status DeleteTree(const std::string& folder, const DeleteFailure& onFailure) {
  const std::string path = WithoutTrailingSlash(folder);
  const auto slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  auto parent = Folder::Open(posix::FolderOf(path));
  if (!parent) {
    if (onFailure) onFailure(path, parent.Code(), FileKind::Folder);
    return Status::FromErrno(parent.Code(), path);
  }
  return DeleteTreeAt(*parent, name, path, onFailure, 0);
}

Result<std::string> ReadLink(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  const ssize_t n = posix::WithPathAt(path, [&target](const posix::PathAt& at) {
    return readlinkat(at.Fd(), at.Name(), target.data(), target.size());
  });
  if (n < 0) return Status::FromErrno(errno, path);
  target.resize(static_cast<std::size_t>(n));
  return target;
}

Status CreateSymlink(const std::string& target, const std::string& path) {
  const auto make = [&target](const posix::PathAt& at) {
    return symlinkat(target.c_str(), at.Fd(), at.Name());
  };
  if (posix::WithPathAt(path, make) != 0) return Status::FromErrno(errno, path);
  return Status::Success();
}

Status SyncFolder(const std::string& folder) {
  auto open = Folder::Open(folder);
  if (!open) return open.GetStatus();
  return open->Sync();
}

Status SyncFileSystem(const std::string& path) {
  const int fd = posix::WithPathAt(
      path, [](const posix::PathAt& at) { return openat(at.Fd(), at.Name(), O_RDONLY | O_CLOEXEC); });
  if (fd < 0) return Status::FromErrno(errno, path);
  const int result = syncfs(fd);
  const int error = errno;
  close(fd);
  return result == 0 ? Status::Success() : Status::FromErrno(error, path);
}

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace zentrove::platform
