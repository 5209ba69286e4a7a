#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zentrove::base {

// Number of characters of a text: UTF-8 sequences count as one, stray bytes that are not valid UTF-8
// count one each, so no byte is ever lost or split.
std::size_t CharCount(std::string_view text);
// Cuts a text to at most `limit` characters without splitting a UTF-8 sequence. A limit of 0 means
// no limit.
void CutToChars(std::string& text, std::size_t limit);
std::string CutCopy(std::string_view text, std::size_t limit);
bool IsValidUtf8(std::string_view text);
// The text with every byte that is not printable ASCII, and the backslash, written as \\xHH, so
// that a name of any bytes can stand in a log line.
std::string EscapeBytes(std::string_view text);

std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
// Case-insensitive search for ASCII letters; other bytes compare exactly.
std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from = 0);
std::string_view TrimBlanks(std::string_view text);
std::vector<std::string> Split(std::string_view text, char separator);
bool StartsWith(std::string_view text, std::string_view prefix);
bool EndsWith(std::string_view text, std::string_view suffix);
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);
std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to);

}  // namespace zentrove::base
