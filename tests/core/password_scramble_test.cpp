#include "core/password_scramble.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "core/task_record.h"

namespace zentrove::core {
namespace {

TEST(PasswordScramble, KeyIsTheLowBytesOfTheFirst40Characters) {
  const auto& key = PasswordKey();
  for (std::size_t i = 0; i < kPasswordKeyLength; ++i) {
    EXPECT_EQ(key[i], static_cast<std::uint8_t>(kPasswordKeyText[i]));
  }
}

TEST(PasswordScramble, ChainedScramblingFollowsTheRule) {
  const auto& k = PasswordKey();
  const std::string scrambled = ChainScramble("abc");
  ASSERT_EQ(scrambled.size(), 3u);
  const auto c1 = static_cast<std::uint8_t>('a' ^ k[0]);
  const auto c2 = static_cast<std::uint8_t>('b' ^ k[1] ^ c1);
  const auto c3 = static_cast<std::uint8_t>('c' ^ k[2] ^ c2);
  EXPECT_EQ(static_cast<std::uint8_t>(scrambled[0]), c1);
  EXPECT_EQ(static_cast<std::uint8_t>(scrambled[1]), c2);
  EXPECT_EQ(static_cast<std::uint8_t>(scrambled[2]), c3);

  // Bytes after the 40th are left alone.
  const std::string longText(45, 'z');
  EXPECT_EQ(ChainScramble(longText).substr(40), "zzzzz");
  EXPECT_EQ(ChainUnscramble(ChainScramble(longText)), longText);
}

TEST(PasswordScramble, LettersAreTwoPerByteHighHalfFirst) {
  EXPECT_EQ(ToLetters(std::string("\x00\x1F\xFF", 3)), "AABPPP");
  EXPECT_EQ(FromLetters("AABPPP"), std::string("\x00\x1F\xFF", 3));
  EXPECT_EQ(FromLetters("ABC"), "\x01");  // the odd last letter is ignored
  EXPECT_TRUE(IsLetterText(""));
  EXPECT_TRUE(IsLetterText("AZQ"));
  EXPECT_FALSE(IsLetterText("AbC"));
  EXPECT_FALSE(IsLetterText("A1"));
}

TEST(PasswordScramble, AccessAndSmtpPasswordsRoundTrip) {
  const std::string password = "S\xC3\xA9same ouvre-toi";
  const std::string stored = ScrambleAccessPassword(password);
  EXPECT_NE(stored, password);
  EXPECT_EQ(static_cast<std::uint8_t>(stored[0]), static_cast<std::uint8_t>('S' ^ kPasswordMask ^ 1));
  EXPECT_EQ(ScrambleAccessPassword(stored), password);

  const std::string longPassword(60, 'p');
  const std::string smtp = ScrambleSmtpPassword(longPassword);
  EXPECT_EQ(smtp.size(), 120u) << "the SMTP letter text is not cut";
  EXPECT_EQ(UnscrambleSmtpPassword(smtp), longPassword);
}

TEST(PasswordScramble, TaskPasswordsSurviveWholeAndAreCutToTheirLimits) {
  TArhRecord task;
  task.UserName = std::string(25, 'u');
  task.UserPassword = "p\xC3\xA4\xE2\x82\xAC" + std::string(37, 'w');  // 40 characters, 43 bytes
  task.Password = std::string(60, 'a');
  TArhRecord stored = task;
  ScrambleTaskPasswords(stored);
  EXPECT_EQ(stored.UserName.size(), 50u);
  EXPECT_EQ(stored.UserPassword.size(), 86u);
  EXPECT_EQ(stored.Password.size(), 120u);
  EXPECT_TRUE(IsLetterText(stored.UserName + stored.UserPassword + stored.Password));
  EXPECT_NE(stored.Password.substr(0, 2), ToLetters("a"));

  ASSERT_TRUE(UnscrambleTaskPasswords(stored));
  EXPECT_EQ(stored.UserName, task.UserName);
  EXPECT_EQ(stored.UserPassword, task.UserPassword);
  EXPECT_EQ(stored.Password, task.Password);

  // A stored value longer than the field gives back no more than the field holds.
  TArhRecord tooLong;
  tooLong.UserName = ToLetters(ChainScramble(std::string(50, 'n')));
  tooLong.Password = ToLetters(MaskScramble(std::string(120, 'x')));
  ASSERT_TRUE(UnscrambleTaskPasswords(tooLong));
  EXPECT_EQ(tooLong.UserName, std::string(40, 'n'));
  EXPECT_EQ(tooLong.Password, std::string(100, 'x'));
}

TEST(PasswordScramble, OldFormClearsAllThreePasswords) {
  TArhRecord task;
  task.UserName = ToLetters(ChainScramble("admin"));
  task.UserPassword = ToLetters(ChainScramble("secret"));
  task.Password = "abc123";
  EXPECT_FALSE(UnscrambleTaskPasswords(task));
  EXPECT_TRUE(task.UserName.empty());
  EXPECT_TRUE(task.UserPassword.empty());
  EXPECT_TRUE(task.Password.empty());

  TArhRecord empty;
  EXPECT_TRUE(UnscrambleTaskPasswords(empty));
  EXPECT_EQ(OldPasswordFormatMessage(1004),
            "Attention: The Task  [1004] contains old format stored user password or archive password. Old "
            "passwords will be cleared. Enter passwords in this task again  !!!");
}

}  // namespace
}  // namespace zentrove::core
