#include "engine/zip/zip_compress.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/zip/zip_crypto.h"

namespace zentrove::engine::zip {

namespace {

void EncryptSingleChunk(Chunk& chunk) {
  const ChunkEncryption& encryption = chunk.Source->Encryption;
  if (encryption.Kind == ChunkEncryption::Scheme::Pkware) {
    crypto::PkwareCipher cipher(encryption.Password);
    unsigned char header[crypto::kPkwareHeaderSize];
    if (!crypto::MakePkwareHeader(cipher, static_cast<unsigned char>(chunk.Crc >> 24), header)) {
      chunk.Fatal = "The random number generator failed";
      return;
    }
    cipher.Encrypt(chunk.Data.data(), chunk.Data.size());
    chunk.Data.insert(chunk.Data.begin(), header, header + sizeof(header));
    return;
  }
  if (encryption.Kind != ChunkEncryption::Scheme::Aes) return;
  const std::size_t saltSize = crypto::AesSaltSize(encryption.AesStrength);
  unsigned char salt[16];
  if (!crypto::RandomBytes(salt, saltSize)) {
    chunk.Fatal = "The random number generator failed";
    return;
  }
  auto cipher = crypto::AesCipher::Create(encryption.AesStrength, encryption.Password, salt,
                                          crypto::AesCipher::Direction::Encrypt);
  std::array<unsigned char, crypto::kAesMacSize> mac{};
  if (!cipher || !cipher->Process(chunk.Data.data(), chunk.Data.size()) || !cipher->Finish(mac)) {
    chunk.Fatal = "AES encryption failed";
    return;
  }
  std::vector<unsigned char> framed;
  framed.reserve(saltSize + crypto::kAesVerifierSize + chunk.Data.size() + mac.size());
  framed.insert(framed.end(), salt, salt + saltSize);
  framed.insert(framed.end(), cipher->Verifier().begin(), cipher->Verifier().end());
  framed.insert(framed.end(), chunk.Data.begin(), chunk.Data.end());
  framed.insert(framed.end(), mac.begin(), mac.end());
  chunk.Data = std::move(framed);
}

}  // namespace

struct ChunkCompressor::Worker {
  z_stream scan{};
  bool scanning = false;
  libdeflate_compressor* whole = nullptr;
  std::vector<unsigned char> input;
  std::vector<unsigned char> output;

  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker() {
    if (scanning) inflateEnd(&scan);
    libdeflate_free_compressor(whole);
  }
};

ChunkCompressor::ChunkCompressor(unsigned threads, int level, const std::atomic<bool>& cancel,
                                 const std::atomic<bool>* stop)
    : level_(level), cancel_(cancel), stop_(stop) {
  for (unsigned i = 0; i < std::max(threads, 1u); ++i)
    threads_.emplace_back([this] { Run(); });
}

ChunkCompressor::~ChunkCompressor() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  work_.notify_all();
  for (auto& thread : threads_)
    thread.join();
}

void ChunkCompressor::Submit(ChunkBatch batch) {
  if (batch.empty()) return;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(batch));
  }
  work_.notify_one();
}

void ChunkCompressor::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  waiting_.fetch_add(1);
  progress_.wait_for(lock, timeout, [&] { return finished_.load() != seen; });
  waiting_.fetch_sub(1);
}

void ChunkCompressor::Run() {
  Worker worker;
  for (;;) {
    ChunkBatch batch;
    {
      std::unique_lock lock(mutex_);
      work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      batch = std::move(queue_.front());
      queue_.pop_front();
    }
    for (const auto& chunk : batch) {
      try {
        Process(worker, *chunk);
      } catch (const std::exception& e) {
        chunk->Fatal = e.what();
      }
      chunk->Done.store(true, std::memory_order_release);
      finished_.fetch_add(1);
    }
    // The writer is woken once a batch, not once a file: with a million small files a wake-up each
    // cost more than their compression. The count goes up before the waiters are looked at, and a
    // waiter registers before it looks at the count, so one of the two always sees the other.
    if (waiting_.load() > 0) {
      std::lock_guard lock(mutex_);
      progress_.notify_all();
    }
  }
}

