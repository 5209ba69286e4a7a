// SHA1_Transform is deprecated in OpenSSL 3 but is the only way to compress one block from a copied
// state; the EVP interface has no such call.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "engine/zip/sha1_lanes.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define ZENTROVE_SHA1_EXTENSIONS 1
#endif

namespace zentrove::engine::zip::crypto {

namespace {

constexpr std::size_t kMaxLanes = 4;
constexpr std::size_t kDigestWords = SHA_DIGEST_LENGTH / 4;

// After the first iteration, every SHA-1 message of PBKDF2 is a 64-byte HMAC pad followed by the
// 20-byte digest of the previous step, so its second block is always the digest, the end mark and
// the message length in bits, and one compression from the pad's state finishes the hash.
constexpr uint32_t kEndMark = 0x80000000;
constexpr uint32_t kMessageBits = (SHA_CBLOCK + SHA_DIGEST_LENGTH) * 8;

using Digest = uint32_t[kDigestWords];

// The PBKDF2 chains of up to four output blocks: the last HMAC of each and the sum of all of them.
struct Chains {
  std::size_t count = 0;
  Digest u[kMaxLanes] = {};
  Digest t[kMaxLanes] = {};
};

void StateWords(const SHA_CTX& context, Digest& words) {
  words[0] = context.h0;
  words[1] = context.h1;
  words[2] = context.h2;
  words[3] = context.h3;
  words[4] = context.h4;
}

void StoreBigEndian(const Digest& words, unsigned char* bytes) {
  for (std::size_t i = 0; i < kDigestWords; ++i) {
    bytes[4 * i] = static_cast<unsigned char>(words[i] >> 24);
    bytes[4 * i + 1] = static_cast<unsigned char>(words[i] >> 16);
    bytes[4 * i + 2] = static_cast<unsigned char>(words[i] >> 8);
    bytes[4 * i + 3] = static_cast<unsigned char>(words[i]);
  }
}

void LoadBigEndian(const unsigned char* bytes, Digest& words) {
  for (std::size_t i = 0; i < kDigestWords; ++i) {
    words[i] = static_cast<uint32_t>(bytes[4 * i]) << 24 | static_cast<uint32_t>(bytes[4 * i + 1]) << 16 |
               static_cast<uint32_t>(bytes[4 * i + 2]) << 8 | bytes[4 * i + 3];
  }
}

// The first iteration hashes the salt and the block's index, whose length varies.
void FirstIteration(const SHA_CTX& inner, const SHA_CTX& outer, const unsigned char* salt,
                    std::size_t saltSize, uint32_t block, Digest& u) {
  const unsigned char index[4] = {static_cast<unsigned char>(block >> 24),
                                  static_cast<unsigned char>(block >> 16),
                                  static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)};
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA_CTX context = inner;
  SHA1_Update(&context, salt, saltSize);
  SHA1_Update(&context, index, sizeof(index));
  SHA1_Final(digest, &context);
  context = outer;
  SHA1_Update(&context, digest, sizeof(digest));
  SHA1_Final(digest, &context);
  LoadBigEndian(digest, u);
  OPENSSL_cleanse(digest, sizeof(digest));
  OPENSSL_cleanse(&context, sizeof(context));
}

void PortableRounds(const SHA_CTX& inner, const SHA_CTX& outer, int rounds, Chains& chains) {
  unsigned char block[SHA_CBLOCK] = {};
  block[SHA_DIGEST_LENGTH] = static_cast<unsigned char>(kEndMark >> 24);
  block[SHA_CBLOCK - 2] = static_cast<unsigned char>(kMessageBits >> 8);
  block[SHA_CBLOCK - 1] = static_cast<unsigned char>(kMessageBits);
  SHA_CTX context;
  for (std::size_t lane = 0; lane < chains.count; ++lane) {
    Digest& u = chains.u[lane];
    Digest& t = chains.t[lane];
    for (int round = 0; round < rounds; ++round) {
      StoreBigEndian(u, block);
      context = inner;
      SHA1_Transform(&context, block);
      StateWords(context, u);
      StoreBigEndian(u, block);
      context = outer;
      SHA1_Transform(&context, block);
      StateWords(context, u);
      for (std::size_t i = 0; i < kDigestWords; ++i)
        t[i] ^= u[i];
    }
  }
  OPENSSL_cleanse(block, sizeof(block));
  OPENSSL_cleanse(&context, sizeof(context));
}

#ifdef ZENTROVE_SHA1_EXTENSIONS

// Only these functions are compiled for the SHA extensions, and only called when the processor has
// them, so the program as a whole still runs on processors without.
#define ZENTROVE_SHA_CODE __attribute__((target("sha,sse4.1")))
#define ZENTROVE_SHA_INLINE __attribute__((target("sha,sse4.1"), always_inline)) inline

// One lane's registers in the SHA extensions' layout: A to D in one vector with A in the top
// word, E in the top word of another, and the sixteen message words in four vectors, each with
// its first word on top. A group's E is the A of four rounds before, so the previous A to D are kept.
struct Lane {
  __m128i abcd;
  __m128i e;
  __m128i previous;
  __m128i message[4];
};

template <int Group>
ZENTROVE_SHA_INLINE void FourRounds(Lane& lane) {
  __m128i& words = lane.message[Group % 4];
  if constexpr (Group >= 4) {
    words = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(words, lane.message[(Group + 1) % 4]),
                                             lane.message[(Group + 2) % 4]),
                               lane.message[(Group + 3) % 4]);
  }
  __m128i e;
  if constexpr (Group == 0) {
    e = _mm_add_epi32(lane.e, words);
  } else {
    e = _mm_sha1nexte_epu32(lane.previous, words);
  }
  lane.previous = lane.abcd;
  lane.abcd = _mm_sha1rnds4_epu32(lane.abcd, e, Group / 5);
}

