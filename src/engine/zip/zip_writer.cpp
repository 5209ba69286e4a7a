#include "engine/zip/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "engine/zip/zip_compress.h"
#include "engine/zip/zip_crypto.h"
#include "engine/zip/zip_format.h"
#include "engine/zip/zip_name_table.h"
#include "engine/zip/zip_names.h"
#include "engine/zip/zip_output.h"
#include "engine/zip/zip_reader.h"
#include "engine/zip/zip_source.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::engine::zip {

namespace {

using namespace format;

// Files from this size on get Zip64 fields in their local header. The margin below 4 GiB covers
// what deflate and encryption may add, since the header is written before the data.
constexpr uint64_t kZip64Threshold = 0xFF000000ull;
constexpr std::size_t kCopyBlock = 64 * 1024;
constexpr std::size_t kMaxPending = 128;
// Small chunks travel to the workers in batches of up to this many bytes or chunks.
constexpr std::size_t kBatchBytes = 256 * 1024;
constexpr std::size_t kBatchChunks = 64;
// At most this many files are started before the list of sources is complete; with the bytes
// bounded as for the files in flight, they keep a worker busy while the listing goes on.
constexpr std::size_t kMaxHeadStartFiles = 8192;

struct CentralRecord {
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint16_t Time = 0;
  uint16_t Date = 0;
  uint32_t Crc = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint64_t Offset = 0;
  uint16_t Internal = 0;
  uint32_t External = 0;
  std::string Name;
  std::string Extra;  // without a Zip64 field; that is added here as needed
  std::string Comment;
  bool ForceZip64Sizes = false;  // the local header has Zip64 sizes, so the directory has them too
};

std::optional<std::string> SerializeCentral(const CentralRecord& r) {
  const bool bigUsize = r.ForceZip64Sizes || r.UncompressedSize >= kMax32;
  const bool bigCsize = r.ForceZip64Sizes || r.CompressedSize >= kMax32;
  const bool bigOffset = r.Offset >= kMax32;
  std::string extra;
  if (bigUsize || bigCsize || bigOffset) {
    Put16(extra, kExtraZip64);
    Put16(extra, static_cast<uint16_t>(8 * (bigUsize + bigCsize + bigOffset)));
    if (bigUsize) Put64(extra, r.UncompressedSize);
    if (bigCsize) Put64(extra, r.CompressedSize);
    if (bigOffset) Put64(extra, r.Offset);
  }
  const bool zip64 = !extra.empty();
  extra += r.Extra;
  if (extra.size() > kMax16 || r.Name.size() > kMax16 || r.Comment.size() > kMax16) return std::nullopt;
  std::string out;
  out.reserve(kCentralHeaderSize + r.Name.size() + extra.size() + r.Comment.size());
  Put32(out, kCentralHeaderSignature);
  Put16(out, r.VersionMadeBy);
  Put16(out, zip64 ? std::max<uint16_t>(r.VersionNeeded, 45) : r.VersionNeeded);
  Put16(out, r.Flags);
  Put16(out, r.Method);
  Put16(out, r.Time);
  Put16(out, r.Date);
  Put32(out, r.Crc);
  Put32(out, bigCsize ? kMax32 : static_cast<uint32_t>(r.CompressedSize));
  Put32(out, bigUsize ? kMax32 : static_cast<uint32_t>(r.UncompressedSize));
  Put16(out, static_cast<uint16_t>(r.Name.size()));
  Put16(out, static_cast<uint16_t>(extra.size()));
  Put16(out, static_cast<uint16_t>(r.Comment.size()));
  Put16(out, 0);  // disk number start
  Put16(out, r.Internal);
  Put32(out, r.External);
  Put32(out, bigOffset ? kMax32 : static_cast<uint32_t>(r.Offset));
  out += r.Name;
  out += extra;
  out += r.Comment;
  return out;
}

std::string DataDescriptor(uint32_t crc, uint64_t compressed, uint64_t uncompressed, bool zip64) {
  std::string out;
  Put32(out, kDataDescriptorSignature);
  Put32(out, crc);
  if (zip64) {
    Put64(out, compressed);
    Put64(out, uncompressed);
  } else {
    Put32(out, static_cast<uint32_t>(compressed));
    Put32(out, static_cast<uint32_t>(uncompressed));
  }
  return out;
}

// The Unix mode as the external attributes hold it: the file type above the permission bits.
uint32_t UnixMode(const platform::FileInfo& info) {
  constexpr uint32_t kUnixFolder = 0040000;
  constexpr uint32_t kUnixFile = 0100000;
  constexpr uint32_t kUnixLink = 0120000;
  switch (info.kind) {
    case platform::FileKind::Folder:
      return kUnixFolder | info.mode;
    case platform::FileKind::File:
      return kUnixFile | info.mode;
    case platform::FileKind::Symlink:
      return kUnixLink | info.mode;
    default:
      return info.mode;
  }
}

// Whole seconds since 1970, rounded down as the file system's own seconds are.
int64_t MtimeSeconds(const platform::FileInfo& info) {
  constexpr int64_t kNs = 1000000000;
  return info.mtimeNs >= 0 ? info.mtimeNs / kNs : -((-info.mtimeNs + kNs - 1) / kNs);
}

uint32_t ExternalAttributes(uint32_t mode, bool folder, bool dosHost) {
  constexpr uint32_t kOwnerWrite = 0200;
  uint32_t dos = folder ? kDosAttrDirectory : kDosAttrArchive;
  if ((mode & kOwnerWrite) == 0) dos |= kDosAttrReadOnly;
  if (dosHost) return dos;
  return (static_cast<uint32_t>(mode & 0xFFFF) << 16) | dos;
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Bits 1 and 2 tell readers which deflate option was used.
uint16_t DeflateOptionFlags(int level) {
  if (level >= 8) return 0x0002;
  if (level == 2) return 0x0004;
  if (level == 1) return 0x0006;
  return 0;
}

// The name as stored: "/"-separated without a leading "/", folders with one trailing "/".
std::string NormalizeName(std::string name, bool folder) {
  const auto first = name.find_first_not_of('/');
  name.erase(0, first == std::string::npos ? name.size() : first);
  while (!name.empty() && name.back() == '/')
    name.pop_back();
  if (folder && !name.empty()) name.push_back('/');
  return name;
}

bool EntryIsOlder(const ZipEntry& entry, const platform::FileInfo& info) {
  if (entry.UnixMtime) return *entry.UnixMtime < MtimeSeconds(info);
  const uint32_t stored = (static_cast<uint32_t>(entry.DosDate) << 16) | entry.DosTime;
  return stored < ToDosDateTime(MtimeSeconds(info)).Packed();
}

// What the central directory needs of an added entry, kept for every entry until the end: its name
// is in the name table, and its extra fields are made again when the directory is written.
struct AddedRecord {
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint64_t Offset = 0;
  int64_t Mtime = 0;
  NameTable::Ref Name;
  uint32_t Crc = 0;
  uint32_t External = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint8_t VersionNeeded = 0;
  uint8_t Host = 0;
  uint8_t RealMethod = 0;
  bool ForceZip64Sizes = false;
};
static_assert(sizeof(AddedRecord) <= 56);

struct PendingEntry {
  std::size_t SourceIndex = 0;
  std::string Path;
  names::StoredName Name;
  NameTable::Ref NameRef;
  std::vector<std::size_t> Replaces;
  bool Folder = false;
  uint32_t Mode = 0;
  int64_t Mtime = 0;
  DosDateTime Dos;
  uint64_t Size = 0;
  uint64_t ProgressCounted = 0;

  std::shared_ptr<ChunkSource> Source;
  std::size_t ChunkCount = 0;
  std::size_t Submitted = 0;
  std::deque<std::shared_ptr<Chunk>> Chunks;  // submitted and not yet taken
  bool Closed = false;                        // written or dropped; later chunks are discarded

  bool HeaderWritten = false;
  uint64_t HeaderOffset = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;      // as stored (99 for AES)
  uint16_t RealMethod = 0;  // stored or deflate
  uint16_t VersionNeeded = 0;
  bool Zip64Local = false;
  bool Descriptor = false;
  std::string CentralExtra;
  uint32_t Crc = 0;
  uint64_t Uncompressed = 0;
  uint64_t Written = 0;  // bytes after the local header: encryption header, data, authentication code
  std::optional<crypto::PkwareCipher> Pkware;
  std::unique_ptr<crypto::AesCipher> Aes;
};

unsigned WorkerThreads(const ZipSettings& settings) {
  const unsigned threads = settings.Threads != 0 ? settings.Threads : std::thread::hardware_concurrency();
  return std::clamp(threads, 1u, 16u);
}

// Room for a whole file on every worker and one more waiting, so that no worker idles while the
// next file is read; the compressed copies waiting to be written add at most as much again.
std::size_t InflightLimit(unsigned threads) {
  return (std::min(threads, 8u) + 1) * kWholeFileLimit;
}

ChunkEncryption EncryptionOf(const ZipSettings& settings) {
  if (settings.Password.empty()) return {};
  if (settings.EncryptStrength == EncryptStrength::esPKStandard) {
    return ChunkEncryption{ChunkEncryption::Scheme::Pkware, settings.Password, 0};
  }
  return ChunkEncryption{ChunkEncryption::Scheme::Aes, settings.Password,
                         static_cast<int>(settings.EncryptStrength)};
}

// A file of fewer than kWholeFileLimit bytes, as listed, that a worker opens and reads itself.
std::shared_ptr<ChunkSource> DeferredSource(const std::string& path,
                                            const std::vector<FileIdentity>& excluded,
                                            const ChunkEncryption& encryption) {
  auto source = std::make_shared<ChunkSource>(ChunkSource::Deferred{path, &excluded});
  source->SingleChunk = true;
  source->Encryption = encryption;
  return source;
}

// Chunks handed to the workers in batches, so that many small files cost one wake-up of a worker.
struct ChunkBatcher {
  ChunkBatch batch;
  std::size_t bytes = 0;

  void Add(std::shared_ptr<Chunk> chunk, ChunkCompressor& workers) {
    bytes += chunk->Length;
    batch.push_back(std::move(chunk));
    if (bytes >= kBatchBytes || batch.size() >= kBatchChunks) Flush(workers);
  }
  void Flush(ChunkCompressor& workers) {
    workers.Submit(std::move(batch));
    batch.clear();
    bytes = 0;
  }
};

bool NeedsChunks(const PendingEntry& entry) {
  return !entry.Folder && !entry.Closed && entry.Submitted < entry.ChunkCount;
}

struct CopyJob {
  std::size_t OldIndex = 0;
  bool Started = false;
  EntryLocation Location;
  uint64_t Position = 0;
  uint64_t NewOffset = 0;
};

}  // namespace

// The files started while the caller was still listing: keyed by path, each one chunk on its way.
struct HeadStart {
  std::unique_ptr<ChunkCompressor> compressor;
  std::vector<FileIdentity> excluded;  // none: the archive does not exist yet
  // Keyed by the path its source keeps, so that each path is stored once.
  std::unordered_map<std::string_view, std::shared_ptr<Chunk>> chunks;
  ChunkBatcher batcher;
  std::size_t bytes = 0;
  std::size_t limit = 0;
  bool full = false;
};

namespace {

class WriteSession {
 public:
  WriteSession(const ZipSettings& settings, const ZipHooks& hooks, const std::string& zipName,
               const std::vector<ZipSource>& sources, std::atomic<bool>& cancel,
               std::unique_ptr<HeadStart> headStart)
      : settings_(settings),
        hooks_(hooks),
        zipName_(zipName),
        sources_(sources),
        cancel_(cancel),
        headStart_(std::move(headStart)),
        names_([&sources](std::size_t index) { return std::string_view(sources[index].EntryName); }) {}

