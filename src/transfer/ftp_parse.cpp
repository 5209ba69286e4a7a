#include "transfer/ftp_parse.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>

#include "base/text.h"

namespace zentrove::transfer {
namespace {

using platform::Status;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool HasCode(std::string_view line) {
  return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) && line[0] != '0';
}

template <typename T>
std::optional<T> Number(std::string_view text) {
  T value{};
  if (text.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ')
      ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ')
      ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The UTC moment as local time.
std::optional<base::TDateTime> UtcToLocal(int year, int month, int day, int hour, int minute, int second) {
  base::TDateTime date = 0;
  base::TDateTime time = 0;
  if (!base::TryEncodeDate(year, month, day, date) || !base::TryEncodeTime(hour, minute, second, 0, time)) {
    return std::nullopt;
  }
  const double days = date - base::EncodeDate(1970, 1, 1);
  const auto seconds =
      static_cast<std::time_t>(days * base::kSecondsPerDay + hour * 3600 + minute * 60 + second);
  return base::FromTimeT(seconds);
}

std::optional<base::TDateTime> ParseTimestamp14(std::string_view text) {
  if (text.size() < 14) return std::nullopt;
  for (std::size_t i = 0; i < 14; ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
  }
  const auto part = [text](std::size_t at, std::size_t length) {
    return *Number<int>(text.substr(at, length));
  };
  return UtcToLocal(part(0, 4), part(4, 2), part(6, 2), part(8, 2), part(10, 2), part(12, 2));
}

int MonthOf(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                               "jul", "aug", "sep", "oct", "nov", "dec"};
  if (word.size() != 3) return 0;
  for (std::size_t i = 0; i < kMonths.size(); ++i) {
    if (base::EqualsNoCase(word, kMonths[i])) return static_cast<int>(i) + 1;
  }
  return 0;
}

// The position just after the n-th word (0-based) of a line, where the rest of the line begins.
std::size_t AfterWord(std::string_view line, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t word = 0; word <= n; ++word) {
    while (i < line.size() && line[i] == ' ')
      ++i;
    while (i < line.size() && line[i] != ' ')
      ++i;
  }
  return i;
}

std::optional<RemoteEntry> ParseUnixLine(std::string_view line, base::TDateTime now) {
  const std::vector<std::string_view> words = Words(line);
  if (words.size() < 6) return std::nullopt;
  const char kind = words[0][0];
  if (kind != '-' && kind != 'd' && kind != 'l') return std::nullopt;
  // The month, day and time-or-year come before the name; owner and group may be missing.
  for (std::size_t m = 2; m + 3 < words.size() + 1 && m + 2 < words.size(); ++m) {
    const int month = MonthOf(words[m]);
    if (month == 0) continue;
    const auto day = Number<int>(words[m + 1]);
    if (!day) continue;
    const std::string_view yearOrTime = words[m + 2];
    RemoteEntry entry;
    entry.folder = kind == 'd';
    entry.link = kind == 'l';
    std::size_t start = AfterWord(line, m + 2);
    if (start < line.size()) ++start;
    std::string_view name = line.substr(std::min(start, line.size()));
    if (entry.link) {
      if (const std::size_t arrow = name.find(" -> "); arrow != std::string_view::npos)
        name = name.substr(0, arrow);
    }
    if (name.empty()) return std::nullopt;
    entry.name = std::string(name);
    if (!entry.folder && !entry.link) entry.size = Number<std::uint64_t>(words[m - 1]);
    base::TDateTime date = 0;
    if (const std::size_t colon = yearOrTime.find(':'); colon != std::string_view::npos) {
      const auto hour = Number<int>(yearOrTime.substr(0, colon));
      const auto minute = Number<int>(yearOrTime.substr(colon + 1));
      base::TDateTime time = 0;
      int year = base::DecodeDate(now).year;
      // A listing shows the time instead of the year for the last six months, so a date later than
      // tomorrow belongs to the year before.
      if (hour && minute && base::TryEncodeDate(year, month, *day, date) &&
          base::TryEncodeTime(*hour, *minute, 0, 0, time)) {
        if (date > now + 1) {
          --year;
          if (!base::TryEncodeDate(year, month, *day, date)) date = 0;
        }
        entry.time = date == 0 ? 0 : date + time;
      }
    } else if (const auto year = Number<int>(yearOrTime);
               year && base::TryEncodeDate(*year, month, *day, date)) {
      entry.time = date;
    }
    return entry;
  }
  return std::nullopt;
}

std::optional<RemoteEntry> ParseDosLine(std::string_view line) {
  const std::vector<std::string_view> words = Words(line);
  if (words.size() < 4) return std::nullopt;
  const std::string_view dateWord = words[0];
  if (dateWord.size() < 8 || (dateWord[2] != '-' && dateWord[2] != '/')) return std::nullopt;
  const auto month = Number<int>(dateWord.substr(0, 2));
  const auto day = Number<int>(dateWord.substr(3, 2));
  auto year = Number<int>(dateWord.substr(6));
  if (!month || !day || !year) return std::nullopt;
  if (dateWord.size() == 8) *year += *year < 70 ? 2000 : 1900;
  std::string_view timeWord = words[1];
  bool pm = false;
  bool am = false;
  if (timeWord.size() > 2 && base::EqualsNoCase(timeWord.substr(timeWord.size() - 2), "PM")) pm = true;
  if (timeWord.size() > 2 && base::EqualsNoCase(timeWord.substr(timeWord.size() - 2), "AM")) am = true;
  if (pm || am) timeWord.remove_suffix(2);
  const std::size_t colon = timeWord.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto hour = Number<int>(timeWord.substr(0, colon));
  const auto minute = Number<int>(timeWord.substr(colon + 1));
  if (!hour || !minute) return std::nullopt;
  if (pm && *hour < 12) *hour += 12;
  if (am && *hour == 12) *hour = 0;
  RemoteEntry entry;
  if (words[2] == "<DIR>") {
    entry.folder = true;
  } else {
    entry.size = Number<std::uint64_t>(words[2]);
    if (!entry.size) return std::nullopt;
  }
  std::size_t start = AfterWord(line, 2);
  if (start < line.size()) ++start;
  const std::string_view name = base::TrimBlanks(line.substr(std::min(start, line.size())));
  if (name.empty()) return std::nullopt;
  entry.name = std::string(name);
  base::TDateTime date = 0;
  base::TDateTime time = 0;
  if (base::TryEncodeDate(*year, *month, *day, date) && base::TryEncodeTime(*hour, *minute, 0, 0, time)) {
    entry.time = date + time;
  }
  return entry;
}

}  // namespace

