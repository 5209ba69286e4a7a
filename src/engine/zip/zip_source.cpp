#include "engine/zip/zip_source.h"

#include <algorithm>
#include <cerrno>

namespace zentrove::engine::zip {
namespace {

constexpr uint64_t kAdviceThreshold = 128 * 1024;

}  // namespace

OpenResult OpenSource(const std::string& path, OpenMode mode, const std::vector<FileIdentity>& excluded) {
  OpenResult result;
  platform::OpenOptions options;
  // Non-blocking, so that a named pipe among the sources cannot hang the run.
  options.nonBlocking = true;
  options.noAccessTime = true;
  auto file = platform::File::Open(path, options);
  if (!file) {
    result.Error = file.Code();
    return result;
  }
  result.Info = file->Info();
  if (!result.Info.exists) {
    result.Error = result.Info.errorCode;
    return result;
  }
  if (result.Info.kind != platform::FileKind::File) {
    result.Outcome = OpenOutcome::NotRegular;
    return result;
  }
  const bool isExcluded = std::any_of(excluded.begin(), excluded.end(), [&](const FileIdentity& id) {
    return id.Device == result.Info.device && id.Inode == result.Info.inode;
  });
  if (isExcluded) {
    result.Outcome = OpenOutcome::Excluded;
    return result;
  }
  if (mode == OpenMode::omShareDenyWrite && platform::IsLockedByAnotherProcess(*file)) {
    result.Outcome = OpenOutcome::Locked;
    return result;
  }
  (void)file->EndNonBlocking();
  // The kernel's own read-ahead already covers a small file, so the advice would only cost a call.
  if (result.Info.size > kAdviceThreshold) file->AdviseSequential();
  result.File = std::move(*file);
  result.Outcome = OpenOutcome::Opened;
  return result;
}

bool MayBeLockedOut(int errorCode) {
  switch (errorCode) {
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
      return true;
    default:
      return false;
  }
}

}  // namespace zentrove::engine::zip