  ZipResult Run();

 private:
  bool OpenExisting();
  void Plan();
  bool Decide(const std::string& name, bool known, const platform::FileInfo& info,
              std::vector<std::size_t>& replaces);
  bool MainLoop();
  bool CopyOldEntries();
  bool Finish();

  bool Dispatch();
  bool DispatchMore();
  bool DispatchNext();
  enum class Opening { Opened, Skipped, Cancelled };
  // Opens a file on this thread, asking the hooks about a locked one.
  Opening OpenOnWriter(const std::string& path, platform::File& file, platform::FileInfo& info);
  // Fills in what an entry takes from its file's state, and how its data is cut into chunks.
  void Prepare(PendingEntry& entry, const platform::FileInfo& info, std::shared_ptr<ChunkSource> data);
  bool SubmitIfRoom(PendingEntry& entry);
  bool TakeOverOpening(PendingEntry& entry);
  // Takes the chunk started for the entry's file while the sources were listed, if there is one.
  bool ClaimHeadStart(PendingEntry& entry);
  void FlushBatch();
  void SubmitNextChunk(PendingEntry& entry);
  bool ProcessHead(bool& progressed);
  bool CopyStep(CopyJob& job);
  bool WriteFolder(PendingEntry& entry);
  bool WriteLocalHeader(PendingEntry& entry, const Chunk& first);
  bool FinishEntry(PendingEntry& entry);
  void EntryDone(const PendingEntry& entry, uint32_t crc);
  void Drop(PendingEntry& entry, const std::string& reason);
  void GiveBack(std::vector<std::size_t>& replaced);
  AddedRecord RecordFor(const PendingEntry& entry, uint32_t crc, uint64_t compressed,
                        uint64_t uncompressed) const;
  CentralRecord CentralOf(const AddedRecord& added) const;

  bool PollCancel();
  void Message(int id, const std::string& detail);
  void LeftOut(const std::string& path, int errorCode);
  bool Fail(int id, const std::string& detail);
  bool OutputFailed();
  bool Write(const void* data, std::size_t size) { return output_.Write(data, size) || OutputFailed(); }
  bool Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
  void AddProgress(uint64_t bytes);

