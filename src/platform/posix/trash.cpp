#include "platform/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "platform/environment.h"
#include "platform/files.h"

namespace zentrove::platform {
namespace {

constexpr std::string_view kBackupKey = "X-Zentrove-Backup";
constexpr std::string_view kInfoExtension = ".trashinfo";

// The characters a URI path keeps as they are; everything else is written as %XX.
bool KeepsInPath(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '/':
    case '-':
    case '_':
    case '.':
    case '~':
    case '!':
    case '*':
    case '\'':
    case '(':
    case ')':
    case ':':
    case '@':
    case '&':
    case '=':
    case '+':
    case '$':
    case ',':
      return true;
    default:
      return false;
  }
}

std::string PercentEncode(const std::string& path) {
  static const char* kHex = "0123456789ABCDEF";
  std::string encoded;
  for (const unsigned char c : path) {
    if (KeepsInPath(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return encoded;
}

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

std::string HomeTrash() {
  const auto dataHome = GetEnv("XDG_DATA_HOME");
  if (dataHome && !dataHome->empty() && dataHome->front() == '/') return *dataHome + "/Trash";
  return HomeFolder() + "/.local/share/Trash";
}

// The device of a path, or of its nearest existing parent folder.
bool DeviceOf(std::filesystem::path path, dev_t& device) {
  for (;;) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
      device = st.st_dev;
      return true;
    }
    if (!path.has_relative_path()) return false;
    path = path.parent_path();
  }
}

// The top folder of the mount that holds `folder` (an existing folder without symbolic links).
std::filesystem::path MountTop(std::filesystem::path folder) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) return {};
  while (folder.has_relative_path()) {
    const auto parent = folder.parent_path();
    struct stat up {};
    if (stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
    folder = parent;
  }
  return folder;
}

struct TrashPlace {
  std::filesystem::path folder;
  // The folder the Path= entries are relative to; empty for absolute ones (the home trash).
  std::filesystem::path top;
};

// $topdir/.Trash/$uid is used only when an administrator made .Trash a real sticky folder.
bool UsableSharedTrash(const std::filesystem::path& top) {
  struct stat st {};
  const auto shared = top / ".Trash";
  return lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
}

bool PlaceFor(const std::filesystem::path& absolute, TrashPlace& place) {
  struct stat item {};
  if (lstat(absolute.c_str(), &item) != 0) return false;
  const std::string home = HomeTrash();
  dev_t homeDevice = 0;
  if (DeviceOf(home, homeDevice) && homeDevice == item.st_dev) {
    place.folder = home;
    place.top.clear();
    return true;
  }
  std::error_code error;
  const auto parent = std::filesystem::canonical(absolute.parent_path(), error);
  if (error) return false;
  const auto top = MountTop(parent);
  if (top.empty()) return false;
  const std::string uid = std::to_string(getuid());
  place.folder = UsableSharedTrash(top) ? top / ".Trash" / uid : top / (".Trash-" + uid);
  place.top = top;
  return true;
}

// Creates a folder of the trash with mode 0700 when it is missing; an existing one must be a folder
// of ours, not a symbolic link someone placed there.
bool EnsureTrashFolder(const std::filesystem::path& folder) {
  if (mkdir(folder.c_str(), 0700) == 0) return true;
  if (errno == ENOENT) {
    if (!EnsureTrashFolder(folder.parent_path())) return false;
    if (mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return EnsureTrashFolder(folder);
    return false;
  }
  if (errno != EEXIST) return false;
  struct stat st {};
  return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

std::uint64_t TreeBytes(const std::string& path) {
  const FileInfo info = Stat(path);
  if (info.kind != FileKind::Folder) return info.kind == FileKind::File ? info.size : 0;
  std::uint64_t total = 0;
  if (auto entries = ListFolder(path)) {
    for (const FolderEntry& entry : *entries)
      total += TreeBytes(path + "/" + entry.name);
  }
  return total;
}

// The value of `key` in a .trashinfo text; empty when the key is missing.
std::string InfoValue(std::string_view text, std::string_view key) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=')
      return std::string(line.substr(key.size() + 1));
    start = end + 1;
  }
  return {};
}

}  // namespace

TrashInfo ParseTrashInfo(std::string_view text) {
  TrashInfo info;
  info.path = InfoValue(text, "Path");
  info.deletionDate = InfoValue(text, "DeletionDate");
  info.backup = InfoValue(text, kBackupKey) == "true";
  return info;
}

