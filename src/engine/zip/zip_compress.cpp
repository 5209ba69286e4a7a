#include "engine/zip/zip_compress.h"

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
  std::vector<unsigned char> input;

  ~Worker() {
    if (initialized) deflateEnd(&stream);
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
  progress_.wait_for(lock, timeout, [&] { return finished_.load() != seen; });
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
      {
        std::lock_guard lock(mutex_);
        finished_.fetch_add(1);
      }
      progress_.notify_all();
    }
  }
}

void ChunkCompressor::Process(Worker& worker, Chunk& chunk) {
  if (Stopped() || chunk.Source->Abandoned.load(std::memory_order_relaxed)) {
    chunk.Skipped = true;
    return;
  }
  const bool single = chunk.Source->SingleChunk;
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
  chunk.Crc = static_cast<uint32_t>(crc32_z(0, data, size));

  if (level_ == 0 || (single && size == 0)) {
    chunk.Data.assign(data, data + size);
    chunk.Stored = true;
  } else {
    if (!worker.initialized) {
      if (deflateInit2(&worker.stream, level_, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        chunk.Fatal = "zlib could not be initialised";
        return;
      }
      worker.initialized = true;
    } else {
      deflateReset(&worker.stream);
    }
    z_stream& stream = worker.stream;
    if (dictionary > 0 &&
        deflateSetDictionary(&stream, worker.input.data(), static_cast<uInt>(dictionary)) != Z_OK) {
      chunk.Fatal = "zlib rejected the dictionary";
      return;
    }
    chunk.Data.resize(deflateBound(&stream, static_cast<uLong>(size)) + 64);
    stream.next_out = chunk.Data.data();
    stream.avail_out = static_cast<uInt>(chunk.Data.size());
    const int lastFlush = chunk.Last || chunk.ShortRead ? Z_FINISH : Z_SYNC_FLUSH;
    std::size_t fed = 0;
    for (;;) {
      if (Stopped()) {
        chunk.Skipped = true;
        return;
      }
      const std::size_t slice = std::min(kSlice, size - fed);
      const bool final = fed + slice == size;
      const int flush = final ? lastFlush : Z_NO_FLUSH;
      stream.next_in = const_cast<unsigned char*>(data + fed);
      stream.avail_in = static_cast<uInt>(slice);
      int status = Z_OK;
      do {
        if (stream.avail_out == 0) {
          const std::size_t used = chunk.Data.size();
          chunk.Data.resize(used * 2);
          stream.next_out = chunk.Data.data() + used;
          stream.avail_out = static_cast<uInt>(chunk.Data.size() - used);
        }
        status = deflate(&stream, flush);
        if (status == Z_STREAM_ERROR) {
          chunk.Fatal = "zlib failed";
          return;
        }
      } while (stream.avail_in > 0 || stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
      fed += slice;
      if (final) break;
    }
    chunk.Data.resize(chunk.Data.size() - stream.avail_out);
    if (single && chunk.Data.size() >= size) {
      chunk.Data.assign(data, data + size);
      chunk.Stored = true;
    }
  }
  if (single) EncryptSingleChunk(chunk);
}

}  // namespace zentrove::engine::zip