Status FtpReplyAssembler::AddLine(std::string_view line) {
  if (line.size() > kMaxReplyLine) {
    return Status::Failure(EPROTO, "The server sent a reply line longer than 8 KiB");
  }
  size_ += line.size() + 2;
  if (size_ > kMaxReply) return Status::Failure(EPROTO, "The server sent a reply longer than 64 KiB");
  if (!started_) {
    if (!HasCode(line) || (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
      return Status::Failure(EPROTO,
                             "The server sent a malformed reply: " + PrintableReplyText(line.substr(0, 80)));
    }
    started_ = true;
    codeText_ = std::string(line.substr(0, 3));
    reply_.code = *Number<int>(codeText_);
    multiline_ = line.size() > 3 && line[3] == '-';
    reply_.text = std::string(line.substr(std::min<std::size_t>(4, line.size())));
    complete_ = !multiline_;
  } else {
    const bool last = line.size() >= 4 && line.substr(0, 3) == codeText_ && line[3] == ' ';
    reply_.text += '\n';
    reply_.text += line.substr(last ? 4 : 0);
    complete_ = last || (line.size() == 3 && line == codeText_);
  }
  if (complete_) reply_.text = std::string(base::TrimBlanks(reply_.text));
  return Status::Success();
}

FtpReply FtpReplyAssembler::Take() {
  FtpReply taken = std::move(reply_);
  *this = FtpReplyAssembler();
  return taken;
}

platform::Result<std::vector<FtpReply>> ParseReplies(std::string_view stream) {
  std::vector<FtpReply> replies;
  FtpReplyAssembler assembler;
  while (!stream.empty()) {
    const std::size_t end = stream.find('\n');
    if (end == std::string_view::npos) break;
    std::string_view line = stream.substr(0, end);
    stream.remove_prefix(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (Status added = assembler.AddLine(line); !added) return added;
    if (assembler.Complete()) replies.push_back(assembler.Take());
  }
  return replies;
}

std::string PrintableReplyText(std::string_view text) {
  std::string printable(text);
  for (char& c : printable) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  return printable;
}

std::optional<int> ParsePasvPort(std::string_view text) {
  // Some servers leave out the parentheses, so the six numbers are looked for after the first digit.
  std::size_t i = text.find('(');
  if (i == std::string_view::npos) {
    i = 0;
    while (i < text.size() && !IsDigit(text[i]))
      ++i;
  } else {
    ++i;
  }
  std::array<int, 6> numbers{};
  for (std::size_t n = 0; n < numbers.size(); ++n) {
    std::size_t start = i;
    while (i < text.size() && IsDigit(text[i]) && i - start < 4)
      ++i;
    const auto value = Number<int>(text.substr(start, i - start));
    if (!value || *value > 255) return std::nullopt;
    numbers[n] = *value;
    if (n + 1 < numbers.size()) {
      if (i >= text.size() || text[i] != ',') return std::nullopt;
      ++i;
    }
  }
  const int port = numbers[4] * 256 + numbers[5];
  if (port == 0) return std::nullopt;
  return port;
}

std::optional<int> ParseEpsvPort(std::string_view text) {
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos || open + 4 >= text.size()) return std::nullopt;
  const char delimiter = text[open + 1];
  if (delimiter < 33 || delimiter > 126 || text[open + 2] != delimiter || text[open + 3] != delimiter) {
    return std::nullopt;
  }
  const std::size_t start = open + 4;
  const std::size_t end = text.find(delimiter, start);
  if (end == std::string_view::npos) return std::nullopt;
  const auto port = Number<int>(text.substr(start, end - start));
  if (!port || *port <= 0 || *port > 65535) return std::nullopt;
  return port;
}

std::optional<std::string> ParsePwdReply(const std::string& text) {
  const std::size_t open = text.find('"');
  if (open == std::string::npos) return std::nullopt;
  std::string folder;
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] != '"') {
      folder += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '"') {
      folder += '"';
      ++i;
    } else {
      if (folder.empty()) return std::nullopt;
      return folder;
    }
  }
  return std::nullopt;
}

