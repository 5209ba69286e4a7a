#include "engine/zip/zip_crypto.h"

#include "engine/zip/sha1_lanes.h"

#include <openssl/core_names.h>
#include <openssl/rand.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace zentrove::engine::zip::crypto {

namespace {

uint32_t Crc32Byte(uint32_t crc, unsigned char byte) {
  static const z_crc_t* table = get_crc_table();
  return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

EVP_MAC* HmacAlgorithm() {
  // Fetched once: a fetch per entry would cost more than a small file's compression.
  static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  return mac;
}

const EVP_CIPHER* EcbCipher(int strength) {
  switch (strength) {
    case 1:
      return EVP_aes_128_ecb();
    case 2:
      return EVP_aes_192_ecb();
    case 3:
      return EVP_aes_256_ecb();
    default:
      return nullptr;
  }
}

}  // namespace

void Pbkdf2HmacSha1(std::string_view password, const unsigned char* salt, std::size_t saltSize,
                    int iterations, unsigned char* out, std::size_t size) {
  Pbkdf2HmacSha1Lanes(password, salt, saltSize, iterations, out, size, Sha1Code::Fastest);
}

bool RandomBytes(void* out, std::size_t size) {
  return RAND_bytes(static_cast<unsigned char*>(out), static_cast<int>(size)) == 1;
}

PkwareCipher::PkwareCipher(std::string_view password) {
  for (char c : password)
    UpdateKeys(static_cast<unsigned char>(c));
}

void PkwareCipher::UpdateKeys(unsigned char plain) {
  key0_ = Crc32Byte(key0_, plain);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = Crc32Byte(key2_, static_cast<unsigned char>(key1_ >> 24));
}

unsigned char PkwareCipher::KeyStreamByte() const {
  const uint32_t temp = (key2_ | 2) & 0xFFFF;
  return static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
}

void PkwareCipher::Encrypt(unsigned char* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char plain = data[i];
    data[i] = plain ^ KeyStreamByte();
    UpdateKeys(plain);
  }
}

void PkwareCipher::Decrypt(unsigned char* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    data[i] ^= KeyStreamByte();
    UpdateKeys(data[i]);
  }
}

bool MakePkwareHeader(PkwareCipher& cipher, unsigned char checkByte,
                      unsigned char (&header)[kPkwareHeaderSize]) {
  if (!RandomBytes(header, kPkwareHeaderSize - 1)) return false;
  header[kPkwareHeaderSize - 1] = checkByte;
  cipher.Encrypt(header, kPkwareHeaderSize);
  return true;
}

std::size_t AesKeySize(int strength) {
  return strength >= 1 && strength <= 3 ? 8 + 8 * strength : 0;
}
std::size_t AesSaltSize(int strength) {
  return strength >= 1 && strength <= 3 ? 4 + 4 * strength : 0;
}

std::unique_ptr<AesCipher> AesCipher::Create(int strength, std::string_view password,
                                             const unsigned char* salt, Direction direction) {
  const std::size_t keySize = AesKeySize(strength);
  const EVP_CIPHER* ecb = EcbCipher(strength);
  if (keySize == 0 || ecb == nullptr || HmacAlgorithm() == nullptr) return nullptr;

  struct Derived {
    std::vector<unsigned char> bytes;
    ~Derived() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
  } key{std::vector<unsigned char>(2 * keySize + kAesVerifierSize)};
  std::vector<unsigned char>& derived = key.bytes;
  Pbkdf2HmacSha1(password, salt, AesSaltSize(strength), 1000, derived.data(), derived.size());

  std::unique_ptr<AesCipher> cipher(new AesCipher());
  cipher->direction_ = direction;
  std::memcpy(cipher->verifier_.data(), derived.data() + 2 * keySize, kAesVerifierSize);
  // Counter mode needs only the forward transform, whichever way the data goes.
  cipher->cipher_ = EVP_CIPHER_CTX_new();
  if (cipher->cipher_ == nullptr ||
      EVP_EncryptInit_ex(cipher->cipher_, ecb, nullptr, derived.data(), nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(cipher->cipher_, 0) != 1) {
    return nullptr;
  }
  cipher->mac_ = EVP_MAC_CTX_new(HmacAlgorithm());
  char digest[] = "SHA1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  if (cipher->mac_ == nullptr || EVP_MAC_init(cipher->mac_, derived.data() + keySize, keySize, params) != 1) {
    return nullptr;
  }
  return cipher;
}

AesCipher::~AesCipher() {
  EVP_CIPHER_CTX_free(cipher_);
  EVP_MAC_CTX_free(mac_);
  OPENSSL_cleanse(keyStream_.data(), keyStream_.size());
}

bool AesCipher::RefillKeyStream() {
  // WinZip's counter is a little-endian block number starting at 1.
  unsigned char counters[sizeof(keyStream_)];
  for (std::size_t block = 0; block < sizeof(counters) / 16; ++block) {
    ++counter_;
    unsigned char* at = counters + block * 16;
    std::memset(at, 0, 16);
    for (int i = 0; i < 8; ++i)
      at[i] = static_cast<unsigned char>((counter_ >> (8 * i)) & 0xFF);
  }
  int produced = 0;
  if (EVP_EncryptUpdate(cipher_, keyStream_.data(), &produced, counters,
                        static_cast<int>(sizeof(counters))) != 1 ||
      produced != static_cast<int>(sizeof(counters))) {
    return false;
  }
  keyStreamPos_ = 0;
  keyStreamLen_ = sizeof(counters);
  return true;
}

bool AesCipher::Crypt(unsigned char* data, std::size_t size) {
  while (size > 0) {
    if (keyStreamPos_ == keyStreamLen_ && !RefillKeyStream()) return false;
    const std::size_t n = std::min(size, keyStreamLen_ - keyStreamPos_);
    const unsigned char* ks = keyStream_.data() + keyStreamPos_;
    for (std::size_t i = 0; i < n; ++i)
      data[i] ^= ks[i];
    keyStreamPos_ += n;
    data += n;
    size -= n;
  }
  return true;
}

bool AesCipher::Process(unsigned char* data, std::size_t size) {
  if (direction_ == Direction::Encrypt) {
    return Crypt(data, size) && EVP_MAC_update(mac_, data, size) == 1;
  }
  return EVP_MAC_update(mac_, data, size) == 1 && Crypt(data, size);
}

bool AesCipher::Finish(std::array<unsigned char, kAesMacSize>& mac) {
  unsigned char full[EVP_MAX_MD_SIZE];
  std::size_t length = 0;
  if (EVP_MAC_final(mac_, full, &length, sizeof(full)) != 1 || length < kAesMacSize) return false;
  std::memcpy(mac.data(), full, kAesMacSize);
  return true;
}

}  // namespace zentrove::engine::zip::crypto