  const ZipSettings& settings_;
  const ZipHooks& hooks_;
  const std::string& zipName_;
  const std::vector<ZipSource>& sources_;
  std::atomic<bool>& cancel_;
  std::unique_ptr<HeadStart> headStart_;
  ZipResult result_;

  int level_ = 6;
  ChunkEncryption encryption_;  // what a worker applies to an entry of one chunk
  ChunkEncryption::Scheme scheme_ = ChunkEncryption::Scheme::None;
  int aesStrength_ = 0;
  std::unique_ptr<names::OemConverter> oem_;

  bool exists_ = false;
  platform::FileInfo existingInfo_;
  std::unique_ptr<ZipReader> old_;
  std::unordered_map<std::string, std::vector<std::size_t>> oldByName_;
  std::vector<bool> oldReplaced_;
  std::vector<FileIdentity> self_;  // the output and the archive it replaces, never packed

  // Which sources are to be added, and the old entries each replaces, for the few that replace any.
  std::vector<bool> planned_;  // by source index
  std::size_t planCount_ = 0;
  std::unordered_map<std::size_t, std::vector<std::size_t>> replaces_;
  uint64_t planBytes_ = 0;
  std::size_t planDispatched_ = 0;
  std::size_t nextSource_ = 0;
  NameTable names_;

  ArchiveOutput output_;
  std::unique_ptr<ChunkCompressor> compressor_;
  ChunkBatcher batcher_;
  unsigned threads_ = 1;
  std::size_t inflightBytes_ = 0;
  std::size_t inflightLimit_ = 0;
  std::size_t chunkLimit_ = 0;
  std::deque<PendingEntry> pending_;
  std::vector<CentralRecord> oldRecords_;
  std::vector<AddedRecord> records_;

  uint64_t progressTotal_ = 0;
  uint64_t progressDone_ = 0;
  int lastPercent_ = -1;
};

bool WriteSession::PollCancel() {
  if (!cancel_.load() && ((hooks_.CancelFlag != nullptr && hooks_.CancelFlag->load()) ||
                          (hooks_.IsCancelled && hooks_.IsCancelled()))) {
    cancel_ = true;
  }
  return cancel_.load();
}

void WriteSession::Message(int id, const std::string& detail) {
  if (hooks_.OnHandleMessage) hooks_.OnHandleMessage(id, MessageText(id), detail);
}

void WriteSession::LeftOut(const std::string& path, int errorCode) {
  if (hooks_.OnSourceLeftOut) {
    hooks_.OnSourceLeftOut(path, errorCode);
  } else {
    Message(kMsgCouldNotCopyFrom, path + ": " + platform::ErrnoText(errorCode));
  }
}

bool WriteSession::Fail(int id, const std::string& detail) {
  Message(id, detail);
  if (result_.ErrorText.empty()) {
    result_.ErrorText = MessageText(id) + (detail.empty() ? "" : " [" + detail + "]");
  }
  cancel_ = true;
  return false;
}

bool WriteSession::OutputFailed() {
  const int error = output_.Error();
  const int id = error == ENOSPC || error == EDQUOT ? kMsgNotEnoughRoom : kMsgZipError;
  return Fail(id, zipName_ + ": " + std::strerror(error));
}

void WriteSession::AddProgress(uint64_t bytes) {
  progressDone_ += bytes;
  const int percent = progressTotal_ == 0
                          ? 100
                          : static_cast<int>(std::min<uint64_t>(100, progressDone_ * 100 / progressTotal_));
  if (percent != lastPercent_) {
    lastPercent_ = percent;
    if (hooks_.OnTotalPercentDone) hooks_.OnTotalPercentDone(percent);
  }
}

bool WriteSession::OpenExisting() {
  const platform::FileInfo info = platform::StatFollow(zipName_);
  if (!info.exists) {
    if (info.errorCode == ENOENT) return true;
    return Fail(kMsgZipError, zipName_ + ": " + std::strerror(info.errorCode));
  }
  if (info.kind != platform::FileKind::File) return Fail(kMsgZipError, zipName_ + ": not a file");
  exists_ = true;
  existingInfo_ = info;
  ZipError error;
  old_ = ZipReader::Open(zipName_, error);
  if (!old_) {
    // Whatever the file is, it is not ours to overwrite.
    const int id = error.Code == ZipErrorCode::Incomplete ? kMsgIncompleteZip
                   : error.Code == ZipErrorCode::NotAZip  ? kMsgNotAValidZip
                                                          : kMsgZipError;
    return Fail(id, zipName_ + (id == kMsgZipError ? ": " + error.Message : ""));
  }
  const auto& entries = old_->Entries();
  oldReplaced_.assign(entries.size(), false);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    oldByName_[names::EntryNameKey(entries[i], oem_.get())].push_back(i);
  }
  return true;
}

bool WriteSession::Decide(const std::string& name, bool known, const platform::FileInfo& info,
                          std::vector<std::size_t>& replaces) {
  const std::vector<std::size_t>* existing = nullptr;
  if (old_) {
    const auto found = oldByName_.find(name);
    if (found != oldByName_.end() && !oldReplaced_[found->second.front()]) existing = &found->second;
  }
  // A file that cannot be examined is tried anyway, so its failure is reported when it is opened.
  const bool newer = !known || existing == nullptr || EntryIsOlder(old_->Entries()[existing->back()], info);
  bool add = false;
  switch (settings_.ZipAction) {
    case ZipAction::zaUpdate:
      add = existing == nullptr || newer;
      break;
    case ZipAction::zaReplace:
      add = true;
      break;
    case ZipAction::zaFreshen:
      add = existing != nullptr && newer;
      break;
  }
  if (add && existing != nullptr) {
    replaces = *existing;
    for (std::size_t index : replaces) {
      oldReplaced_[index] = true;
      progressTotal_ -= std::min(progressTotal_, old_->Entries()[index].CompressedSize);
    }
  }
  return add;
}

void WriteSession::Plan() {
  planned_.assign(sources_.size(), false);
  std::size_t nameBytes = 0;
  if (old_) {
    for (const ZipEntry& entry : old_->Entries())
      progressTotal_ += entry.CompressedSize;
  }
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    const ZipSource& source = sources_[i];
    const std::string name = NormalizeName(source.EntryName, source.IsFolder);
    // The file is examined here only when an old entry of its name needs its time, or when the
    // caller did not say its size; a link's own size is the length of its target text, which is
    // what gets stored.
    platform::FileInfo info;
    if (source.SeenSize != ZipSource::kSizeNotSeen && !oldByName_.contains(name)) {
      info.exists = true;
      info.size = source.SeenSize;
    } else {
      info = source.IsLink ? platform::Stat(source.DiskPath) : platform::StatFollow(source.DiskPath);
    }
    const bool known = info.exists;
    std::vector<std::size_t> replaces;
    if (!Decide(name, known, info, replaces)) continue;
    if (!replaces.empty()) replaces_[i] = std::move(replaces);
    if (known && !source.IsFolder) planBytes_ += info.size;
    planned_[i] = true;
    ++planCount_;
    if (name != source.EntryName) nameBytes += name.size();
  }
  progressTotal_ += planBytes_;
  // What is kept for every entry is sized once, as a doubling vector would for a moment need half
  // as much again.
  names_.Reserve(nameBytes);
  records_.reserve(planCount_);
  result_.Added.reserve(planCount_);
}

