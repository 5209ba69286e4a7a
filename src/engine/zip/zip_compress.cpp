#include "engine/zip/zip_compress.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/zip/zip_crypto.h"

namespace zentrove::engine::zip {

namespace {

// Input is fed to deflate in slices of this size so a stop request is seen quickly.
constexpr std::size_t kSlice = 64 * 1024;

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
  z_stream stream{};
  bool initialized = false;
  libdeflate_compressor* whole = nullptr;
  std::vector<unsigned char> input;
  std::vector<unsigned char> output;

  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker() {
    if (initialized) deflateEnd(&stream);
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

bool ChunkCompressor::DeflateSynced(Worker& worker, Chunk& chunk, const unsigned char* data, std::size_t size,
                                    std::size_t dictionary) {
  if (!worker.initialized) {
    if (deflateInit2(&worker.stream, level_, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      chunk.Fatal = "zlib could not be initialised";
      return false;
    }
    worker.initialized = true;
  } else {
    deflateReset(&worker.stream);
  }
  z_stream& stream = worker.stream;
  if (dictionary > 0 &&
      deflateSetDictionary(&stream, data - dictionary, static_cast<uInt>(dictionary)) != Z_OK) {
    chunk.Fatal = "zlib rejected the dictionary";
    return false;
  }
  chunk.Data.resize(deflateBound(&stream, static_cast<uLong>(size)) + 64);
  stream.next_out = chunk.Data.data();
  stream.avail_out = static_cast<uInt>(chunk.Data.size());
  std::size_t fed = 0;
  for (;;) {
    if (Stopped()) {
      chunk.Skipped = true;
      return false;
    }
    const std::size_t slice = std::min(kSlice, size - fed);
    const bool final = fed + slice == size;
    const int flush = final ? Z_SYNC_FLUSH : Z_NO_FLUSH;
    stream.next_in = const_cast<unsigned char*>(data + fed);
    stream.avail_in = static_cast<uInt>(slice);
    do {
      if (stream.avail_out == 0) {
        const std::size_t used = chunk.Data.size();
        chunk.Data.resize(used * 2);
        stream.next_out = chunk.Data.data() + used;
        stream.avail_out = static_cast<uInt>(chunk.Data.size() - used);
      }
      if (deflate(&stream, flush) == Z_STREAM_ERROR) {
        chunk.Fatal = "zlib failed";
        return false;
      }
    } while (stream.avail_in > 0 || stream.avail_out == 0);
    fed += slice;
    if (final) break;
  }
  chunk.Data.resize(chunk.Data.size() - stream.avail_out);
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
  std::size_t dictionary =
      level_ > 0 ? static_cast<std::size_t>(std::min<uint64_t>(kDictionarySize, chunk.Offset)) : 0;
  const std::size_t wanted = dictionary + chunk.Length;
  if (worker.input.size() < wanted) worker.input.resize(wanted);
  const auto read = chunk.Source->ReadAt(chunk.Offset - dictionary, worker.input.data(), wanted);
  if (!read) {
    chunk.ReadError = read.Code() > 0 ? read.Code() : EIO;
    return;
  }
  const std::size_t got = *read;
  // Closed here rather than when the writer lets go of the entry, which would cost its thread a call.
  if (chunk.Source->OpenOnWorker) chunk.Source->File = platform::File();
  if (got < dictionary) {
    // The file shrank below this chunk since the one before was read; this chunk only ends the stream.
    chunk.BytesRead = 0;
    dictionary = 0;
  } else {
    chunk.BytesRead = got - dictionary;
  }
  chunk.ShortRead = chunk.BytesRead < chunk.Length;
  const unsigned char* data = worker.input.data() + dictionary;
  const std::size_t size = static_cast<std::size_t>(chunk.BytesRead);
  chunk.Crc = libdeflate_crc32(0, data, size);

  const bool ends = chunk.Last || chunk.ShortRead;
  if (level_ == 0 || (single && size == 0)) {
    chunk.Data.assign(data, data + size);
    chunk.Stored = true;
  } else if (ends) {
    // The stream ends here, so a final block from one whole-buffer call is what it needs. The part
    // after a sync-flushed chunk starts on a byte boundary and refers to nothing before it.
    if (!worker.whole) worker.whole = libdeflate_alloc_compressor(level_);
    if (!worker.whole) {
      chunk.Fatal = "libdeflate could not be initialised";
      return;
    }
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
  } else if (!DeflateSynced(worker, chunk, data, size, dictionary)) {
    return;
  }
  if (single) EncryptSingleChunk(chunk);
}

}  // namespace zentrove::engine::zip
