#include "engine/zip/zip_output.h"

#include <algorithm>
#include <cstring>

namespace zentrove::engine::zip {

namespace {

constexpr std::size_t kBufferSize = 1024 * 1024;
constexpr std::uint32_t kArchiveMode = 0600;

}  // namespace

ArchiveOutput::~ArchiveOutput() {
  Abort();
}

std::string ArchiveOutput::ScratchPathFor(const std::string& target) {
  return platform::ScratchPathFor(target, platform::ScratchShape::Locked);
}

bool ArchiveOutput::Failed(const platform::Status& status) {
  error_ = status.Code();
  return false;
}

bool ArchiveOutput::Create(const std::string& target) {
  // An archive gathers files whatever their own permissions were, so only its owner may read it;
  // an archive being updated takes the mode of the one it replaces when it is committed.
  auto writer = platform::ScratchWriter::Create(target, platform::ScratchShape::Locked, kArchiveMode);
  if (!writer) return Failed(writer.GetStatus());
  const platform::FileInfo info = writer->Output().Info();
  device_ = info.device;
  inode_ = info.inode;
  writer_.emplace(std::move(*writer));
  buffer_.reserve(kBufferSize);
  return true;
}

bool ArchiveOutput::Flush() {
  if (buffer_.empty()) return true;
  if (auto written = writer_->Output().WriteAt(bufferStart_, buffer_.data(), buffer_.size()); !written)
    return Failed(written);
  bufferStart_ += buffer_.size();
  fileEnd_ = std::max(fileEnd_, bufferStart_);
  buffer_.clear();
  return true;
}

bool ArchiveOutput::Write(const void* data, std::size_t size) {
  if (!writer_) return false;
  const char* bytes = static_cast<const char*>(data);
  if (buffer_.size() + size > kBufferSize && !Flush()) return false;
  if (size >= kBufferSize) {
    if (auto written = writer_->Output().WriteAt(bufferStart_, bytes, size); !written) return Failed(written);
    bufferStart_ += size;
    fileEnd_ = std::max(fileEnd_, bufferStart_);
    return true;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return true;
}

bool ArchiveOutput::Patch(uint64_t offset, const void* data, std::size_t size) {
  if (!writer_ || offset + size > Offset()) return false;
  const char* bytes = static_cast<const char*>(data);
  if (offset < bufferStart_) {
    const std::size_t onDisk = static_cast<std::size_t>(std::min<uint64_t>(size, bufferStart_ - offset));
    if (auto written = writer_->Output().WriteAt(offset, bytes, onDisk); !written) return Failed(written);
    bytes += onDisk;
    size -= onDisk;
    offset += onDisk;
  }
  if (size > 0) std::memcpy(buffer_.data() + (offset - bufferStart_), bytes, size);
  return true;
}

void ArchiveOutput::Rewind(uint64_t offset) {
  if (offset >= bufferStart_) {
    buffer_.resize(static_cast<std::size_t>(std::min<uint64_t>(offset - bufferStart_, buffer_.size())));
  } else {
    buffer_.clear();
    bufferStart_ = offset;
  }
}

bool ArchiveOutput::Commit(std::optional<std::uint32_t> mode,
                           std::optional<std::pair<std::uint32_t, std::uint32_t>> owner) {
  if (!writer_ || !Flush()) return false;
  platform::File& file = writer_->Output();
  // Bytes of entries that were dropped may lie past the end after a rewind.
  if (fileEnd_ > Offset()) {
    if (auto truncated = file.Truncate(Offset()); !truncated) return Failed(truncated);
  }
  if (owner && !file.SetOwner(owner->first, owner->second)) {
    // Only the owner's group may be kept when we are not allowed to give the file away.
    (void)file.SetOwner(platform::File::kKeepId, owner->second);
  }
  if (mode) {
    if (auto changed = file.SetMode(*mode & 07777); !changed) return Failed(changed);
  }
  if (auto committed = writer_->Commit(platform::Replace::Yes); !committed) return Failed(committed);
  writer_.reset();
  return true;
}

void ArchiveOutput::Abort() {
  writer_.reset();
}

}  // namespace zentrove::engine::zip