// Old entries that were to be replaced but are not, because their file could not be added, stay.
void WriteSession::GiveBack(std::vector<std::size_t>& replaced) {
  for (std::size_t index : replaced) {
    oldReplaced_[index] = false;
    progressTotal_ += old_->Entries()[index].CompressedSize;
  }
  replaced.clear();
}

bool WriteSession::Dispatch() {
  const bool ok = DispatchMore();
  // Whatever the dispatcher stops at must be on its way: the main loop may wait for it next.
  FlushBatch();
  return ok;
}

void WriteSession::FlushBatch() {
  batcher_.Flush(*compressor_);
}

bool WriteSession::DispatchMore() {
  while (!cancel_.load()) {
    if (!pending_.empty() && NeedsChunks(pending_.back())) {
      if (!SubmitIfRoom(pending_.back())) return true;
      continue;
    }
    if (planDispatched_ >= planCount_ || pending_.size() >= kMaxPending) return true;
    if (inflightBytes_ >= inflightLimit_) return true;
    if (!DispatchNext()) return false;
  }
  return !cancel_.load();
}

bool WriteSession::ClaimHeadStart(PendingEntry& entry) {
  if (!headStart_) return false;
  const auto found = headStart_->chunks.find(entry.Path);
  if (found == headStart_->chunks.end()) return false;
  std::shared_ptr<Chunk> chunk = std::move(found->second);
  headStart_->chunks.erase(found);
  if (chunk->Length != entry.Size) {
    chunk->Source->Abandoned = true;
    return false;
  }
  entry.Source = chunk->Source;
  entry.Submitted = 1;
  inflightBytes_ += std::max<std::size_t>(chunk->Length, 1);
  entry.Chunks.push_back(std::move(chunk));
  return true;
}

bool WriteSession::SubmitIfRoom(PendingEntry& entry) {
  const bool whole = entry.ChunkCount == 1;
  const uint64_t next =
      whole ? entry.Size : std::min<uint64_t>(kChunkSize, entry.Size - entry.Submitted * kChunkSize);
  const std::size_t limit = whole ? inflightLimit_ : chunkLimit_;
  if (inflightBytes_ > 0 && inflightBytes_ + next > limit) return false;
  SubmitNextChunk(entry);
  return true;
}

void WriteSession::SubmitNextChunk(PendingEntry& entry) {
  auto chunk = std::make_shared<Chunk>();
  chunk->Source = entry.Source;
  chunk->Offset = entry.Submitted * kChunkSize;
  chunk->Length = static_cast<std::size_t>(
      entry.ChunkCount == 1 ? entry.Size : std::min<uint64_t>(kChunkSize, entry.Size - chunk->Offset));
  chunk->Last = entry.Submitted + 1 == entry.ChunkCount;
  ++entry.Submitted;
  inflightBytes_ += std::max<std::size_t>(chunk->Length, 1);
  entry.Chunks.push_back(chunk);
  batcher_.Add(std::move(chunk), *compressor_);
}

bool WriteSession::DispatchNext() {
  while (!planned_[nextSource_])
    ++nextSource_;
  const std::size_t sourceIndex = nextSource_++;
  ++planDispatched_;
  const ZipSource& source = sources_[sourceIndex];
  const bool folder = source.IsFolder;
  std::vector<std::size_t> replaces;
  if (const auto found = replaces_.find(sourceIndex); found != replaces_.end()) {
    replaces = std::move(found->second);
    replaces_.erase(found);
  }
  const std::string planned = NormalizeName(source.EntryName, folder);
  std::string name = planned;
  bool renamed = false;
  if (hooks_.OnStartZip) {
    hooks_.OnStartZip(source.DiskPath, name);
    name = NormalizeName(std::move(name), folder);
    if (name != planned) {
      // The action is decided again below for the name the entry really gets.
      GiveBack(replaces);
      renamed = true;
    }
  }
  if (name.size() > kMax16) {
    LeftOut(source.DiskPath, ENAMETOOLONG);
    GiveBack(replaces);
    return true;
  }
  if (name.empty()) {
    Message(kMsgZipError, "Unusable entry name for " + source.DiskPath);
    GiveBack(replaces);
    return true;
  }
  // Most names are stored as the caller gave them, and then the caller's copy is the only one.
  NameTable::Ref nameRef;
  if (!(name == source.EntryName ? names_.InsertLent(sourceIndex, nameRef) : names_.Insert(name, nameRef))) {
    Message(kMsgZipError, "Duplicate entry name: " + name);
    GiveBack(replaces);
    return true;
  }

  PendingEntry entry;
  entry.SourceIndex = sourceIndex;
  entry.Path = source.DiskPath;
  entry.Folder = folder;
  entry.Replaces = std::move(replaces);
  entry.Name = names::EncodeEntryName(name, settings_.OEMConvert, oem_.get());
  entry.NameRef = entry.Name.Bytes == name ? nameRef : names_.Append(entry.Name.Bytes);

  if (!folder && !source.IsLink && !renamed && source.SeenSize < kWholeFileLimit) {
    // The size the walk saw decides the plan; the worker checks it against what it opens.
    entry.Size = source.SeenSize;
    entry.ChunkCount = 1;
    if (ClaimHeadStart(entry)) {
      pending_.push_back(std::move(entry));
      return true;
    }
    entry.Source = DeferredSource(source.DiskPath, self_, encryption_);
    pending_.push_back(std::move(entry));
    return true;
  }

  platform::FileInfo info;
  std::shared_ptr<ChunkSource> data;
  if (source.IsLink) {
    // Never followed, so a link to a folder or a link loop adds nothing but the link itself.
    info = platform::Stat(source.DiskPath);
    auto target = info.kind == platform::FileKind::Symlink
                      ? platform::ReadLink(source.DiskPath)
                      : platform::Result<std::string>(
                            platform::Status::Failure(info.exists ? EINVAL : info.errorCode, ""));
    if (!target) {
      Message(kMsgCouldNotCopyFrom, source.DiskPath + ": " + std::strerror(target.Code()));
      GiveBack(entry.Replaces);
      return true;
    }
    info.size = target->size();
    data = std::make_shared<ChunkSource>(std::move(*target));
  } else if (folder) {
    info = platform::StatFollow(source.DiskPath);
    if (!info.exists) {
      Message(kMsgCouldNotCopyFrom, source.DiskPath + ": " + std::strerror(info.errorCode));
      GiveBack(entry.Replaces);
      return true;
    }
  } else {
    platform::File file;
    const Opening opening = OpenOnWriter(source.DiskPath, file, info);
    if (opening == Opening::Cancelled) return false;
    if (opening == Opening::Skipped) {
      GiveBack(entry.Replaces);
      return true;
    }
    data = std::make_shared<ChunkSource>(std::move(file));
  }
  if (renamed && !Decide(name, true, info, entry.Replaces)) return true;
  Prepare(entry, info, std::move(data));
  pending_.push_back(std::move(entry));
  return true;
}

