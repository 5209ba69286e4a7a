#include "platform/scratch.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <utility>

#include "platform/posix/long_path.h"
#include "platform/posix/stat_info.h"

namespace zentrove::platform {
namespace {

constexpr std::size_t kNameMax = 255;
constexpr std::string_view kScratchExtension = ".~tm";
constexpr std::string_view kLockedSuffix = ".zentrove-part";

std::atomic<unsigned> g_counter{0};

struct SplitPath {
  std::string folder;  // with its trailing "/", or empty
  std::string name;
};

SplitPath Split(const std::string& target) {
  const std::string path = WithoutTrailingSlash(target);
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return {{}, path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::string CountedName(const std::string& name, unsigned counter) {
  const std::string suffix = "." + std::to_string(counter) + std::string(kScratchExtension);
  std::size_t keep = std::min(name.size(), kNameMax - 1 - suffix.size());
  // Cut at a character boundary, so a leftover scratch file still has a readable name.
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
    --keep;
  return "." + name.substr(0, keep) + suffix;
}

std::string ReplacedExtensionName(const std::string& name) {
  const auto dot = name.rfind('.');
  return (dot == std::string::npos ? name : name.substr(0, dot)) + std::string(kScratchExtension);
}

std::string NumberedName(const std::string& name, unsigned counter) {
  const auto dot = name.rfind('.');
  return "~" + std::to_string(counter) + (dot == std::string::npos ? std::string() : name.substr(dot));
}

bool IsNumberedName(std::string_view name) {
  if (name.size() < 2 || name.front() != '~') return false;
  const std::string_view number =
      name.substr(1, name.find('.') == std::string_view::npos ? name.npos : name.find('.') - 1);
  return !number.empty() &&
         std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A Locked scratch file is locked while it is written, so a leftover that nobody holds is known to
// come from a run that died and can go; the lock dies with its process.
Result<File> CreateLocked(const std::string& scratch, std::uint32_t mode) {
  OpenOptions options;
  options.access = Access::ReadWrite;
  options.creation = Creation::CreateNew;
  options.mode = mode;
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto file = File::Open(scratch, options);
    if (file) {
      if (flock(file->NativeHandle(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        (void)RemoveFile(scratch);
        return Status::FromErrno(error, scratch);
      }
      return file;
    }
    if (file.Code() != EEXIST) return file.GetStatus();
    OpenOptions staleOptions;
    staleOptions.access = Access::ReadWrite;
    staleOptions.links = Links::DontFollow;
    if (auto stale = File::Open(scratch, staleOptions)) {
      const bool held = flock(stale->NativeHandle(), LOCK_EX | LOCK_NB) != 0;
      if (!held) (void)RemoveFile(scratch);
      if (held) return Status::FromErrno(EBUSY, scratch);
    } else if (Status removed = RemoveFile(scratch); !removed && removed.Code() != ENOENT) {
      return removed;
    }
  }
  return Status::FromErrno(EEXIST, scratch);
}

}  // namespace

std::string ScratchPathFor(const std::string& target, ScratchShape shape, unsigned counter) {
  const SplitPath parts = Split(target);
  switch (shape) {
    case ScratchShape::Counted:
      return parts.folder + CountedName(parts.name, counter);
    case ScratchShape::ReplacedExtension:
      return parts.folder + ReplacedExtensionName(parts.name);
    case ScratchShape::Numbered:
      return parts.folder + NumberedName(parts.name, counter);
    case ScratchShape::Locked:
      break;
  }
  return parts.folder + "." + parts.name + std::string(kLockedSuffix);
}

unsigned NextScratchCounter() {
  return g_counter.fetch_add(1);
}

bool IsScratchName(std::string_view name) {
  if (IsNumberedName(name)) return true;
  if (EndsWith(name, kLockedSuffix)) return name.size() > kLockedSuffix.size() + 1 && name.front() == '.';
  return EndsWith(name, kScratchExtension) && name.size() > kScratchExtension.size();
}

Status MoveScratchInPlace(const std::string& scratch, const std::string& target, Replace replace,
                          Flush flushFolder) {
  if (replace == Replace::Yes) {
    if (Status moved = Rename(scratch, target); !moved) return moved;
  } else if (posix::WithPathsAt(scratch, target, [](int fromFd, const char* from, int toFd, const char* to) {
               return renameat2(fromFd, from, toFd, to, RENAME_NOREPLACE);
             }) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return Status::FromErrno(errno, target);
    // A file system without RENAME_NOREPLACE: a hard link fails on a taken name as the rename
    // would have, and never replaces what appeared in the meantime.
    if (posix::WithPathsAt(scratch, target, [](int fromFd, const char* from, int toFd, const char* to) {
          return linkat(fromFd, from, toFd, to, 0);
        }) == 0) {
      (void)RemoveFile(scratch);
    } else if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) {
      return Status::FromErrno(errno, target);
    } else if (const FileInfo taken = Stat(target); taken.exists || taken.errorCode != ENOENT) {
      // Without hard links either, only a look before the rename is left.
      return Status::FromErrno(EEXIST, target);
    } else if (Status moved = Rename(scratch, target); !moved) {
      return moved;
    }
  }
  // The new contents are in place; a folder that cannot be flushed only weakens the crash guarantee.
  if (flushFolder == Flush::Yes) (void)SyncFolder(posix::FolderOf(WithoutTrailingSlash(target)));
  return Status::Success();
}

ScratchWriter::~ScratchWriter() {
  Abandon();
}

ScratchWriter::ScratchWriter(ScratchWriter&& other) noexcept
    : target_(std::move(other.target_)),
      scratch_(std::move(other.scratch_)),
      shape_(other.shape_),
      file_(std::move(other.file_)),
      pending_(std::exchange(other.pending_, false)) {}

ScratchWriter& ScratchWriter::operator=(ScratchWriter&& other) noexcept {
  if (this != &other) {
    Abandon();
    target_ = std::move(other.target_);
    scratch_ = std::move(other.scratch_);
    shape_ = other.shape_;
    file_ = std::move(other.file_);
    pending_ = std::exchange(other.pending_, false);
  }
  return *this;
}

Result<ScratchWriter> ScratchWriter::Create(const std::string& target, ScratchShape shape,
                                            std::uint32_t mode) {
  ScratchWriter writer;
  writer.target_ = WithoutTrailingSlash(target);
  writer.shape_ = shape;
  if (shape == ScratchShape::Locked) {
    writer.scratch_ = ScratchPathFor(target, shape);
    auto file = CreateLocked(writer.scratch_, mode);
    if (!file) return file.GetStatus();
    writer.file_ = std::move(*file);
    writer.pending_ = true;
    return writer;
  }
  OpenOptions options;
  options.access = Access::Write;
  options.creation = Creation::CreateNew;
  options.mode = mode;
  // A counted name may be taken by another process, or by a leftover of a killed run.
  const int attempts = shape == ScratchShape::Counted ? 100 : 1;
  Status failure;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    writer.scratch_ = ScratchPathFor(target, shape, NextScratchCounter());
    auto file = File::Open(writer.scratch_, options);
    if (file) {
      writer.file_ = std::move(*file);
      writer.pending_ = true;
      return writer;
    }
    failure = file.GetStatus();
    if (failure.Code() != EEXIST) break;
  }
  return failure;
}

Status ScratchWriter::Complete(Flush flushFile) {
  if (!file_.IsOpen()) return Status::Success();
  if (flushFile == Flush::Yes) {
    if (Status synced = file_.Sync(); !synced) return synced;
  }
  if (shape_ == ScratchShape::Locked) return Status::Success();
  return file_.Close();
}

Status ScratchWriter::MoveInPlace(Replace replace, Flush flushFolder) {
  if (!pending_) return Status::FromErrno(ENOENT, scratch_);
  if (Status moved = MoveScratchInPlace(scratch_, target_, replace, flushFolder); !moved) return moved;
  pending_ = false;
  (void)file_.Close();
  return Status::Success();
}

Status ScratchWriter::Commit(Replace replace) {
  if (Status completed = Complete(Flush::Yes); !completed) return completed;
  return MoveInPlace(replace, Flush::Yes);
}

void ScratchWriter::Abandon() {
  if (pending_) (void)RemoveFile(scratch_);
  pending_ = false;
  (void)file_.Close();
}

}  // namespace zentrove::platform
