#pragma once

// The two encryption schemes of ZIP entries: the traditional PKWARE stream cipher and WinZip AES
// (PBKDF2-HMAC-SHA1 key derivation, AES in counter mode with a little-endian counter, HMAC-SHA1
// over the encrypted data).

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace zentrove::engine::zip::crypto {

// Cryptographically strong random bytes; false when the generator failed.
[[nodiscard]] bool RandomBytes(void* out, std::size_t size);

inline constexpr std::size_t kPkwareHeaderSize = 12;

class PkwareCipher {
 public:
  explicit PkwareCipher(std::string_view password);
  void Encrypt(unsigned char* data, std::size_t size);
  void Decrypt(unsigned char* data, std::size_t size);

 private:
  void UpdateKeys(unsigned char plain);
  unsigned char KeyStreamByte() const;

  uint32_t key0_ = 0x12345678;
  uint32_t key1_ = 0x23456789;
  uint32_t key2_ = 0x34567890;
};

// Fills the 12-byte encryption header (random bytes ending with the check byte) and encrypts it.
[[nodiscard]] bool MakePkwareHeader(PkwareCipher& cipher, unsigned char checkByte,
                                    unsigned char (&header)[kPkwareHeaderSize]);

// PBKDF2 with HMAC-SHA1 (RFC 8018), the key derivation of WinZip AES.
void Pbkdf2HmacSha1(std::string_view password, const unsigned char* salt, std::size_t saltSize,
                    int iterations, unsigned char* out, std::size_t size);

inline constexpr std::size_t kAesVerifierSize = 2;
inline constexpr std::size_t kAesMacSize = 10;

// Key and salt sizes of AES strength 1, 2 and 3; 0 for an unknown strength.
std::size_t AesKeySize(int strength);
std::size_t AesSaltSize(int strength);

class AesCipher {
 public:
  enum class Direction { Encrypt, Decrypt };

  // Derives the keys from the password and salt; nullptr when the strength is unknown or a
  // library call failed.
  static std::unique_ptr<AesCipher> Create(int strength, std::string_view password, const unsigned char* salt,
                                           Direction direction);
  ~AesCipher();
  AesCipher(const AesCipher&) = delete;
  AesCipher& operator=(const AesCipher&) = delete;

  const std::array<unsigned char, kAesVerifierSize>& Verifier() const { return verifier_; }
  // Encrypts or decrypts in place and feeds the encrypted bytes to the authentication code.
  [[nodiscard]] bool Process(unsigned char* data, std::size_t size);
  // The first ten bytes of the HMAC-SHA1 of everything processed.
  [[nodiscard]] bool Finish(std::array<unsigned char, kAesMacSize>& mac);

 private:
  AesCipher() = default;
  bool RefillKeyStream();
  bool Crypt(unsigned char* data, std::size_t size);

  Direction direction_ = Direction::Encrypt;
  EVP_CIPHER_CTX* cipher_ = nullptr;
  EVP_MAC_CTX* mac_ = nullptr;
  std::array<unsigned char, kAesVerifierSize> verifier_{};
  uint64_t counter_ = 0;
  std::array<unsigned char, 4096> keyStream_{};
  std::size_t keyStreamPos_ = 0;
  std::size_t keyStreamLen_ = 0;
};

}  // namespace zentrove::engine::zip::crypto
