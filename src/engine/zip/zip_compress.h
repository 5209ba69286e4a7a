#pragma once

// Compression of entry data on a small pool of threads, by libdeflate, which is several times
// faster than zlib at the same level but has no streaming. A file smaller than kWholeFileLimit
// bytes is one chunk, deflated in one call. A larger file is cut into chunks of kChunkSize bytes,
// each deflated on its own and, but for the last, turned into a part that ends on a byte boundary
// without ending the stream, so the chunks laid end to end form one valid deflate stream. Their
// CRCs are joined with crc32_combine. Memory stays bounded by the bytes of the chunks in flight,
// whatever the file sizes.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/zip/zip_source.h"
#include "platform/file_handle.h"

namespace zentrove::engine::zip {

inline constexpr std::size_t kChunkSize = 1024 * 1024;
inline constexpr std::size_t kWholeFileLimit = 8 * 1024 * 1024;

// Encryption done on the worker for an entry that is one chunk: its CRC is known before the
// encryption header is made, and the key derivation runs in parallel with other entries.
struct ChunkEncryption {
  enum class Scheme { None, Pkware, Aes };
  Scheme Kind = Scheme::None;
  std::string Password;
  int AesStrength = 0;
};

// What the chunks of one entry share.
struct ChunkSource {
  explicit ChunkSource(platform::File file) : File(std::move(file)) {}
  // A small file the worker opens itself, so that the opening and the lock test of many small files
  // run in parallel rather than on the thread that writes the archive. Anything unusual (a lock, an
  // error, a size other than the one planned) is left to that thread, which has the hooks to ask.
  struct Deferred {
    std::string Path;
    const std::vector<FileIdentity>* Excluded = nullptr;
  };
  explicit ChunkSource(Deferred deferred) : OpenLater(std::move(deferred)), OpenOnWorker(true) {}
  // The data of an entry that comes from memory (a symbolic link's target) rather than a file.
  explicit ChunkSource(std::string bytes) : Bytes(std::move(bytes)), FromMemory(true) {}
  platform::Result<std::size_t> ReadAt(uint64_t offset, void* out, std::size_t size) const {
    if (!FromMemory) return File.ReadAt(offset, out, size);
    if (offset >= Bytes.size()) return std::size_t{0};
    const std::size_t n = std::min<std::size_t>(size, Bytes.size() - static_cast<std::size_t>(offset));
    std::memcpy(out, Bytes.data() + offset, n);
    return n;
  }
  platform::File File;
  std::string Bytes;
  Deferred OpenLater;
  bool FromMemory = false;
  bool OpenOnWorker = false;
  bool SingleChunk = false;
  ChunkEncryption Encryption;  // only for a single-chunk entry
  // Set once the entry is complete or dropped, so chunks still queued skip their work.
  std::atomic<bool> Abandoned{false};
};

struct Chunk {
  std::shared_ptr<ChunkSource> Source;
  uint64_t Offset = 0;
  std::size_t Length = 0;
  bool Last = false;  // the last chunk of the file as planned

  // Results, valid once Done is set.
  std::vector<unsigned char> Data;  // the bytes for the archive
  uint32_t Crc = 0;                 // of the bytes read
  uint64_t BytesRead = 0;
  bool ShortRead = false;  // the file ended early; this chunk then ends the stream
  bool Stored = false;     // a single chunk kept as it was because deflate did not make it smaller
  int ReadError = 0;
  std::string Fatal;     // a failure that ends the whole archive
  bool Skipped = false;  // not done: the write is stopping or the entry was given up
  // Of a file opened on the worker: what its open descriptor showed, or that the writer has to open
  // it itself (nothing was read then).
  platform::FileInfo Info;
  bool OpenOnWriter = false;
  std::atomic<bool> Done{false};
};

// Chunks handed over together, so that many small files cost one wake-up of a worker.
using ChunkBatch = std::vector<std::shared_ptr<Chunk>>;

class ChunkCompressor {
 public:
  // level 0 stores; 1..9 deflate.
  // Work stops when either flag is set; the second may be null.
  ChunkCompressor(unsigned threads, int level, const std::atomic<bool>& cancel,
                  const std::atomic<bool>* stop);
  ~ChunkCompressor();
  ChunkCompressor(const ChunkCompressor&) = delete;
  ChunkCompressor& operator=(const ChunkCompressor&) = delete;

  void Submit(ChunkBatch batch);
  // A count that grows with every finished chunk; wait on it with WaitForChange.
  uint64_t Finished() const { return finished_.load(); }
  void WaitForChange(uint64_t seen, std::chrono::milliseconds timeout);

 private:
  struct Worker;
  void Run();
  void Process(Worker& worker, Chunk& chunk);
  // Opens a deferred source; false when the writer has to open it itself.
  static bool OpenOnWorker(Chunk& chunk);
  // Deflates a chunk that is not the last of its stream, ending on a byte boundary.
  bool DeflateOpenEnded(Worker& worker, Chunk& chunk, const unsigned char* data, std::size_t size);

  const int level_;
  bool Stopped() const {
    return cancel_.load(std::memory_order_relaxed) ||
           (stop_ != nullptr && stop_->load(std::memory_order_relaxed));
  }

  const std::atomic<bool>& cancel_;
  const std::atomic<bool>* stop_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable progress_;
  std::deque<ChunkBatch> queue_;
  std::atomic<uint64_t> finished_{0};
  std::atomic<int> waiting_{0};
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zentrove::engine::zip
