#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "engine/zip/zip_crypto.h"
#include "engine/zip/zip_format.h"
#include "engine/zip/zip_names.h"

namespace zentrove::engine::zip {
namespace {

TEST(ZipNameEncodingTest, Utf8ValidationRejectsMalformedSequences) {
  for (const char* good : {"", "plain", "café", "日本語", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"}) {
    EXPECT_TRUE(names::IsValidUtf8(good)) << good;
  }
  for (const char* bad : {"\x80", "\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE6\x97",
                          "ok\xFF", "\xF8\x88\x80\x80\x80"}) {
    EXPECT_FALSE(names::IsValidUtf8(bad)) << bad;
  }
}

TEST(ZipNameEncodingTest, OemCodePageFollowsTheLocaleLanguage) {
  EXPECT_EQ(names::OemCodePageForLocale("ru_RU.UTF-8"), "CP866");
  EXPECT_EQ(names::OemCodePageForLocale("uk_UA"), "CP866");
  EXPECT_EQ(names::OemCodePageForLocale("be_BY.UTF-8@latin"), "CP866");
  EXPECT_EQ(names::OemCodePageForLocale("ru"), "CP866");
  EXPECT_EQ(names::OemCodePageForLocale("en_US.UTF-8"), "CP437");
  EXPECT_EQ(names::OemCodePageForLocale("rus"), "CP437");
  EXPECT_EQ(names::OemCodePageForLocale("C.UTF-8"), "CP437");
  EXPECT_EQ(names::OemCodePageForLocale(""), "CP437");
}

TEST(ZipNameEncodingTest, EncodingPicksOemOnlyForNamesThatSurviveTheRoundTrip) {
  names::OemConverter oem("CP437");
  auto stored = names::EncodeEntryName("naïve.txt", true, &oem);
  EXPECT_EQ(stored.Bytes, "na\x8Bve.txt");
  EXPECT_TRUE(stored.Oem);
  EXPECT_FALSE(stored.Utf8Flag);
  stored = names::EncodeEntryName("naïve.txt", false, &oem);
  EXPECT_EQ(stored.Bytes, "naïve.txt");
  EXPECT_TRUE(stored.Utf8Flag);
  stored = names::EncodeEntryName("€uro.txt", true, &oem);  // no euro sign in CP437
  EXPECT_EQ(stored.Bytes, "€uro.txt");
  EXPECT_TRUE(stored.Utf8Flag);
  stored = names::EncodeEntryName("raw\xE9.txt", true, &oem);
  EXPECT_EQ(stored.Bytes, "raw\xE9.txt");
  EXPECT_FALSE(stored.Utf8Flag);
  EXPECT_FALSE(stored.Oem);

  ZipEntry entry;
  entry.Name = "na\x8Bve.txt";
  entry.VersionMadeBy = format::kHostMsDos << 8;
  EXPECT_EQ(names::EntryNameKey(entry, &oem), "naïve.txt");
  entry.VersionMadeBy = format::kHostUnix << 8;
  EXPECT_EQ(names::EntryNameKey(entry, &oem), "na\x8Bve.txt");
}

class DosTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    savedTz_ = tz != nullptr ? std::optional<std::string>(tz) : std::nullopt;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (savedTz_) {
      setenv("TZ", savedTz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::optional<std::string> savedTz_;
};

TEST_F(DosTimeTest, TimesAreKeptInTwoSecondStepsWithinTheYearsTheFormatHolds) {
  const auto inRange = format::ToDosDateTime(1700000001);  // 2023-11-14 22:13:21 UTC
  EXPECT_EQ(inRange.Date, ((2023 - 1980) << 9) | (11 << 5) | 14);
  EXPECT_EQ(inRange.Time, (22 << 11) | (13 << 5) | 10);
  const auto early = format::ToDosDateTime(0);
  EXPECT_EQ(early.Date, (1 << 5) | 1);
  EXPECT_EQ(early.Time, 0);
  const auto late = format::ToDosDateTime(static_cast<time_t>(5000000000LL));  // 2128
  EXPECT_EQ(late.Date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(late.Time, (23 << 11) | (59 << 5) | 29);
}

TEST(ZipExtraFieldTest, FieldsAreFoundAndRemovedAndDamageIsTolerated) {
  std::string extra = format::TimestampExtra(1234567890) + format::AesExtra(3, 8);
  EXPECT_TRUE(format::ExtraBlockIsWellFormed(extra));
  EXPECT_EQ(format::ParseTimestampExtra(extra), 1234567890);
  const auto aes = format::FindExtraField(extra, format::kExtraAes);
  ASSERT_TRUE(aes);
  EXPECT_EQ(aes->size(), 7u);
  EXPECT_EQ(format::RemoveExtraField(extra, format::kExtraTimestamp), format::AesExtra(3, 8));
  // A field that claims more bytes than there are.
  std::string damaged = extra + std::string("\x01\x00\xFF\x00", 4);
  EXPECT_FALSE(format::ExtraBlockIsWellFormed(damaged));
  EXPECT_FALSE(format::FindExtraField(damaged, format::kExtraZip64));
  EXPECT_EQ(format::RemoveExtraField(damaged, format::kExtraTimestamp),
            format::AesExtra(3, 8) + damaged.substr(extra.size()));
  EXPECT_TRUE(format::TimestampExtra(int64_t{1} << 40).empty()) << "not representable in 32 bits";
}

TEST(ZipCryptoTest, PkwareCipherRoundTripsAndDependsOnThePassword) {
  const std::string plain = "The quick brown fox jumps over the lazy dog";
  std::string data = plain;
  crypto::PkwareCipher(std::string("secret"))
      .Encrypt(reinterpret_cast<unsigned char*>(data.data()), data.size());
  EXPECT_NE(data, plain);
  std::string other = plain;
  crypto::PkwareCipher(std::string("Secret"))
      .Encrypt(reinterpret_cast<unsigned char*>(other.data()), other.size());
  EXPECT_NE(data, other);
  crypto::PkwareCipher(std::string("secret"))
      .Decrypt(reinterpret_cast<unsigned char*>(data.data()), data.size());
  EXPECT_EQ(data, plain);
}

TEST(ZipCryptoTest, KeyDerivationMatchesTheReference) {
  // RFC 6070, and OpenSSL's own PBKDF2 for the sizes AES uses, long passwords included.
  unsigned char derived[20];
  crypto::Pbkdf2HmacSha1("password", reinterpret_cast<const unsigned char*>("salt"), 4, 2, derived,
                         sizeof(derived));
  const unsigned char expected[20] = {0xea, 0x6c, 0x01, 0x4d, 0xc7, 0x2d, 0x6f, 0x8c, 0xcd, 0x1e,
                                      0xd9, 0x2a, 0xce, 0x1d, 0x41, 0xf0, 0xd8, 0xde, 0x89, 0x57};
  EXPECT_EQ(std::memcmp(derived, expected, sizeof(expected)), 0);
  const unsigned char salt[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  for (const std::string& password :
       {std::string(), std::string("pw"), std::string(64, 'k'), std::string(100, 'x')}) {
    unsigned char ours[66];
    unsigned char reference[66];
    crypto::Pbkdf2HmacSha1(password, salt, sizeof(salt), 1000, ours, sizeof(ours));
    ASSERT_EQ(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, sizeof(salt), 1000,
                                EVP_sha1(), sizeof(reference), reference),
              1);
    EXPECT_EQ(std::memcmp(ours, reference, sizeof(ours)), 0) << password.size();
  }
}

TEST(ZipCryptoTest, AesCipherRoundTripsAcrossUnevenPiecesWithAMatchingCode) {
  unsigned char salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::string plain(10000, '\0');
  for (std::size_t i = 0; i < plain.size(); ++i)
    plain[i] = static_cast<char>(i * 31);
  for (int strength = 1; strength <= 3; ++strength) {
    auto encrypt = crypto::AesCipher::Create(strength, "pw", salt, crypto::AesCipher::Direction::Encrypt);
    auto decrypt = crypto::AesCipher::Create(strength, "pw", salt, crypto::AesCipher::Direction::Decrypt);
    ASSERT_TRUE(encrypt && decrypt);
    EXPECT_EQ(encrypt->Verifier(), decrypt->Verifier());
    std::string data = plain;
    auto* bytes = reinterpret_cast<unsigned char*>(data.data());
    // Pieces that do not line up with the 16-byte blocks or the key stream buffer.
    ASSERT_TRUE(encrypt->Process(bytes, 7));
    ASSERT_TRUE(encrypt->Process(bytes + 7, 4100));
    ASSERT_TRUE(encrypt->Process(bytes + 4107, data.size() - 4107));
    EXPECT_NE(data, plain);
    ASSERT_TRUE(decrypt->Process(bytes, 5000));
    ASSERT_TRUE(decrypt->Process(bytes + 5000, data.size() - 5000));
    EXPECT_EQ(data, plain);
    std::array<unsigned char, crypto::kAesMacSize> sent{};
    std::array<unsigned char, crypto::kAesMacSize> received{};
    ASSERT_TRUE(encrypt->Finish(sent));
    ASSERT_TRUE(decrypt->Finish(received));
    EXPECT_EQ(sent, received);
  }
  EXPECT_FALSE(crypto::AesCipher::Create(4, "pw", salt, crypto::AesCipher::Direction::Encrypt));
}

}  // namespace
}  // namespace zentrove::engine::zip
