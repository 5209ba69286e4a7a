#include "core/ini_file.h"

#include <cerrno>
#include <utility>

#include "base/text.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::core {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The profile functions count CR and ^Z (a DOS end of file) among the blanks.
bool IsProfileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

std::string_view TrimProfileBlanks(std::string_view text) {
  while (!text.empty() && IsProfileBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsProfileBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

bool IsQuotePair(std::string_view text) {
  return text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front();
}

}  // namespace

IniFile::IniFile(std::string path, FilePrivacy privacy) : path_(std::move(path)), privacy_(privacy) {}

std::string IniFile::ReaderValue(std::string_view rawValue) {
  std::string_view value = TrimProfileBlanks(rawValue);
  if (IsQuotePair(value)) value = value.substr(1, value.size() - 2);
  return base::CutCopy(value, kMaxProfileValueChars);
}

std::string IniFile::WriterValue(std::string_view value, Quotes quotes) {
  std::string text(value);
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  const bool readerWouldChange =
      !text.empty() && (IsProfileBlank(text.front()) || IsProfileBlank(text.back()) || IsQuotePair(text));
  return readerWouldChange || quotes == Quotes::Always ? "\"" + text + "\"" : text;
}

IniFile::Line IniFile::ParseLine(std::string_view raw) {
  Line line;
  line.raw = std::string(raw);
  const std::string_view text = TrimProfileBlanks(raw);
  if (text.empty()) return line;
  if (text.front() == ';') {
    line.kind = LineKind::Comment;
    return line;
  }
  line.kind = LineKind::Key;
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    line.name = std::string(text);
    return line;
  }
  line.name = std::string(TrimProfileBlanks(text.substr(0, equals)));
  line.hasValue = true;
  line.rawValue = std::string(TrimProfileBlanks(text.substr(equals + 1)));
  return line;
}

void IniFile::Parse(std::string_view text) {
  preamble_.clear();
  sections_.clear();
  indexValid_ = false;
  bom_ = base::StartsWith(text, kUtf8Bom);
  if (bom_) text.remove_prefix(kUtf8Bom.size());
  std::vector<Line>* lines = &preamble_;
  // Lines end in CR LF, LF or a lone CR, as the profile functions accept all three.
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view raw = text.substr(0, end);
    if (end == std::string_view::npos) {
      text = {};
    } else {
      text.remove_prefix(end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1));
    }

    const std::string_view trimmed = TrimProfileBlanks(raw);
    const std::size_t close = trimmed.rfind(']');
    if (!trimmed.empty() && trimmed.front() == '[' && close != std::string_view::npos && close > 0) {
      Section section;
      section.header = std::string(raw);
      section.name = std::string(TrimProfileBlanks(trimmed.substr(1, close - 1)));
      sections_.push_back(std::move(section));
      lines = &sections_.back().lines;
      continue;
    }
    lines->push_back(ParseLine(raw));
  }
}

void IniFile::LoadText(std::string_view text) {
  journal_.clear();
  Parse(text);
}

bool IniFile::Load(std::string* error) {
  journal_.clear();
  auto content = platform::ReadWholeFile(path_);
  if (!content.Ok()) {
    Parse({});
    if (content.Code() == ENOENT) return true;
    if (error != nullptr) *error = content.Message();
    return false;
  }
  Parse(*content);
  return true;
}

void IniFile::RebuildIndex() const {
  if (indexValid_) return;
  index_.clear();
  for (std::size_t i = 0; i < sections_.size(); ++i)
    index_.emplace(base::ToLowerAscii(sections_[i].name), i);
  indexValid_ = true;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  RebuildIndex();
  const auto it = index_.find(base::ToLowerAscii(TrimProfileBlanks(name)));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
  return const_cast<Section*>(std::as_const(*this).FindSection(name));
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (const Section& section : sections_)
    names.push_back(section.name);
  return names;
}

bool IniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != nullptr;
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  if (const Section* found = FindSection(section)) {
    for (const Line& line : found->lines) {
      if (line.kind == LineKind::Key && line.hasValue && !line.name.empty()) names.push_back(line.name);
    }
  }
  return names;
}