std::optional<RemoteEntry> ParseMlsdLine(std::string_view line) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos || blank + 1 >= line.size()) return std::nullopt;
  RemoteEntry entry;
  entry.name = std::string(line.substr(blank + 1));
  bool typed = false;
  for (const std::string& fact : base::Split(line.substr(0, blank), ';')) {
    const std::size_t equals = fact.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = base::ToLowerAscii(fact.substr(0, equals));
    const std::string value = fact.substr(equals + 1);
    if (key == "type") {
      const std::string type = base::ToLowerAscii(value);
      // The current and parent folder entries are not part of the folder's contents.
      if (type == "cdir" || type == "pdir") return std::nullopt;
      entry.folder = type == "dir";
      entry.link = base::StartsWith(type, "os.unix=slink") || base::StartsWith(type, "os.unix=symlink");
      entry.otherType = !entry.folder && !entry.link && type != "file";
      typed = true;
    } else if (key == "unix.mode" || key == "perm") {
      continue;
    } else if (key == "size") {
      entry.size = Number<std::uint64_t>(value);
    } else if (key == "modify") {
      const std::optional<base::TDateTime> time = ParseTimestamp14(value);
      entry.time = time.value_or(0);
      entry.exactTime = time.has_value();
    }
  }
  if (!typed || entry.name.empty()) return std::nullopt;
  return entry;
}

std::optional<RemoteEntry> ParseListLine(std::string_view line, base::TDateTime now) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || base::StartsWith(base::ToLowerAscii(line.substr(0, 6)), "total ")) return std::nullopt;
  if (IsDigit(line[0])) return ParseDosLine(line);
  return ParseUnixLine(line, now);
}

std::optional<base::TDateTime> ParseMdtmTime(std::string_view text) {
  return ParseTimestamp14(base::TrimBlanks(text));
}

namespace {

// Lines that carry no entry by design.
bool IsListingFrame(std::string_view line, bool mlsd) {
  if (base::TrimBlanks(line).empty()) return true;
  const std::string lower = base::ToLowerAscii(line.substr(0, std::min<std::size_t>(line.size(), 64)));
  if (!mlsd) return base::StartsWith(lower, "total ");
  return lower.find("type=cdir;") != std::string::npos || lower.find("type=pdir;") != std::string::npos;
}

}  // namespace

std::vector<RemoteEntry> ParseListing(std::string_view listing, bool mlsd, base::TDateTime now,
                                      std::size_t* unparsed) {
  if (unparsed) *unparsed = 0;
  std::vector<RemoteEntry> entries;
  while (!listing.empty()) {
    std::size_t end = listing.find('\n');
    std::string_view line = listing.substr(0, end);
    listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto entry = mlsd ? ParseMlsdLine(line) : ParseListLine(line, now);
    if (entry && entry->name != "." && entry->name != "..") entries.push_back(std::move(*entry));
    if (!entry && unparsed && !IsListingFrame(line, mlsd)) ++*unparsed;
  }
  return entries;
}

}  // namespace zentrove::transfer
