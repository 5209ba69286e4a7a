#include "core/password_scramble.h"

#include <algorithm>

#include "base/text.h"
#include "core/task_record.h"
#include "core/user_interface.h"

namespace zentrove::core {

static_assert(kPasswordKeyText.size() == 45, "the key text has 45 characters");

const std::array<std::uint8_t, kPasswordKeyLength>& PasswordKey() {
  static const std::array<std::uint8_t, kPasswordKeyLength> key = [] {
    std::array<std::uint8_t, kPasswordKeyLength> bytes{};
    for (std::size_t i = 0; i < kPasswordKeyLength; ++i)
      bytes[i] = static_cast<std::uint8_t>(kPasswordKeyText[i]);
    return bytes;
  }();
  return key;
}

std::string ChainScramble(std::string_view plain) {
  std::string c(plain);
  const auto& k = PasswordKey();
  const std::size_t n = std::min(c.size(), kPasswordKeyLength);
  for (std::size_t i = 0; i < n; ++i) {
    auto b = static_cast<std::uint8_t>(static_cast<std::uint8_t>(c[i]) ^ k[i]);
    if (i > 0) b ^= static_cast<std::uint8_t>(c[i - 1]);
    c[i] = static_cast<char>(b);
  }
  return c;
}

std::string ChainUnscramble(std::string_view scrambled) {
  std::string c(scrambled);
  const auto& k = PasswordKey();
  // Backwards, so that c[i-1] is still in its scrambled form when c[i] needs it.
  for (std::size_t i = std::min(c.size(), kPasswordKeyLength); i-- > 0;) {
    auto b = static_cast<std::uint8_t>(c[i]);
    if (i > 0) b ^= static_cast<std::uint8_t>(c[i - 1]);
    c[i] = static_cast<char>(b ^ k[i]);
  }
  return c;
}

std::string MaskScramble(std::string_view bytes) {
  std::string result(bytes);
  for (char& c : result)
    c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kPasswordMask);
  return result;
}

std::string ToLetters(std::string_view bytes) {
  std::string letters;
  letters.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    letters.push_back(static_cast<char>('A' + (b >> 4)));
    letters.push_back(static_cast<char>('A' + (b & 15)));
  }
  return letters;
}

std::string FromLetters(std::string_view letters) {
  std::string bytes;
  bytes.reserve(letters.size() / 2);
  for (std::size_t i = 0; i + 1 < letters.size(); i += 2) {
    const int high = letters[i] - 'A';
    const int low = letters[i + 1] - 'A';
    bytes.push_back(static_cast<char>(static_cast<std::uint8_t>((high << 4) + low)));
  }
  return bytes;
}

bool IsLetterText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string ScrambleAccessPassword(std::string_view bytes) {
  std::string result(bytes);
  for (std::size_t i = 0; i < result.size(); ++i) {
    const auto position = static_cast<std::uint8_t>((i + 1) & 255);
    result[i] = static_cast<char>(static_cast<std::uint8_t>(result[i]) ^ kPasswordMask ^ position);
  }
  return result;
}

std::string ScrambleSmtpPassword(std::string_view plain) {
  return ToLetters(ChainScramble(plain));
}

std::string UnscrambleSmtpPassword(std::string_view stored) {
  return ChainUnscramble(FromLetters(stored));
}

void ScrambleTaskPasswords(TArhRecord& task) {
  task.UserName = ToLetters(ChainScramble(task.UserName));
  task.UserPassword = ToLetters(ChainScramble(task.UserPassword));
  task.Password = ToLetters(MaskScramble(task.Password));
}

bool UnscrambleTaskPasswords(TArhRecord& task) {
  if (!IsLetterText(task.UserName) || !IsLetterText(task.UserPassword) || !IsLetterText(task.Password)) {
    task.UserName.clear();
    task.UserPassword.clear();
    task.Password.clear();
    return false;
  }
  task.UserName = base::CutCopy(ChainUnscramble(FromLetters(task.UserName)), limits::kText40);
  task.UserPassword = base::CutCopy(ChainUnscramble(FromLetters(task.UserPassword)), limits::kText40);
  task.Password = base::CutCopy(MaskScramble(FromLetters(task.Password)), limits::kText100);
  return true;
}

std::string OldPasswordFormatMessage(int taskNumber) {
  return "Attention: The Task  [" + std::to_string(taskNumber) +
         "] contains old format stored user password or archive password. Old passwords will be cleared. "
         "Enter passwords in this task again  !!!";
}

void ShowOldPasswordFormatMessage(int taskNumber) {
  CurrentUserInterface().ShowMessage("Zentrove", OldPasswordFormatMessage(taskNumber), MessageIcon::Warning);
}

void UnscrambleTaskPasswordsAndWarn(TArhRecord& task) {
  if (!UnscrambleTaskPasswords(task)) ShowOldPasswordFormatMessage(task.TaskNumber);
}

}  // namespace zentrove::core