std::size_t IniFile::Section::FindKey(std::string_view name) const {
  if (!keyIndexValid) {
    keyIndex.clear();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind == LineKind::Key) keyIndex.emplace(base::ToLowerAscii(lines[i].name), i);
    }
    keyIndexValid = true;
  }
  const auto it = keyIndex.find(base::ToLowerAscii(name));
  return it == keyIndex.end() ? std::string::npos : it->second;
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
  const Section* found = FindSection(section);
  const std::string_view name = TrimProfileBlanks(key);
  if (found == nullptr || name.empty()) return std::nullopt;
  const std::size_t index = found->FindKey(name);
  if (index == std::string::npos || !found->lines[index].hasValue) return std::nullopt;
  return ReaderValue(found->lines[index].rawValue);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  std::optional<std::string> value = Find(section, key);
  return value ? std::move(*value) : std::string(defaultValue);
}

void IniFile::ApplyWrite(std::string_view sectionName, std::string_view keyName, std::string_view valueText) {
  const std::string_view section = TrimProfileBlanks(sectionName);
  const std::string_view key = TrimProfileBlanks(keyName);
  if (section.empty() || key.empty()) return;
  Section* found = FindSection(section);
  if (found == nullptr) {
    Section added;
    added.header = "[" + std::string(section) + "]";
    added.name = std::string(section);
    sections_.push_back(std::move(added));
    indexValid_ = false;
    found = &sections_.back();
  }
  if (const std::size_t index = found->FindKey(key); index != std::string::npos) {
    Line& line = found->lines[index];
    line = ParseLine(line.name + "=" + std::string(valueText));
    return;
  }
  std::size_t insertAt = found->lines.size();
  while (insertAt > 0 && found->lines[insertAt - 1].kind == LineKind::Blank)
    --insertAt;
  found->lines.insert(found->lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                      ParseLine(std::string(key) + "=" + std::string(valueText)));
  // Appending moves no line, so the index only gains the new key.
  if (insertAt + 1 == found->lines.size()) {
    found->keyIndex.emplace(base::ToLowerAscii(key), insertAt);
  } else {
    found->keyIndexValid = false;
  }
}

void IniFile::ApplyErase(std::string_view sectionName) {
  const std::string_view section = TrimProfileBlanks(sectionName);
  std::erase_if(sections_, [section](const Section& s) { return base::EqualsNoCase(s.name, section); });
  indexValid_ = false;
}

void IniFile::Apply(const Change& change) {
  switch (change.op) {
    case Op::Write:
      ApplyWrite(change.section, change.key, WriterValue(change.value, change.quotes));
      break;
    case Op::Erase:
      ApplyErase(change.section);
      break;
    case Op::Clear:
      Parse({});
      break;
  }
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value,
                          Quotes quotes) {
  journal_.push_back(Change{Op::Write, std::string(section), std::string(key), std::string(value), quotes});
  Apply(journal_.back());
}

void IniFile::EraseSection(std::string_view section) {
  journal_.push_back(Change{Op::Erase, std::string(section), {}, {}, Quotes::WhenNeeded});
  Apply(journal_.back());
}

void IniFile::Clear() {
  journal_.push_back(Change{Op::Clear, {}, {}, {}, Quotes::WhenNeeded});
  Apply(journal_.back());
}

std::string IniFile::Text() const {
  std::string text;
  if (bom_) text.append(kUtf8Bom);
  const auto appendLine = [&text](const std::string& line) { text.append(line).append("\r\n"); };
  for (const Line& line : preamble_)
    appendLine(line.raw);
  for (const Section& section : sections_) {
    appendLine(section.header);
    for (const Line& line : section.lines)
      appendLine(line.raw);
  }
  return text;
}

bool IniFile::Flush(std::string* error) {
  if (journal_.empty()) return true;
  // An exclusive lock on the file's folder while the file is re-read and replaced, so two processes
  // that flush the same profile at the same moment do not undo each other's changes. A folder that
  // cannot be locked is written without the lock.
  const std::size_t slash = path_.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
  [[maybe_unused]] const auto lock = platform::FileLock::Acquire(folder, platform::FileLock::Target::Folder);

  auto current = platform::ReadWholeFile(path_);
  if (!current.Ok() && current.Code() != ENOENT) {
    if (error != nullptr) *error = current.Message();
    return false;
  }
  const std::string onDisk = current.Ok() ? std::move(*current) : std::string();
  Parse(onDisk);
  for (const Change& change : journal_)
    Apply(change);

  const std::string text = Text();
  // A profile that never existed and stays empty is not created.
  if (current.Ok() ? text != onDisk : !text.empty()) {
    const std::uint32_t mode = privacy_ == FilePrivacy::OwnerOnly ? 0600 : 0644;
    platform::Status written = platform::WriteFileAtomically(path_, text, mode);
    if (!written.Ok()) {
      if (error != nullptr) *error = written.Message();
      return false;
    }
  }
  journal_.clear();
  return true;
}

}  // namespace zentrove::core