Result<std::vector<TrashedBackup>> ListTrashedBackups(const std::string& trashFolder) {
  std::vector<TrashedBackup> backups;
  const std::string infoFolder = trashFolder + "/info";
  if (!Stat(infoFolder).exists) return backups;
  auto entries = ListFolder(infoFolder);
  if (!entries) return entries.GetStatus();
  for (const FolderEntry& entry : *entries) {
    const std::string_view name = entry.name;
    if (entry.kind != FileKind::File || name.size() <= kInfoExtension.size() ||
        name.substr(name.size() - kInfoExtension.size()) != kInfoExtension) {
      continue;
    }
    auto text = ReadWholeFile(infoFolder + "/" + entry.name);
    if (!text) continue;
    const TrashInfo info = ParseTrashInfo(*text);
    if (!info.backup) continue;
    TrashedBackup backup;
    backup.name = std::string(name.substr(0, name.size() - kInfoExtension.size()));
    backup.originalPath = info.path;
    backup.deletionDate = info.deletionDate;
    backup.bytes = TreeBytes(trashFolder + "/files/" + backup.name);
    backups.push_back(std::move(backup));
  }
  std::sort(backups.begin(), backups.end(), [](const TrashedBackup& a, const TrashedBackup& b) {
    return a.deletionDate != b.deletionDate ? a.deletionDate < b.deletionDate : a.name < b.name;
  });
  return backups;
}

Status PurgeTrashed(const std::string& trashFolder, const std::string& name) {
  const std::string item = trashFolder + "/files/" + name;
  const FileInfo info = Stat(item);
  if (info.exists) {
    const Status removed = info.kind == FileKind::Folder ? DeleteTree(item) : RemoveFile(item);
    if (!removed) return removed;
  }
  return RemoveFile(trashFolder + "/info/" + name + std::string(kInfoExtension));
}

Result<std::uint64_t> FileSystemBytes(const std::string& path) {
  struct statvfs fs {};
  if (statvfs(path.c_str(), &fs) != 0) return Status::FromErrno(errno, path);
  return static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize;
}

std::string TrashFolderFor(const std::string& path) {
  std::error_code error;
  const auto absolute = std::filesystem::absolute(path, error).lexically_normal();
  TrashPlace place;
  if (error || !PlaceFor(absolute, place)) return {};
  return place.folder.string();
}

namespace {

enum class TrashAction { Move, Link };

Status PutIntoTrash(const std::string& path, TrashMark mark, TrashAction action) {
  std::error_code error;
  auto absolute = std::filesystem::absolute(path, error).lexically_normal();
  if (error) return Status::Failure(error.value(), path + ": " + error.message());
  if (absolute.filename().empty()) absolute = absolute.parent_path();
  if (!absolute.has_relative_path())
    return Status::Failure(EINVAL, path + ": the root folder cannot be trashed");

  TrashPlace place;
  if (!PlaceFor(absolute, place)) {
    struct stat st {};
    if (lstat(absolute.c_str(), &st) != 0) return Status::FromErrno(errno, path);
    return Status::Failure(ENOENT, path + ": no trash folder for this file system");
  }
  const auto files = place.folder / "files";
  const auto info = place.folder / "info";
  if (!EnsureTrashFolder(place.folder) || !EnsureTrashFolder(files) || !EnsureTrashFolder(info)) {
    return Status::FromErrno(errno == 0 ? EACCES : errno, place.folder.string());
  }
  if (absolute == place.folder || absolute.string().rfind(place.folder.string() + "/", 0) == 0) {
    return Status::Failure(EINVAL, path + ": the trash cannot be trashed into itself");
  }

  const std::string recorded =
      place.top.empty() ? absolute.string() : absolute.lexically_relative(place.top).string();
  const std::string content =
      "[Trash Info]\nPath=" + PercentEncode(recorded) + "\nDeletionDate=" + LocalTimeStamp() + "\n" +
      (mark == TrashMark::Backup ? std::string(kBackupKey) + "=true\n" : std::string());

  // The .trashinfo file is created exclusively first: it reserves the name against other programs
  // trashing at the same moment, as the freedesktop.org Trash rules ask.
  const std::string base = absolute.filename().string();
  for (int attempt = 1; attempt < 10000; ++attempt) {
    const std::string name = attempt == 1 ? base : base + "." + std::to_string(attempt);
    const auto infoPath = info / (name + ".trashinfo");
    const int fd = open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Status::FromErrno(errno, infoPath.string());
    }
    const auto written = write(fd, content.data(), content.size());
    const bool ok = written == static_cast<ssize_t>(content.size()) && fsync(fd) == 0;
    const int writeError = errno;
    close(fd);
    if (!ok) {
      unlink(infoPath.c_str());
      return Status::FromErrno(writeError, infoPath.string());
    }
    const auto target = files / name;
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0) {
      // A stray entry without info file; keep it and take the next name.
      unlink(infoPath.c_str());
      continue;
    }
    const int placed = action == TrashAction::Move ? rename(absolute.c_str(), target.c_str())
                                                   : link(absolute.c_str(), target.c_str());
    if (placed != 0) {
      const int renameError = errno;
      unlink(infoPath.c_str());
      return Status::FromErrno(renameError, path);
    }
    return Status::Success();
  }
  return Status::Failure(EEXIST, path + ": no free name in the trash");
}

}  // namespace

Status MoveToTrash(const std::string& path, TrashMark mark) {
  return PutIntoTrash(path, mark, TrashAction::Move);
}

Status LinkIntoTrash(const std::string& path, TrashMark mark) {
  const FileInfo info = Stat(path);
  if (info.exists && info.kind != FileKind::File) return Status::Failure(EISDIR, path + ": not a file");
  return PutIntoTrash(path, mark, TrashAction::Link);
}

}  // namespace zentrove::platform