// libdeflate ends its stream with a final block, so a part that is not the last of its file is
// made into one that goes on: the final block's flag is cleared and an empty stored block is
// appended, which brings the stream to a byte boundary as zlib's sync flush does. Where that block
// starts and where the stream ends, to the bit, comes from inflating the part with zlib, which
// stops at every block boundary; that pass also proves the part decodes. The part starts afresh,
// without the 32 KiB before it, which costs a little size and gains libdeflate's speed.
bool ChunkCompressor::DeflateOpenEnded(Worker& worker, Chunk& chunk, const unsigned char* data,
                                       std::size_t size) {
  const std::size_t bound = libdeflate_deflate_compress_bound(worker.whole, size);
  std::vector<unsigned char>& out = chunk.Data;
  out.resize(bound + 5);
  const std::size_t made = libdeflate_deflate_compress(worker.whole, data, size, out.data(), bound);
  if (made == 0) {
    chunk.Fatal = "libdeflate failed";
    return false;
  }
  if (!worker.scanning) {
    if (inflateInit2(&worker.scan, -MAX_WBITS) != Z_OK) {
      chunk.Fatal = "zlib could not be initialised";
      return false;
    }
    worker.scanning = true;
  } else {
    inflateReset(&worker.scan);
  }
  z_stream& scan = worker.scan;
  scan.next_in = out.data();
  scan.avail_in = static_cast<uInt>(made);
  unsigned char sink[64 * 1024];
  // zlib stops after every block; data_type then holds the unused bits of the last byte read, 128
  // at a block boundary and 64 once the final block has been read.
  uint64_t finalStart = 0;  // in bits
  uint64_t end = 0;
  for (;;) {
    scan.next_out = sink;
    scan.avail_out = sizeof(sink);
    const int status = inflate(&scan, Z_BLOCK);
    if (status != Z_OK && !(status == Z_BUF_ERROR && scan.avail_out == 0)) {
      chunk.Fatal = "libdeflate's output does not decode";
      return false;
    }
    if ((scan.data_type & 128) == 0) continue;
    const uint64_t at = 8 * static_cast<uint64_t>(scan.total_in) - (scan.data_type & 7);
    if ((scan.data_type & 64) != 0) {
      end = at;
      break;
    }
    finalStart = at;
  }
  const uint64_t unused = 8 * static_cast<uint64_t>(made) - end;
  if (scan.total_in != made || unused > 7 || scan.total_out != size) {
    chunk.Fatal = "libdeflate's output does not decode";
    return false;
  }
  out[finalStart / 8] &= static_cast<unsigned char>(~(1u << (finalStart % 8)));
  // The stored block's three header bits are zero, as are the padding bits up to the byte boundary.
  out[made - 1] &= static_cast<unsigned char>((1u << (8 - unused)) - 1);
  std::size_t length = made;
  if (unused < 3) out[length++] = 0;
  out[length++] = 0x00;
  out[length++] = 0x00;
  out[length++] = 0xFF;
  out[length++] = 0xFF;
  out.resize(length);
  return true;
}

bool ChunkCompressor::OpenOnWorker(Chunk& chunk) {
  ChunkSource& source = *chunk.Source;
  OpenResult opened =
      OpenSource(source.OpenLater.Path, OpenMode::omShareDenyWrite, *source.OpenLater.Excluded);
  if (opened.Outcome != OpenOutcome::Opened || opened.Info.size != chunk.Length) {
    chunk.OpenOnWriter = true;
    return false;
  }
  source.File = std::move(opened.File);
  chunk.Info = opened.Info;
  return true;
}

void ChunkCompressor::Process(Worker& worker, Chunk& chunk) {
  if (Stopped() || chunk.Source->Abandoned.load(std::memory_order_relaxed)) {
    chunk.Skipped = true;
    return;
  }
  const bool single = chunk.Source->SingleChunk;
  if (chunk.Source->OpenOnWorker && !OpenOnWorker(chunk)) return;
  if (worker.input.size() < chunk.Length) worker.input.resize(chunk.Length);
  const auto read = chunk.Source->ReadAt(chunk.Offset, worker.input.data(), chunk.Length);
  if (!read) {
    chunk.ReadError = read.Code() > 0 ? read.Code() : EIO;
    return;
  }
  // Closed here rather than when the writer lets go of the entry, which would cost its thread a call.
  if (chunk.Source->OpenOnWorker) chunk.Source->File = platform::File();
  // A file that shrank ends its stream with this chunk, which may then hold nothing.
  chunk.BytesRead = *read;
  chunk.ShortRead = chunk.BytesRead < chunk.Length;
  const unsigned char* data = worker.input.data();
  const std::size_t size = static_cast<std::size_t>(chunk.BytesRead);
  chunk.Crc = libdeflate_crc32(0, data, size);

  const bool ends = chunk.Last || chunk.ShortRead;
  if (level_ == 0 || (single && size == 0)) {
    chunk.Data.assign(data, data + size);
    chunk.Stored = true;
    if (single) EncryptSingleChunk(chunk);
    return;
  }
  if (!worker.whole) worker.whole = libdeflate_alloc_compressor(level_);
  if (!worker.whole) {
    chunk.Fatal = "libdeflate could not be initialised";
    return;
  }
  if (ends) {
    // The stream ends here, so a final block from one whole-buffer call is what it needs. The part
    // after an open-ended chunk starts on a byte boundary and refers to nothing before it.
    const std::size_t bound = libdeflate_deflate_compress_bound(worker.whole, size);
    if (worker.output.size() < bound) worker.output.resize(bound);
    // Of a single chunk, data that deflate does not make smaller is kept as it is; a final part
    // of a longer stream has to be deflate data whatever its size.
    const std::size_t room = single ? std::min(bound, size) : bound;
    const std::size_t made =
        libdeflate_deflate_compress(worker.whole, data, size, worker.output.data(), room);
    if (made == 0 && !single) {
      chunk.Fatal = "libdeflate failed";
      return;
    }
    if (made == 0 || (single && made >= size)) {
      chunk.Data.assign(data, data + size);
      chunk.Stored = true;
    } else {
      chunk.Data.assign(worker.output.data(), worker.output.data() + made);
    }
  } else if (!DeflateOpenEnded(worker, chunk, data, size)) {
    return;
  }
  if (single) EncryptSingleChunk(chunk);
}

}  // namespace zentrove::engine::zip
