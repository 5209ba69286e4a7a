#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zentrove::core {

struct TArhRecord;

// The key text; only the low bytes of its first 40 characters are used (k[1] to k[40]). Changing it
// makes every stored password unreadable.
inline constexpr std::string_view kPasswordKeyText = "Zentrove/keeps+its+backups@safe#2008-Zebra!7~";
inline constexpr std::size_t kPasswordKeyLength = 40;
// The one-byte mask of the archive password and the access password.
inline constexpr std::uint8_t kPasswordMask = 0x5C;

// k[1] to k[40] as element 0 to 39.
const std::array<std::uint8_t, kPasswordKeyLength>& PasswordKey();

// Chained scrambling of the first 40 bytes with the key (c[i] XOR k[i], then XOR the scrambled
// c[i-1]); later bytes stay as they are. The user name and network password of a task use it, and
// the SMTP password among the options.
std::string ChainScramble(std::string_view plain);
std::string ChainUnscramble(std::string_view scrambled);
// Every byte XOR kPasswordMask; its own inverse.
std::string MaskScramble(std::string_view bytes);
// Every byte as two capital letters "A" to "P", high half first.
std::string ToLetters(std::string_view bytes);
// Every pair of letters back to a byte, kept to 8 bits; an odd last letter is ignored.
std::string FromLetters(std::string_view letters);
// True when every character is a capital letter "A" to "Z" (the empty text included).
bool IsLetterText(std::string_view text);

// The stored form of the access password: c[i] XOR kPasswordMask XOR (i AND 255), i from 1; its own
// inverse. The result may hold any byte value (NUL, CR and LF included), so the caller must store it
// in a form that keeps every byte.
std::string ScrambleAccessPassword(std::string_view bytes);

// The letter form of the SMTP password: chained, then letters, not cut.
std::string ScrambleSmtpPassword(std::string_view plain);
// No check of the stored form: a value that is no letter text gives an unusable password.
std::string UnscrambleSmtpPassword(std::string_view stored);

// Replaces UserName, UserPassword and Password of a task (normally a copy about to be written) by
// their stored letter forms. The whole letter text is kept, so no character of a password is lost.
void ScrambleTaskPasswords(TArhRecord& task);
// Turns the stored forms back into the passwords, cut to their limits (40, 40 and 100 characters).
// When any of the three holds a character outside "A" to "Z", they were stored by an older version:
// all three are cleared and false is returned, so the caller can tell the user.
bool UnscrambleTaskPasswords(TArhRecord& task);
// What the user is told when a task's passwords were cleared, and telling it through the user
// interface (the headless program logs it instead).
std::string OldPasswordFormatMessage(int taskNumber);
void ShowOldPasswordFormatMessage(int taskNumber);
// UnscrambleTaskPasswords, and ShowOldPasswordFormatMessage when the passwords were cleared.
void UnscrambleTaskPasswordsAndWarn(TArhRecord& task);

}  // namespace zentrove::core