template <int Group, std::size_t Lanes, std::size_t... Index>
ZENTROVE_SHA_INLINE void FourRoundsOnEachLane(Lane (&lanes)[Lanes], std::index_sequence<Index...>) {
  (FourRounds<Group>(lanes[Index]), ...);
}

// Each group of four rounds runs on every lane before the next group starts, so the lanes'
// independent instructions fill the latency of the one before.
template <std::size_t Lanes, int... Group>
ZENTROVE_SHA_INLINE void AllRounds(Lane (&lanes)[Lanes], std::integer_sequence<int, Group...>) {
  (FourRoundsOnEachLane<Group>(lanes, std::make_index_sequence<Lanes>()), ...);
}

// Hashes a pad's state followed by each lane's digest and leaves the new digests in their place.
template <std::size_t Lanes>
ZENTROVE_SHA_INLINE void CompressDigests(__m128i stateAbcd, __m128i stateE, __m128i endMark,
                                         __m128i messageBits, __m128i (&abcd)[Lanes], __m128i (&e)[Lanes]) {
  Lane lanes[Lanes];
  for (std::size_t i = 0; i < Lanes; ++i) {
    lanes[i].abcd = stateAbcd;
    lanes[i].e = stateE;
    lanes[i].message[0] = abcd[i];
    lanes[i].message[1] = _mm_blend_epi16(endMark, e[i], 0xC0);
    lanes[i].message[2] = _mm_setzero_si128();
    lanes[i].message[3] = messageBits;
  }
  AllRounds(lanes, std::make_integer_sequence<int, 20>());
  for (std::size_t i = 0; i < Lanes; ++i) {
    e[i] = _mm_sha1nexte_epu32(lanes[i].previous, stateE);
    abcd[i] = _mm_add_epi32(lanes[i].abcd, stateAbcd);
  }
}

ZENTROVE_SHA_INLINE __m128i LoadAbcd(const Digest& words) {
  return _mm_set_epi32(static_cast<int>(words[0]), static_cast<int>(words[1]), static_cast<int>(words[2]),
                       static_cast<int>(words[3]));
}

ZENTROVE_SHA_INLINE __m128i LoadE(const Digest& words) {
  return _mm_set_epi32(static_cast<int>(words[4]), 0, 0, 0);
}

