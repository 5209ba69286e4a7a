#include "engine/engine_ops.h"

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "base/datetime.h"
#include "base/regional_format.h"
#include "core/options.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/result.h"
#include "platform/trash.h"

namespace zentrove::engine {
namespace {

using log::AddLogLine;
using log::LogLevel;

std::mutex g_connectorMutex;
ShareConnector g_connector;

bool IsNetworkPath(const std::string& path) {
  return path.size() > 2 && path[0] == '/' && path[1] == '/';
}

void LogCannotDelete(const std::string& path, const std::string& detail) {
  AddLogLine(LogLevel::Error, 0, "The file cannot be deleted : " + path + " " + detail);
}

bool DeleteFile(const std::string& path) {
  const platform::Status removed = platform::RemoveFile(path);
  if (removed) return true;
  LogCannotDelete(path, ErrorCodeSuffix(removed.Code()));
  errno = removed.Code();
  return false;
}

bool DeleteTree(const std::string& folder) {
  const platform::Status removed =
      platform::DeleteTree(folder, [](const std::string& path, int errorCode, platform::FileKind kind) {
        LogCannotDelete(path, kind == platform::FileKind::Folder ? "[" + platform::ErrnoText(errorCode) + "]"
                                                                 : ErrorCodeSuffix(errorCode));
      });
  if (removed) return true;
  errno = removed.Code();
  return false;
}

}  // namespace

bool ConnectShare(const std::string& path, const std::string& user, const std::string& password) {
  if (!IsNetworkPath(path)) return true;
  ShareConnector connector;
  {
    std::lock_guard lock(g_connectorMutex);
    connector = g_connector;
  }
  if (!connector) return true;
  try {
    return connector(ShareOfPath(path), user, password);
  } catch (...) {
    return false;
  }
}

void SetShareConnector(ShareConnector connector) {
  std::lock_guard lock(g_connectorMutex);
  g_connector = std::move(connector);
}

std::string ShareOfPath(const std::string& path) {
  if (!IsNetworkPath(path)) return path;
  const auto serverEnd = path.find('/', 2);
  if (serverEnd == std::string::npos) return path;
  const auto shareEnd = path.find('/', serverEnd + 1);
  return shareEnd == std::string::npos ? path : path.substr(0, shareEnd);
}

bool EnsureFolder(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ignored;
  std::filesystem::create_directories(path, ignored);
  return IsExistingFolder(path);
}

bool PathExists(const std::string& path) {
  return !path.empty() && platform::Stat(path).exists;
}

bool IsExistingFile(const std::string& path) {
  return !path.empty() && platform::StatFollow(path).kind == platform::FileKind::File;
}

bool IsExistingFolder(const std::string& path) {
  return !path.empty() && platform::StatFollow(path).kind == platform::FileKind::Folder;
}

bool DeleteFileOrTree(const std::string& path) {
  const std::string target = WithoutTrailingSlash(path);
  // Nothing a backup task names can sensibly mean the whole file system.
  if (target.empty() || target == "/") {
    errno = EPERM;
    LogCannotDelete(path, ErrorCodeSuffix());
    return false;
  }
  if (platform::Stat(target).kind == platform::FileKind::Folder) return DeleteTree(target);
  return DeleteFile(target);
}

bool DiscardPath(const std::string& path) {
  if (!core::CurrentOptions()->DeleteinRecucledBin) return DeleteFileOrTree(path);
  const std::string target = WithoutTrailingSlash(path);
  if (target.empty() || target == "/") return false;
  return platform::MoveToTrash(target).Ok();
}

int SystemErrorCode(int errnoValue) {
  switch (errnoValue) {
    case 0:
      return 0;
    case ENOENT:
    case ENOTDIR:
      return 3;
    case EACCES:
    case EPERM:
    case EROFS:
      return 5;
    case ENOMEM:
    case ENOSPC:
    case EDQUOT:
      return 8;
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM:
      return 15;
    case ENAMETOOLONG:
      return 206;
    default:
      return 10000 + errnoValue;
  }
}

std::string ErrorCodeSuffix() {
  return ErrorCodeSuffix(errno);
}

std::string ErrorCodeSuffix(int errnoValue) {
  const int code = SystemErrorCode(errnoValue);
  std::string text;
  switch (code) {
    case 0:
      break;
    case 3:
      text = "Path not found. If it is network drive try to use \\\\SERVER\\PATH.";
      break;
    case 5:
      text = "Access is denied. ";
      break;
    case 8:
      text = "Not enough storage is available to process this command. ";
      break;
    case 15:
      text = "  The system cannot find the drive specified.";
      break;
    case 206:
      text = "The filename or extension is too long.";
      break;
    default:
      text = platform::ErrnoText(errnoValue);
      break;
  }
  return "[EID:" + std::to_string(code) + ":" + text + "]";
}

void CopyAccessRightsOf(const std::string& source, const std::string& destination,
                        const core::TArhRecord& task) {
  if (!task.CopyAccessRights) return;
  try {
    const platform::Status status = platform::CopyAcl(source, destination);
    if (status) return;
    const std::string reason = status.Code() > 0 ? platform::ErrnoText(status.Code()) : status.Message();
    AddLogLine(LogLevel::Warning, task.TaskNumber, "Copy Access Rights Error:" + reason + ":" + source);
  } catch (...) {
  }
}

std::string SizeDescription(std::uint64_t size) {
  if (size < 1024) return std::to_string(size) + " b";
  if (size < 1048576) return std::to_string(size / 1024) + " Kb";
  return std::to_string(size / 1048576) + " Mb";
}

base::TDateTime FileTimeToLocal(std::int64_t mtimeNs) {
  std::int64_t seconds = mtimeNs / 1000000000;
  if (mtimeNs < 0 && mtimeNs % 1000000000 != 0) --seconds;
  seconds -= ((seconds % 2) + 2) % 2;
  return base::FromTimeT(static_cast<std::time_t>(seconds));
}

std::string FileDescription(const std::string& path) {
  try {
    const platform::FileInfo info = platform::StatFollow(path);
    if (!info.exists || info.kind != platform::FileKind::File) return path;
    const base::TDateTime time = FileTimeToLocal(info.mtimeNs);
    return path + " " + SizeDescription(info.size) + " " + base::FormatShortDate(time) + " " +
           base::FormatLongTime(time);
  } catch (...) {
    return path;
  }
}

}  // namespace zentrove::engine
