#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstring>
#include <string>

#include "engine/zip/sha1_lanes.h"

namespace zentrove::engine::zip::crypto {
namespace {

class Sha1LanesTest : public testing::TestWithParam<Sha1Code> {};

TEST_P(Sha1LanesTest, EveryLaneCountMatchesTheReference) {
  if (GetParam() == Sha1Code::Fastest && !HasSha1Extensions()) {
    GTEST_SKIP() << "this processor has no SHA extensions";
  }
  unsigned char salt[16];
  for (std::size_t i = 0; i < sizeof(salt); ++i)
    salt[i] = static_cast<unsigned char>(0xA5 ^ (i * 37));
  // One to four lanes with a partial last block, and 100 bytes for a second set of lanes whose block
  // numbers go on from the first; 64-byte passwords are used as they are, longer ones hashed first.
  for (const std::string& password :
       {std::string(), std::string("pw"), std::string(64, 'k'), std::string(100, 'x')}) {
    for (int iterations : {1, 2, 1000}) {
      for (std::size_t size : {20, 34, 50, 66, 100}) {
        for (std::size_t saltSize : {8, 12, 16}) {
          unsigned char ours[101];
          unsigned char reference[100];
          std::memset(ours, 0xEE, sizeof(ours));
          Pbkdf2HmacSha1Lanes(password, salt, saltSize, iterations, ours, size, GetParam());
          ASSERT_EQ(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt,
                                      static_cast<int>(saltSize), iterations, EVP_sha1(),
                                      static_cast<int>(size), reference),
                    1);
          EXPECT_EQ(std::memcmp(ours, reference, size), 0)
              << "password " << password.size() << ", iterations " << iterations << ", size " << size
              << ", salt " << saltSize;
          EXPECT_EQ(ours[size], 0xEE) << "written past " << size << " bytes";
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Code, Sha1LanesTest, testing::Values(Sha1Code::Fastest, Sha1Code::Portable),
                         [](const testing::TestParamInfo<Sha1Code>& info) {
                           return info.param == Sha1Code::Fastest ? std::string("Fastest")
                                                                  : std::string("Portable");
                         });

}  // namespace
}  // namespace zentrove::engine::zip::crypto