WriteSession::Opening WriteSession::OpenOnWriter(const std::string& path, platform::File& file,
                                                 platform::FileInfo& info) {
  OpenMode mode = OpenMode::omShareDenyWrite;
  for (;;) {
    if (PollCancel()) return Opening::Cancelled;
    OpenResult opened = OpenSource(path, mode, self_);
    if (opened.Outcome == OpenOutcome::Opened) {
      file = std::move(opened.File);
      info = opened.Info;
      return Opening::Opened;
    }
    if (opened.Outcome == OpenOutcome::Excluded) return Opening::Skipped;
    if (opened.Outcome == OpenOutcome::NotRegular) {
      Message(kMsgCouldNotCopyFrom, path + ": not a regular file");
      return Opening::Skipped;
    }
    if (opened.Outcome != OpenOutcome::Locked && !MayBeLockedOut(opened.Error)) {
      LeftOut(path, opened.Error);
      return Opening::Skipped;
    }
    if (!hooks_.OnSkippingFile) {
      const std::string reason =
          opened.Outcome == OpenOutcome::Locked ? "locked by another process" : std::strerror(opened.Error);
      Message(kMsgCouldNotCopyFrom, path + ": " + reason);
      return Opening::Skipped;
    }
    const SkipAnswer answer = hooks_.OnSkippingFile(path, SkipReason::srFileOpenError, mode);
    if (answer == SkipAnswer::Retry) continue;
    if (answer == SkipAnswer::PackShared) {
      mode = OpenMode::omShareDenyNone;
      continue;
    }
    if (answer == SkipAnswer::Abort) {
      cancel_ = true;
      return Opening::Cancelled;
    }
    return Opening::Skipped;
  }
}

void WriteSession::Prepare(PendingEntry& entry, const platform::FileInfo& info,
                           std::shared_ptr<ChunkSource> data) {
  entry.Mode = UnixMode(info);
  entry.Mtime = MtimeSeconds(info);
  entry.Dos = ToDosDateTime(entry.Mtime);
  if (entry.Folder) return;
  entry.Size = info.size;
  entry.ChunkCount =
      entry.Size < kWholeFileLimit ? 1 : static_cast<std::size_t>((entry.Size + kChunkSize - 1) / kChunkSize);
  entry.Submitted = 0;
  entry.Source = std::move(data);
  entry.Source->SingleChunk = entry.ChunkCount == 1;
  if (entry.Source->SingleChunk) entry.Source->Encryption = encryption_;
  entry.Zip64Local = entry.Size >= kZip64Threshold;
  entry.Descriptor = scheme_ == ChunkEncryption::Scheme::Pkware && !entry.Source->SingleChunk;
}

AddedRecord WriteSession::RecordFor(const PendingEntry& entry, uint32_t crc, uint64_t compressed,
                                    uint64_t uncompressed) const {
  AddedRecord record;
  // A name in the OEM code page has to be marked as written on MS-DOS, or readers on Unix would take
  // its bytes as they are; a plain ASCII name reads the same either way, so it is marked Unix and
  // carries the file's Unix mode, which unzip, 7-Zip and bsdtar restore.
  const bool dosHost = entry.Name.Oem && !IsAscii(entry.Name.Bytes);
  record.Host = dosHost ? kHostMsDos : kHostUnix;
  record.VersionNeeded = static_cast<uint8_t>(entry.VersionNeeded);
  record.Flags = entry.Flags;
  record.Method = entry.Method;
  record.Crc = crc;
  record.CompressedSize = compressed;
  record.UncompressedSize = uncompressed;
  record.Offset = entry.HeaderOffset;
  record.External = ExternalAttributes(entry.Mode, entry.Folder, dosHost);
  record.Name = entry.NameRef;
  record.Mtime = entry.Mtime;
  record.RealMethod = static_cast<uint8_t>(entry.RealMethod);
  record.ForceZip64Sizes = entry.Zip64Local;
  return record;
}

CentralRecord WriteSession::CentralOf(const AddedRecord& added) const {
  CentralRecord record;
  record.VersionMadeBy = static_cast<uint16_t>((added.Host << 8) | kSpecVersion);
  record.VersionNeeded = added.VersionNeeded;
  record.Flags = added.Flags;
  record.Method = added.Method;
  const DosDateTime dos = ToDosDateTime(added.Mtime);
  record.Time = dos.Time;
  record.Date = dos.Date;
  record.Crc = added.Crc;
  record.CompressedSize = added.CompressedSize;
  record.UncompressedSize = added.UncompressedSize;
  record.Offset = added.Offset;
  record.External = added.External;
  record.Name = names_.View(added.Name);
  record.Extra = TimestampExtra(added.Mtime);
  if (added.Method == kMethodAes)
    record.Extra += AesExtra(static_cast<uint8_t>(aesStrength_), added.RealMethod);
  record.ForceZip64Sizes = added.ForceZip64Sizes;
  return record;
}

std::string LocalHeader(const PendingEntry& entry, uint32_t crc, uint32_t compressed, uint32_t uncompressed,
                        const std::string& extra) {
  std::string header;
  Put32(header, kLocalHeaderSignature);
  Put16(header, entry.VersionNeeded);
  Put16(header, entry.Flags);
  Put16(header, entry.Method);
  Put16(header, entry.Dos.Time);
  Put16(header, entry.Dos.Date);
  Put32(header, crc);
  Put32(header, compressed);
  Put32(header, uncompressed);
  Put16(header, static_cast<uint16_t>(entry.Name.Bytes.size()));
  Put16(header, static_cast<uint16_t>(extra.size()));
  header += entry.Name.Bytes;
  header += extra;
  return header;
}

void WriteSession::EntryDone(const PendingEntry& entry, uint32_t crc) {
  records_.push_back(RecordFor(entry, crc, entry.Written, entry.Uncompressed));
  if (hooks_.OnEndZip) hooks_.OnEndZip(entry.Path, entry.Uncompressed);
  result_.Added.push_back(entry.SourceIndex);
}

bool WriteSession::WriteFolder(PendingEntry& entry) {
  entry.HeaderOffset = output_.Offset();
  entry.Flags = entry.Name.Utf8Flag ? kFlagUtf8 : 0;
  entry.Method = kMethodStored;
  entry.VersionNeeded = 20;
  entry.CentralExtra = TimestampExtra(entry.Mtime);
  if (!Write(LocalHeader(entry, 0, 0, 0, entry.CentralExtra))) return false;
  EntryDone(entry, 0);
  return true;
}

