#include "platform/autostart.h"

#include "platform/environment.h"
#include "platform/files.h"

namespace zentrove::platform {
namespace {

constexpr std::string_view kDesktopEntryGroup = "[Desktop Entry]";

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string AutostartFolder() {
  return UserConfigFolder() + "autostart";
}

}  // namespace

std::string AutostartEntryPath() {
  return AutostartFolder() + "/" + std::string(kAutostartFileName);
}

std::string DesktopExecWord(std::string_view argument) {
  std::string quoted = "\"";
  for (const char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '%') {
      // A single "%" would start a field code.
      quoted += "%%";
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  // The key file reads its string escapes before the Exec value is unquoted, so they are applied last.
  std::string stored;
  for (const char c : quoted) {
    switch (c) {
      case '\\':
        stored += "\\\\";
        break;
      case '\n':
        stored += "\\n";
        break;
      case '\t':
        stored += "\\t";
        break;
      case '\r':
        stored += "\\r";
        break;
      default:
        stored += c;
    }
  }
  return stored;
}

std::string AutostartEntryText(const std::string& programPath, const std::vector<std::string>& arguments) {
  std::string exec = DesktopExecWord(programPath);
  for (const std::string& argument : arguments)
    exec += " " + DesktopExecWord(argument);
  return std::string(kDesktopEntryGroup) +
         "\n"
         "Type=Application\n"
         "Name=Zentrove\n"
         "Comment=Backup scheduler\n"
         "Exec=" +
         exec +
         "\n"
         "Terminal=false\n" +
         std::string(kAutostartMarkerKey) + "=true\n";
}

bool IsOurAutostartEntry(std::string_view text) {
  bool inEntryGroup = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inEntryGroup = line == kDesktopEntryGroup;
      continue;
    }
    const auto equals = line.find('=');
    if (!inEntryGroup || equals == std::string_view::npos) continue;
    if (Trimmed(line.substr(0, equals)) == kAutostartMarkerKey)
      return Trimmed(line.substr(equals + 1)) == "true";
  }
  return false;
}

AutostartEntryKind FindAutostartEntry() {
  const std::string path = AutostartEntryPath();
  if (!Stat(path).exists) return AutostartEntryKind::None;
  // An entry that cannot be read cannot be shown to be ours, so it is left alone.
  const auto text = ReadWholeFile(path);
  return text && IsOurAutostartEntry(*text) ? AutostartEntryKind::Ours : AutostartEntryKind::MadeByUser;
}

Status SetAutostart(bool on, const std::string& programPath, const std::vector<std::string>& arguments) {
  const AutostartEntryKind kind = FindAutostartEntry();
  if (kind == AutostartEntryKind::MadeByUser) return Status::Success();
  const std::string path = AutostartEntryPath();
  if (!on) return kind == AutostartEntryKind::Ours ? RemoveFile(path) : Status::Success();

  const std::string text = AutostartEntryText(programPath, arguments);
  if (kind == AutostartEntryKind::Ours) {
    if (const auto current = ReadWholeFile(path); current && *current == text) return Status::Success();
  }
  if (Status folder = CreateFolderPath(AutostartFolder(), 0700); !folder) return folder;
  return WriteFileAtomically(path, text, 0644);
}

}  // namespace zentrove::platform
