#include "platform/environment.h"

#include "platform/files.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace zentrove::platform {
namespace {

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string ExpandEnvironment(std::string_view text) {
  return ExpandEnvironment(text, [](const std::string& name) -> std::optional<std::string> {
    if (auto value = GetEnv(name)) return value;
    // Windows ignores the letter case of names, and tasks written there say %Temp% as often as %TEMP%.
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view variable = *entry;
      const auto equals = variable.find('=');
      if (equals != name.size()) continue;
      bool same = true;
      for (std::size_t i = 0; i < equals && same; ++i) {
        same = std::tolower(static_cast<unsigned char>(variable[i])) ==
               std::tolower(static_cast<unsigned char>(name[i]));
      }
      if (same) return std::string(variable.substr(equals + 1));
    }
    return std::nullopt;
  });
}

std::string ExpandEnvironment(std::string_view text, const EnvironmentLookup& lookup) {
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '%') {
      // Names between percent signs may hold any character but "=" (Windows allows blanks and
      // parentheses, as in ProgramFiles(x86)); an unknown one keeps its first "%" and scanning goes on
      // after it, so the second "%" may open the next reference.
      const auto close = text.find('%', i + 1);
      if (close != std::string_view::npos && close > i + 1) {
        const std::string name(text.substr(i + 1, close - i - 1));
        if (name.find('=') == std::string::npos) {
          if (const auto value = lookup(name)) {
            result += *value;
            i = close + 1;
            continue;
          }
        }
      }
    } else if (c == '$' && i + 1 < text.size() && text[i + 1] == '{') {
      const auto close = text.find('}', i + 2);
      if (close != std::string_view::npos && close > i + 2) {
        const std::string name(text.substr(i + 2, close - i - 2));
        bool plain = true;
        for (const char n : name)
          plain = plain && IsNameChar(n);
        if (plain) {
          if (const auto value = lookup(name)) {
            result += *value;
            i = close + 1;
            continue;
          }
        }
      }
    }
    result += c;
    ++i;
  }
  return result;
}

std::string ProgramFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return "./";
    if (static_cast<std::size_t>(n) < buffer.size()) {
      std::string path(buffer.data(), static_cast<std::size_t>(n));
      const auto slash = path.find_last_of('/');
      return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string HomeFolder() {
  if (auto home = GetEnv("HOME"); home && !home->empty()) {
    while (home->size() > 1 && home->back() == '/')
      home->pop_back();
    return *home;
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/";
}

std::string ConfigBaseFolder() {
  if (const auto dir = GetEnv("ZENTROVE_CONFIG_DIR"); dir && !dir->empty()) return WithTrailingSlash(*dir);
  // Relative values are invalid by the XDG base directory rules and ignored.
  if (const auto config = GetEnv("XDG_CONFIG_HOME"); config && !config->empty() && config->front() == '/') {
    return WithTrailingSlash(*config) + "Zentrove/";
  }
  const std::string home = HomeFolder();
  return WithTrailingSlash(home) + ".config/Zentrove/";
}

Result<std::string> RuntimeFolder() {
  if (const auto runtime = GetEnv("XDG_RUNTIME_DIR");
      runtime && !runtime->empty() && runtime->front() == '/') {
    return WithTrailingSlash(*runtime);
  }
  const std::string folder = "/tmp/zentrove-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Status::FromErrno(errno, folder);
  // /tmp is shared: a folder someone else prepared there must not hold our lock and socket.
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) return Status::FromErrno(errno, folder);
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
    return Status::Failure(EPERM, folder + ": not a folder of this user");
  }
  if ((st.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) return Status::FromErrno(errno, folder);
  return folder + "/";
}

std::string SessionName(SessionKind kind) {
  if (kind == SessionKind::Service) return "service";
  std::string name;
  if (const auto id = GetEnv("XDG_SESSION_ID")) {
    for (const char c : *id) {
      if (IsNameChar(c) || c == '-' || c == '.') name += c;
    }
  }
  if (name.empty() || name == "service" || name.find_first_not_of('.') == std::string::npos) return "default";
  return name;
}

}  // namespace zentrove::platform