bool WriteSession::WriteLocalHeader(PendingEntry& entry, const Chunk& first) {
  const bool single = entry.Source->SingleChunk;
  const bool encrypted = scheme_ != ChunkEncryption::Scheme::None;
  const bool aes = scheme_ == ChunkEncryption::Scheme::Aes;
  entry.HeaderOffset = output_.Offset();
  entry.RealMethod = (single ? first.Stored : level_ == 0) ? kMethodStored : kMethodDeflate;
  entry.Method = aes ? kMethodAes : entry.RealMethod;
  entry.Flags =
      static_cast<uint16_t>((entry.Name.Utf8Flag ? kFlagUtf8 : 0) | (encrypted ? kFlagEncrypted : 0) |
                            (entry.Descriptor ? kFlagDataDescriptor : 0) |
                            (entry.RealMethod == kMethodDeflate ? DeflateOptionFlags(level_) : 0));
  uint16_t version = entry.RealMethod == kMethodDeflate || encrypted ? 20 : 10;
  if (entry.Zip64Local) version = 45;
  if (aes) version = 51;
  entry.VersionNeeded = version;

  entry.CentralExtra = TimestampExtra(entry.Mtime);
  if (aes) entry.CentralExtra += AesExtra(static_cast<uint8_t>(aesStrength_), entry.RealMethod);
  const uint32_t crc = single && !entry.Descriptor ? first.Crc : 0;
  const uint64_t compressed = single ? first.Data.size() : 0;
  const uint64_t uncompressed = single ? first.BytesRead : 0;
  std::string extra;
  if (entry.Zip64Local) {
    Put16(extra, kExtraZip64);
    Put16(extra, 16);
    Put64(extra, uncompressed);
    Put64(extra, compressed);
  }
  extra += entry.CentralExtra;

  if (!Write(LocalHeader(entry, crc, entry.Zip64Local ? kMax32 : static_cast<uint32_t>(compressed),
                         entry.Zip64Local ? kMax32 : static_cast<uint32_t>(uncompressed), extra))) {
    return false;
  }
  entry.HeaderWritten = true;
  if (single || !encrypted) return true;

  // A streamed entry is encrypted here, in order, since its cipher state runs through all chunks.
  if (scheme_ == ChunkEncryption::Scheme::Pkware) {
    entry.Pkware.emplace(settings_.Password);
    unsigned char head[crypto::kPkwareHeaderSize];
    // With a data descriptor the check byte comes from the time: the CRC is not known yet.
    if (!crypto::MakePkwareHeader(*entry.Pkware, static_cast<unsigned char>(entry.Dos.Time >> 8), head)) {
      return Fail(kMsgZipError, "The random number generator failed");
    }
    entry.Written += sizeof(head);
    return Write(head, sizeof(head));
  }
  const std::size_t saltSize = crypto::AesSaltSize(aesStrength_);
  unsigned char salt[16];
  if (!crypto::RandomBytes(salt, saltSize)) return Fail(kMsgZipError, "The random number generator failed");
  entry.Aes = crypto::AesCipher::Create(aesStrength_, settings_.Password, salt,
                                        crypto::AesCipher::Direction::Encrypt);
  if (!entry.Aes) return Fail(kMsgZipError, "AES key derivation failed");
  entry.Written += saltSize + crypto::kAesVerifierSize;
  return Write(salt, saltSize) && Write(entry.Aes->Verifier().data(), crypto::kAesVerifierSize);
}

bool WriteSession::FinishEntry(PendingEntry& entry) {
  if (entry.Aes) {
    std::array<unsigned char, crypto::kAesMacSize> mac{};
    if (!entry.Aes->Finish(mac)) return Fail(kMsgZipError, "AES encryption failed");
    if (!Write(mac.data(), mac.size())) return false;
    entry.Written += mac.size();
  }
  if (entry.Descriptor) {
    if (!Write(DataDescriptor(entry.Crc, entry.Written, entry.Uncompressed, entry.Zip64Local))) return false;
  } else if (!entry.Source->SingleChunk) {
    char crc[4];
    Store32(crc, entry.Crc);
    bool patched = output_.Patch(entry.HeaderOffset + 14, crc, 4);
    if (entry.Zip64Local) {
      std::string sizes;
      Put64(sizes, entry.Uncompressed);
      Put64(sizes, entry.Written);
      patched = patched && output_.Patch(entry.HeaderOffset + kLocalHeaderSize + entry.Name.Bytes.size() + 4,
                                         sizes.data(), sizes.size());
    } else {
      std::string sizes;
      Put32(sizes, static_cast<uint32_t>(entry.Written));
      Put32(sizes, static_cast<uint32_t>(entry.Uncompressed));
      patched = patched && output_.Patch(entry.HeaderOffset + 18, sizes.data(), sizes.size());
    }
    if (!patched) return OutputFailed();
  }
  EntryDone(entry, entry.Crc);
  return true;
}

void WriteSession::Drop(PendingEntry& entry, const std::string& reason) {
  Message(kMsgCouldNotCopyFrom, entry.Path + ": " + reason);
  if (entry.HeaderWritten) output_.Rewind(entry.HeaderOffset);
  GiveBack(entry.Replaces);
  entry.Closed = true;
  entry.Source->Abandoned = true;
}

bool WriteSession::ProcessHead(bool& progressed) {
  progressed = false;
  PendingEntry& entry = pending_.front();
  if (entry.Folder) {
    if (!WriteFolder(entry)) return false;
    pending_.pop_front();
    progressed = true;
    return true;
  }
  if (entry.Source->OpenOnWorker && !entry.HeaderWritten && !entry.Chunks.empty() &&
      entry.Chunks.front()->Done.load(std::memory_order_acquire)) {
    const Chunk& first = *entry.Chunks.front();
    if (first.OpenOnWriter) {
      progressed = true;
      return TakeOverOpening(entry);
    }
    const bool self = std::any_of(self_.begin(), self_.end(), [&](const FileIdentity& id) {
      return first.Info.exists && id.Device == first.Info.device && id.Inode == first.Info.inode;
    });
    if (self) {
      // The archive itself, listed among the sources: never packed, and nothing to report.
      GiveBack(entry.Replaces);
      entry.Closed = true;
      entry.Source->Abandoned = true;
    } else if (first.Info.exists) {
      entry.Mode = UnixMode(first.Info);
      entry.Mtime = MtimeSeconds(first.Info);
      entry.Dos = ToDosDateTime(entry.Mtime);
    }
  }
  while (!entry.Chunks.empty() && entry.Chunks.front()->Done.load(std::memory_order_acquire)) {
    std::shared_ptr<Chunk> chunk = std::move(entry.Chunks.front());
    entry.Chunks.pop_front();
    inflightBytes_ -= std::max<std::size_t>(chunk->Length, 1);
    progressed = true;
    if (entry.Closed) continue;
    if (!chunk->Fatal.empty()) return Fail(kMsgZipError, entry.Path + ": " + chunk->Fatal);
    if (chunk->Skipped || PollCancel()) return false;
    if (chunk->ReadError != 0) {
      Drop(entry, std::strerror(chunk->ReadError));
      continue;
    }
    if (!entry.HeaderWritten && !WriteLocalHeader(entry, *chunk)) return false;
    if (entry.Pkware) entry.Pkware->Encrypt(chunk->Data.data(), chunk->Data.size());
    if (entry.Aes && !entry.Aes->Process(chunk->Data.data(), chunk->Data.size())) {
      return Fail(kMsgZipError, "AES encryption failed");
    }
    if (!Write(chunk->Data.data(), chunk->Data.size())) return false;
    entry.Written += chunk->Data.size();
    entry.Crc = static_cast<uint32_t>(
        crc32_combine64(entry.Crc, chunk->Crc, static_cast<z_off64_t>(chunk->BytesRead)));
    entry.Uncompressed += chunk->BytesRead;
    entry.ProgressCounted += chunk->Length;
    AddProgress(chunk->Length);
    if (chunk->ShortRead) Message(kMsgReadLessThanReported, entry.Path);
    if (chunk->Last || chunk->ShortRead) {
      if (!FinishEntry(entry)) return false;
      entry.Closed = true;
      entry.Source->Abandoned = true;
    }
  }
  // The chunks of a file the writer had to open itself after the worker gave it back.
  if (NeedsChunks(entry)) {
    while (NeedsChunks(entry) && SubmitIfRoom(entry)) {
    }
    FlushBatch();
  }
  if (entry.Closed) {
    if (entry.ProgressCounted < entry.Size) {
      AddProgress(entry.Size - entry.ProgressCounted);
      entry.ProgressCounted = entry.Size;
    }
    if (entry.Chunks.empty() && (entry.Submitted == entry.ChunkCount || entry.Source->Abandoned)) {
      pending_.pop_front();
      progressed = true;
    }
  }
  return true;
}