ZENTROVE_SHA_INLINE void Store(__m128i abcd, __m128i e, Digest& words) {
  words[0] = static_cast<uint32_t>(_mm_extract_epi32(abcd, 3));
  words[1] = static_cast<uint32_t>(_mm_extract_epi32(abcd, 2));
  words[2] = static_cast<uint32_t>(_mm_extract_epi32(abcd, 1));
  words[3] = static_cast<uint32_t>(_mm_extract_epi32(abcd, 0));
  words[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

template <std::size_t Lanes>
ZENTROVE_SHA_CODE void ShaRounds(const Digest& innerState, const Digest& outerState, int rounds,
                                 Chains& chains) {
  const __m128i innerAbcd = LoadAbcd(innerState);
  const __m128i innerE = LoadE(innerState);
  const __m128i outerAbcd = LoadAbcd(outerState);
  const __m128i outerE = LoadE(outerState);
  const __m128i endMark = _mm_set_epi32(0, static_cast<int>(kEndMark), 0, 0);
  const __m128i messageBits = _mm_set_epi32(0, 0, 0, static_cast<int>(kMessageBits));
  __m128i uAbcd[Lanes];
  __m128i uE[Lanes];
  __m128i tAbcd[Lanes];
  __m128i tE[Lanes];
  for (std::size_t i = 0; i < Lanes; ++i) {
    uAbcd[i] = LoadAbcd(chains.u[i]);
    uE[i] = LoadE(chains.u[i]);
    tAbcd[i] = LoadAbcd(chains.t[i]);
    tE[i] = LoadE(chains.t[i]);
  }
  for (int round = 0; round < rounds; ++round) {
    CompressDigests(innerAbcd, innerE, endMark, messageBits, uAbcd, uE);
    CompressDigests(outerAbcd, outerE, endMark, messageBits, uAbcd, uE);
    for (std::size_t i = 0; i < Lanes; ++i) {
      tAbcd[i] = _mm_xor_si128(tAbcd[i], uAbcd[i]);
      tE[i] = _mm_xor_si128(tE[i], uE[i]);
    }
  }
  for (std::size_t i = 0; i < Lanes; ++i) {
    Store(uAbcd[i], uE[i], chains.u[i]);
    Store(tAbcd[i], tE[i], chains.t[i]);
  }
}

#endif

void MoreRounds(const SHA_CTX& inner, const SHA_CTX& outer, int rounds, Chains& chains, bool extensions) {
#ifdef ZENTROVE_SHA1_EXTENSIONS
  if (extensions) {
    Digest innerState;
    Digest outerState;
    StateWords(inner, innerState);
    StateWords(outer, outerState);
    switch (chains.count) {
      case 1:
        ShaRounds<1>(innerState, outerState, rounds, chains);
        break;
      case 2:
        ShaRounds<2>(innerState, outerState, rounds, chains);
        break;
      case 3:
        ShaRounds<3>(innerState, outerState, rounds, chains);
        break;
      default:
        ShaRounds<4>(innerState, outerState, rounds, chains);
        break;
    }
    OPENSSL_cleanse(innerState, sizeof(innerState));
    OPENSSL_cleanse(outerState, sizeof(outerState));
    return;
  }
#else
  (void)extensions;
#endif
  PortableRounds(inner, outer, rounds, chains);
}

}  // namespace

bool HasSha1Extensions() {
#ifdef ZENTROVE_SHA1_EXTENSIONS
  static const bool has = [] {
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    const bool sse41 = __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & bit_SSE4_1) != 0;
    return sse41 && __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & bit_SHA) != 0;
  }();
  return has;
#else
  return false;
#endif
}

void Pbkdf2HmacSha1Lanes(std::string_view password, const unsigned char* salt, std::size_t saltSize,
                         int iterations, unsigned char* out, std::size_t size, Sha1Code code) {
  unsigned char key[SHA_CBLOCK] = {};
  if (password.size() > sizeof(key)) {
    SHA1(reinterpret_cast<const unsigned char*>(password.data()), password.size(), key);
  } else {
    std::memcpy(key, password.data(), password.size());
  }
  // HMAC's inner and outer hashes start from the padded key; those states are taken once.
  unsigned char pad[SHA_CBLOCK];
  SHA_CTX inner;
  SHA_CTX outer;
  for (std::size_t i = 0; i < sizeof(pad); ++i)
    pad[i] = key[i] ^ 0x36;
  SHA1_Init(&inner);
  SHA1_Update(&inner, pad, sizeof(pad));
  for (std::size_t i = 0; i < sizeof(pad); ++i)
    pad[i] = key[i] ^ 0x5C;
  SHA1_Init(&outer);
  SHA1_Update(&outer, pad, sizeof(pad));
  OPENSSL_cleanse(key, sizeof(key));
  OPENSSL_cleanse(pad, sizeof(pad));

  const bool extensions = code == Sha1Code::Fastest && HasSha1Extensions();
  Chains chains;
  unsigned char bytes[SHA_DIGEST_LENGTH];
  for (uint32_t block = 1; size > 0;) {
    chains.count = std::min(kMaxLanes, (size + SHA_DIGEST_LENGTH - 1) / SHA_DIGEST_LENGTH);
    for (std::size_t lane = 0; lane < chains.count; ++lane) {
      FirstIteration(inner, outer, salt, saltSize, block++, chains.u[lane]);
      std::memcpy(chains.t[lane], chains.u[lane], sizeof(Digest));
    }
    if (iterations > 1) MoreRounds(inner, outer, iterations - 1, chains, extensions);
    for (std::size_t lane = 0; lane < chains.count; ++lane) {
      StoreBigEndian(chains.t[lane], bytes);
      const std::size_t n = std::min(size, sizeof(bytes));
      std::memcpy(out, bytes, n);
      out += n;
      size -= n;
    }
  }
  OPENSSL_cleanse(bytes, sizeof(bytes));
  OPENSSL_cleanse(&chains, sizeof(chains));
  OPENSSL_cleanse(&inner, sizeof(inner));
  OPENSSL_cleanse(&outer, sizeof(outer));
}

}  // namespace zentrove::engine::zip::crypto
