#include "platform/environment.h"

#include "platform/files.h"

#include <iconv.h>
#include <langinfo.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace zentrove::platform {
namespace {

std::string ToUtf8(const char* text, const char* codeset) {
  std::string input = text != nullptr ? text : "";
  bool ascii = true;
  for (const unsigned char c : input)
    ascii = ascii && c < 0x80;
  if (ascii || codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0) return input;
  iconv_t converter = iconv_open("UTF-8", codeset);
  if (converter == reinterpret_cast<iconv_t>(-1)) return input;
  std::string output(input.size() * 4 + 4, '\0');
  char* in = input.data();
  std::size_t inLeft = input.size();
  char* out = output.data();
  std::size_t outLeft = output.size();
  const std::size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
  iconv_close(converter);
  if (converted == static_cast<std::size_t>(-1)) return input;
  output.resize(output.size() - outLeft);
  return output;
}

std::string LangInfo(nl_item item) {
  return ToUtf8(nl_langinfo(item), nl_langinfo(CODESET));
}

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

std::string ProgramPath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size())
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
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

std::string UserName() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_name != nullptr && found->pw_name[0] != '\0') {
    return found->pw_name;
  }
  return GetEnv("USER").value_or(std::string());
}

std::string UserConfigFolder() {
  // Relative values are invalid by the XDG base directory rules and ignored.
  if (const auto config = GetEnv("XDG_CONFIG_HOME"); config && !config->empty() && config->front() == '/') {
    return WithTrailingSlash(*config);
  }
  return WithTrailingSlash(HomeFolder()) + ".config/";
}

std::string ConfigBaseFolder() {
  if (const auto dir = GetEnv("ZENTROVE_CONFIG_DIR"); dir && !dir->empty()) return WithTrailingSlash(*dir);
  return UserConfigFolder() + "Zentrove/";
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

std::string LocaleString(LocaleText text) {
  switch (text) {
    case LocaleText::DateFormat:
      return LangInfo(D_FMT);
    case LocaleText::TimeFormat:
      return LangInfo(T_FMT);
    case LocaleText::TwelveHourTimeFormat:
      return LangInfo(T_FMT_AMPM);
    case LocaleText::AmText:
      return LangInfo(AM_STR);
    case LocaleText::PmText:
      return LangInfo(PM_STR);
  }
  return {};
}

std::string LocaleMonthName(int month, NameForm form) {
  static constexpr nl_item kLong[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                        MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  static constexpr nl_item kShort[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                         ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
#ifdef ALTMON_1
  static constexpr nl_item kLongStandalone[12] = {ALTMON_1, ALTMON_2,  ALTMON_3,  ALTMON_4,
                                                  ALTMON_5, ALTMON_6,  ALTMON_7,  ALTMON_8,
                                                  ALTMON_9, ALTMON_10, ALTMON_11, ALTMON_12};
  static constexpr nl_item kShortStandalone[12] = {
      _NL_ABALTMON_1, _NL_ABALTMON_2, _NL_ABALTMON_3, _NL_ABALTMON_4,  _NL_ABALTMON_5,  _NL_ABALTMON_6,
      _NL_ABALTMON_7, _NL_ABALTMON_8, _NL_ABALTMON_9, _NL_ABALTMON_10, _NL_ABALTMON_11, _NL_ABALTMON_12};
#else
  static constexpr const nl_item* kLongStandalone = kLong;
  static constexpr const nl_item* kShortStandalone = kShort;
#endif
  if (month < 1 || month > 12) return {};
  const auto i = static_cast<std::size_t>(month - 1);
  switch (form) {
    case NameForm::Long:
      return LangInfo(kLong[i]);
    case NameForm::Short:
      return LangInfo(kShort[i]);
    case NameForm::LongStandalone:
      return LangInfo(kLongStandalone[i]);
    case NameForm::ShortStandalone:
      return LangInfo(kShortStandalone[i]);
  }
  return {};
}

std::string LocaleDayName(int day, NameForm form) {
  static constexpr nl_item kLong[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  static constexpr nl_item kShort[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
  if (day < 0 || day > 6) return {};
  const auto i = static_cast<std::size_t>(day);
  return LangInfo(form == NameForm::Long || form == NameForm::LongStandalone ? kLong[i] : kShort[i]);
}

}  // namespace zentrove::platform