// A file the worker could not take as planned (locked, unreadable, gone, or of another size than
// the walk saw) is opened here, as every file used to be, and its data submitted anew.
bool WriteSession::TakeOverOpening(PendingEntry& entry) {
  const std::shared_ptr<Chunk> given = std::move(entry.Chunks.front());
  entry.Chunks.pop_front();
  inflightBytes_ -= std::max<std::size_t>(given->Length, 1);
  platform::File file;
  platform::FileInfo info;
  const Opening opening = OpenOnWriter(entry.Path, file, info);
  if (opening == Opening::Cancelled) return false;
  if (opening == Opening::Skipped) {
    GiveBack(entry.Replaces);
    entry.Closed = true;
    entry.Source->Abandoned = true;
    return true;
  }
  progressTotal_ = progressTotal_ - std::min(progressTotal_, entry.Size) + info.size;
  Prepare(entry, info, std::make_shared<ChunkSource>(std::move(file)));
  while (NeedsChunks(entry) && SubmitIfRoom(entry)) {
  }
  FlushBatch();
  return true;
}

bool WriteSession::CopyStep(CopyJob& job) {
  const ZipEntry& entry = old_->Entries()[job.OldIndex];
  if (!job.Started) {
    const ZipError error = old_->Locate(job.OldIndex, job.Location);
    if (error) {
      return Fail(error.Code == ZipErrorCode::Io ? kMsgZipError : kMsgNotAValidZip,
                  zipName_ + ": " + error.Message);
    }
    job.Started = true;
    job.Position = job.Location.LocalHeaderOffset;
    job.NewOffset = output_.Offset();
  }
  unsigned char block[kCopyBlock];
  while (job.Position < job.Location.DataEnd) {
    if (PollCancel()) return false;
    const std::size_t n =
        static_cast<std::size_t>(std::min<uint64_t>(sizeof(block), job.Location.DataEnd - job.Position));
    if (!old_->ReadRaw(job.Position, block, n))
      return Fail(kMsgZipError, zipName_ + ": the archive cannot be read");
    if (!Write(block, n)) return false;
    const uint64_t dataBefore =
        job.Position < job.Location.DataOffset ? job.Location.DataOffset - job.Position : 0;
    AddProgress(n > dataBefore ? n - dataBefore : 0);
    job.Position += n;
  }

  // The old descriptor is not copied: its form varies between writers, and one written anew
  // matches the directory for sure.
  if ((entry.Flags & kFlagDataDescriptor) != 0 &&
      !Write(DataDescriptor(entry.Crc32, entry.CompressedSize, entry.UncompressedSize,
                            job.Location.LocalZip64))) {
    return false;
  }
  CentralRecord record;
  record.VersionMadeBy = entry.VersionMadeBy;
  record.VersionNeeded = entry.VersionNeeded;
  record.Flags = entry.Flags;
  record.Method = entry.Method;
  record.Time = entry.DosTime;
  record.Date = entry.DosDate;
  record.Crc = entry.Crc32;
  record.CompressedSize = entry.CompressedSize;
  record.UncompressedSize = entry.UncompressedSize;
  record.Offset = job.NewOffset;
  record.Internal = entry.InternalAttributes;
  record.External = entry.ExternalAttributes;
  record.Name = entry.Name;
  record.Extra = RemoveExtraField(entry.Extra, kExtraZip64);
  record.Comment = entry.Comment;
  record.ForceZip64Sizes = job.Location.LocalZip64;
  oldRecords_.push_back(std::move(record));
  return true;
}

bool WriteSession::MainLoop() {
  for (;;) {
    if (PollCancel()) return false;
    // Refill once the window has drained to half, so that small files go out in full batches.
    if (pending_.empty() || (pending_.size() <= kMaxPending / 2 && inflightBytes_ <= inflightLimit_ / 2)) {
      if (!Dispatch()) return false;
    }
    if (pending_.empty()) {
      if (planDispatched_ >= planCount_) return true;
      continue;
    }
    const uint64_t seen = compressor_->Finished();
    bool progressed = false;
    if (!ProcessHead(progressed)) return false;
    if (!progressed) compressor_->WaitForChange(seen, std::chrono::milliseconds(50));
  }
}

// Old entries go after the new ones in the file, when every replacement has been settled, but
// first in the central directory, in their old order; readers list entries in directory order.
bool WriteSession::CopyOldEntries() {
  if (!old_) return true;
  for (std::size_t i = 0; i < old_->Entries().size(); ++i) {
    if (oldReplaced_[i]) continue;
    CopyJob job;
    job.OldIndex = i;
    if (!CopyStep(job)) return false;
  }
  return true;
}

bool WriteSession::Finish() {
  const uint64_t directoryStart = output_.Offset();
  const auto writeRecord = [this](const CentralRecord& record) {
    const auto bytes = SerializeCentral(record);
    if (!bytes) return Fail(kMsgZipError, "Entry fields too long: " + record.Name);
    return Write(*bytes);
  };
  for (const CentralRecord& record : oldRecords_) {
    if (!writeRecord(record)) return false;
  }
  for (const AddedRecord& record : records_) {
    if (!writeRecord(CentralOf(record))) return false;
  }
  const uint64_t directoryEnd = output_.Offset();
  const uint64_t count = oldRecords_.size() + records_.size();
  const uint64_t directorySize = directoryEnd - directoryStart;
  std::string tail;
  if (count >= kMax16 || directorySize >= kMax32 || directoryStart >= kMax32) {
    Put32(tail, kZip64EndSignature);
    Put64(tail, kZip64EndSize - 12);
    Put16(tail, static_cast<uint16_t>((kHostUnix << 8) | kSpecVersion));
    Put16(tail, 45);
    Put32(tail, 0);
    Put32(tail, 0);
    Put64(tail, count);
    Put64(tail, count);
    Put64(tail, directorySize);
    Put64(tail, directoryStart);
    Put32(tail, kZip64LocatorSignature);
    Put32(tail, 0);
    Put64(tail, directoryEnd);
    Put32(tail, 1);
  }
  const std::string comment = (settings_.Comment ? *settings_.Comment
                               : old_            ? old_->Comment()
                                                 : std::string())
                                  .substr(0, kMax16);
  Put32(tail, kEndOfCentralSignature);
  Put16(tail, 0);
  Put16(tail, 0);
  Put16(tail, static_cast<uint16_t>(std::min<uint64_t>(count, kMax16)));
  Put16(tail, static_cast<uint16_t>(std::min<uint64_t>(count, kMax16)));
  Put32(tail, static_cast<uint32_t>(std::min<uint64_t>(directorySize, kMax32)));
  Put32(tail, static_cast<uint32_t>(std::min<uint64_t>(directoryStart, kMax32)));
  Put16(tail, static_cast<uint16_t>(comment.size()));
  tail += comment;
  if (!Write(tail)) return false;

  std::optional<uint32_t> mode;
  std::optional<std::pair<uint32_t, uint32_t>> owner;
  if (exists_) {
    // Giving the file our own owner and group again is always allowed and changes nothing.
    mode = existingInfo_.mode;
    owner = std::make_pair(existingInfo_.uid, existingInfo_.gid);
  }
  // The last chance to stop before the old archive is replaced.
  if (PollCancel()) return false;
  if (!output_.Commit(mode, owner)) return OutputFailed();
  return true;
}

ZipResult WriteSession::Run() {
  level_ = std::clamp(settings_.PackLevel, 0, 9);
  encryption_ = EncryptionOf(settings_);
  scheme_ = encryption_.Kind;
  aesStrength_ = encryption_.AesStrength;
  const std::string codePage =
      settings_.OemCodePage.empty() ? names::DefaultOemCodePage() : settings_.OemCodePage;
  oem_ = std::make_unique<names::OemConverter>(codePage);
  threads_ = WorkerThreads(settings_);
  // The chunks of one large file need less room than whole files to keep every worker busy.
  inflightLimit_ = InflightLimit(threads_);
  chunkLimit_ = std::max<std::size_t>(4, 3 * threads_) * kChunkSize;

  if (!OpenExisting()) return std::move(result_);
  Plan();
  if (planCount_ == 0) {
    result_.Ok = true;
    return std::move(result_);
  }
  if (hooks_.OnStartZipInfo) hooks_.OnStartZipInfo(planCount_, planBytes_);

  if (!output_.Create(zipName_)) {
    const int error = output_.Error();
    Fail(error == ENOSPC || error == EDQUOT ? kMsgNotEnoughRoom : kMsgZipError,
         ArchiveOutput::ScratchPathFor(zipName_) + ": " +
             (error == EBUSY ? "another process is writing this archive" : std::strerror(error)));
    return std::move(result_);
  }
  // An archive never packs itself, whether its old or its new self.
  self_.push_back({output_.Device(), output_.Inode()});
  if (exists_) self_.push_back({existingInfo_.device, existingInfo_.inode});
  // What was started early is only of use to a new archive, which takes every file listed.
  if (headStart_ && headStart_->compressor && !exists_) {
    headStart_->batcher.Flush(*headStart_->compressor);
    compressor_ = std::move(headStart_->compressor);
  } else {
    headStart_.reset();
    compressor_ = std::make_unique<ChunkCompressor>(threads_, level_, cancel_, hooks_.CancelFlag);
  }

  const bool written = MainLoop();
  if (headStart_) {
    for (auto& [path, chunk] : headStart_->chunks)
      chunk->Source->Abandoned = true;
  }
  compressor_.reset();
  headStart_.reset();
  if (written && !cancel_.load() && result_.Added.empty()) {
    // Everything was skipped: the archive as it was is the right result.
    output_.Abort();
    result_.Ok = true;
    return std::move(result_);
  }
  if (!written || !CopyOldEntries() || !Finish()) {
    output_.Abort();
    result_.Cancelled = result_.ErrorText.empty();
    if (result_.Cancelled) result_.ErrorText = "Cancelled";
    result_.Added.clear();
    return std::move(result_);
  }
  result_.Ok = true;
  result_.FilesAdded = result_.Added.size();
  AddProgress(progressTotal_);
  if (hooks_.OnFileAdded) {
    for (std::size_t i = 0; i < result_.Added.size(); ++i)
      hooks_.OnFileAdded(result_.Added[i], sources_[result_.Added[i]].DiskPath);
  }
  return std::move(result_);
}

}  // namespace

ZipWriter::ZipWriter(ZipSettings settings, ZipHooks hooks)
    : settings_(std::move(settings)), hooks_(std::move(hooks)) {}

ZipWriter::~ZipWriter() = default;

void ZipWriter::StartEarly(const std::string& path, uint64_t size) {
  if (size >= kWholeFileLimit || (headStart_ && headStart_->full)) return;
  if (!headStart_) {
    headStart_ = std::make_unique<HeadStart>();
    const unsigned threads = WorkerThreads(settings_);
    headStart_->limit = InflightLimit(threads);
    headStart_->compressor = std::make_unique<ChunkCompressor>(threads, std::clamp(settings_.PackLevel, 0, 9),
                                                               cancel_, hooks_.CancelFlag);
  }
  HeadStart& early = *headStart_;
  const std::size_t bytes = std::max<std::size_t>(static_cast<std::size_t>(size), 1);
  if (early.bytes + bytes > early.limit || early.chunks.size() >= kMaxHeadStartFiles) {
    early.full = true;
    early.batcher.Flush(*early.compressor);
    return;
  }
  auto chunk = std::make_shared<Chunk>();
  chunk->Source = DeferredSource(path, early.excluded, EncryptionOf(settings_));
  chunk->Length = static_cast<std::size_t>(size);
  chunk->Last = true;
  const std::string_view key = chunk->Source->OpenLater.Path;
  if (!early.chunks.emplace(key, chunk).second) return;
  early.bytes += bytes;
  early.batcher.Add(std::move(chunk), *early.compressor);
}

ZipResult ZipWriter::Write(const std::string& zipName, const std::vector<ZipSource>& sources) {
  try {
    cancel_ = false;
    WriteSession session(settings_, hooks_, zipName, sources, cancel_, std::move(headStart_));
    return session.Run();
  } catch (const std::exception& e) {
    ZipResult result;
    result.ErrorText = MessageText(kMsgZipError) + " [" + e.what() + "]";
    return result;
  }
}

}  // namespace zentrove::engine::zip
