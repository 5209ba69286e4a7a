#include "app/cli_option.h"

#include <charconv>
#include <ostream>

#include "app/cli.h"
#include "base/text.h"
#include "core/config_folder.h"
#include "core/password_scramble.h"
#include "core/task_file_format.h"
#include "transfer/smtp_client.h"

namespace zentrove::app {

using core::ProgramOptions;
namespace {

enum class OptionForm { Flag, Integer, Text, AccessPassword, SmtpPassword };

// One key of section Options. Exactly one of the three accessors is set, after the form.
struct OptionKey {
  std::string_view key;
  OptionForm form;
  bool& (*flag)(ProgramOptions&) = nullptr;
  std::int32_t& (*integer)(ProgramOptions&) = nullptr;
  std::string& (*text)(ProgramOptions&) = nullptr;
  // What the key accepts beyond its form, and how the error says it.
  bool (*accepts)(std::string_view value) = nullptr;
  std::string_view allowed = {};
};

bool AnyValue(std::string_view) {
  return true;
}

std::optional<std::int32_t> ParseInteger(std::string_view text) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

template <std::int32_t Low, std::int32_t High>
bool InRange(std::string_view text) {
  const auto value = ParseInteger(text);
  return value && *value >= Low && *value <= High;
}

bool FormScaleValue(std::string_view text) {
  const auto value = ParseInteger(text);
  return value && *value >= 100 && *value <= 200 && *value % 20 == 0;
}
bool PsActionValue(std::string_view text) {
  const auto value = ParseInteger(text);
  return value && (*value == 10 || *value == 9 || *value == 3);
}
bool CompressionValue(std::string_view text) {
  const auto value = ParseInteger(text);
  return value && core::IsValidCompressionMethod(*value);
}
bool PortValue(std::string_view text) {
  return static_cast<bool>(transfer::ParseSmtpPort(text));
}
bool OptionalPortValue(std::string_view text) {
  return text.empty() || PortValue(text);
}
bool AddressValue(std::string_view text) {
  return text.empty() || static_cast<bool>(transfer::CheckMailAddress(text));
}
bool HostValue(std::string_view text) {
  return text.find_first_of(" \t") == std::string_view::npos;
}

#define ZENTROVE_FLAG(name)                                                     \
  OptionKey {                                                                   \
#name, OptionForm::Flag, [](ProgramOptions & o) -> bool& { return o.name; } \
  }
#define ZENTROVE_INTEGER(name, accepts, allowed)                                              \
  OptionKey {                                                                                 \
#name, OptionForm::Integer, nullptr,                                                      \
        [](ProgramOptions & o) -> std::int32_t& { return o.name; }, nullptr, accepts, allowed \
  }
#define ZENTROVE_TEXT(name, accepts, allowed)                                       \
  OptionKey {                                                                       \
#name, OptionForm::Text, nullptr, nullptr,                                      \
        [](ProgramOptions & o) -> std::string& { return o.name; }, accepts, allowed \
  }

// In the order of the file's reading.
const OptionKey kOptionKeys[] = {
    ZENTROVE_FLAG(ShowLogo),
    ZENTROVE_INTEGER(Language, (InRange<0, 65535>), "a language identifier from 0 to 65535"),
    ZENTROVE_INTEGER(IsItEnglishBuild, (InRange<0, 1>), "0 or 1"),
    ZENTROVE_FLAG(ShowTips),
    ZENTROVE_INTEGER(FormScale, FormScaleValue, "100, 120, 140, 160, 180 or 200"),
    ZENTROVE_FLAG(ShowTryIcon),
    ZENTROVE_FLAG(RunOnStartUp),
    ZENTROVE_FLAG(WriteToEventLog),
    ZENTROVE_FLAG(ExitIfNoTasks),
    ZENTROVE_FLAG(ExitIfTodayNoTasks),
    ZENTROVE_FLAG(ExitWithoutDlg),
    ZENTROVE_FLAG(EnableSound),
    ZENTROVE_FLAG(DeleteinRecucledBin),
    ZENTROVE_FLAG(DisableDeepWhenNoPrefix),
    ZENTROVE_FLAG(PromtDelete),
    ZENTROVE_FLAG(PromtExecute),
    ZENTROVE_FLAG(PromtInterrupt),
    ZENTROVE_FLAG(PromtAllexecute),
    ZENTROVE_FLAG(PromtShare),
    ZENTROVE_INTEGER(PSDefaultAction, PsActionValue, "10, 9 or 3"),
    ZENTROVE_INTEGER(CompressionMethod, CompressionValue, "0, 1, 3, 4, 6, 7, 8 or 9"),
    ZENTROVE_INTEGER(ZipPriority, (InRange<0, 5>), "0 to 5"),
    ZENTROVE_TEXT(TempPath, AnyValue, ""),
    OptionKey{"PopUpPassword", OptionForm::AccessPassword, nullptr, nullptr,
              [](ProgramOptions& o) -> std::string& { return o.PopUpPassword; }, AnyValue, ""},
    ZENTROVE_TEXT(SMTPHost, HostValue, "a host name or address without blanks"),
    ZENTROVE_TEXT(SMTPPort, PortValue, "a port from 1 to 65535"),
    ZENTROVE_TEXT(SMTPUser, AnyValue, ""),
    OptionKey{"SMTPPassword", OptionForm::SmtpPassword, nullptr, nullptr,
              [](ProgramOptions& o) -> std::string& { return o.SMTPPassword; }, AnyValue, ""},
    ZENTROVE_TEXT(SMTPUserName, AnyValue, ""),
    ZENTROVE_TEXT(SMTPUserAddress, AddressValue, "an e-mail address"),
    ZENTROVE_INTEGER(SMTPConnectionType, (InRange<0, 2>),
                     "0 (SMTP), 1 (implicit SSL/TLS) or 2 (explicit SSL/TLS)"),
    ZENTROVE_FLAG(SMTPUseProxy),
    ZENTROVE_TEXT(SMTPProxy, HostValue, "a host name or address without blanks"),
    ZENTROVE_TEXT(SMTPProxyPort, OptionalPortValue, "empty or a port from 1 to 65535"),
    ZENTROVE_FLAG(OutError),
    ZENTROVE_FLAG(OutWarnings),
    ZENTROVE_FLAG(OutInfo),
    ZENTROVE_INTEGER(ColorError, (InRange<0, 0xFFFFFF>), "a colour from 0 to 16777215"),
    ZENTROVE_INTEGER(ColorWarnings, (InRange<0, 0xFFFFFF>), "a colour from 0 to 16777215"),
    ZENTROVE_INTEGER(ColorInfo, (InRange<0, 0xFFFFFF>), "a colour from 0 to 16777215"),
    ZENTROVE_INTEGER(MaxLogCount, (InRange<1, 1000000>), "a number of lines from 1 to 1000000"),
    ZENTROVE_INTEGER(MaxLog, (InRange<1, 4000000>), "a size in kilobytes from 1 to 4000000"),
    OptionKey{"Sort", OptionForm::Flag, [](ProgramOptions& o) -> bool& { return o.Sorting.Sort; }, nullptr,
              nullptr, AnyValue, ""},
    OptionKey{"Col", OptionForm::Integer, nullptr,
              [](ProgramOptions& o) -> std::int32_t& { return o.Sorting.Col; }, nullptr, InRange<1, 8>,
              "a grid column from 1 to 8"},
    OptionKey{"SUP", OptionForm::Flag, [](ProgramOptions& o) -> bool& { return o.Sorting.SUP; }, nullptr,
              nullptr, AnyValue, ""},
};

#undef ZENTROVE_FLAG
#undef ZENTROVE_INTEGER
#undef ZENTROVE_TEXT

const OptionKey* FindKey(std::string_view key) {
  for (const OptionKey& option : kOptionKeys) {
    if (base::EqualsNoCase(option.key, key)) return &option;
  }
  return nullptr;
}

bool HasLineBreak(std::string_view value) {
  return value.find_first_of("\r\n") != std::string_view::npos;
}

// The value as the file stores it.
std::string StoredValue(const OptionKey& option, ProgramOptions& options) {
  switch (option.form) {
    case OptionForm::Flag:
      return core::FormatProfileBool(option.flag(options));
    case OptionForm::Integer:
      return std::to_string(option.integer(options));
    case OptionForm::Text:
      return option.text(options);
    case OptionForm::AccessPassword:
      return core::EncodeAccessPassword(option.text(options));
    case OptionForm::SmtpPassword:
      return core::ScrambleSmtpPassword(option.text(options));
  }
  return {};
}

}  // namespace

bool SetOptionValue(ProgramOptions& options, std::string_view key, std::string_view value,
                    std::string& error) {
  const OptionKey* option = FindKey(key);
  if (option == nullptr) {
    error = "unknown option \"" + std::string(key) + "\"";
    return false;
  }
  const auto bad = [&](std::string_view allowed) {
    error = "\"" + std::string(value) + "\" is not a value of " + std::string(option->key);
    if (!allowed.empty()) error += " (" + std::string(allowed) + ")";
    return false;
  };
  switch (option->form) {
    case OptionForm::Flag:
      if (value != "0" && value != "1") return bad("0 or 1");
      option->flag(options) = value == "1";
      return true;
    case OptionForm::Integer:
      if (!option->accepts(value)) return bad(option->allowed);
      option->integer(options) = *ParseInteger(value);
      return true;
    case OptionForm::Text:
      // A line break would end the value in the file and start a key of its own.
      if (HasLineBreak(value)) return bad("a text on one line");
      if (!option->accepts(value)) return bad(option->allowed);
      option->text(options) = std::string(value);
      return true;
    case OptionForm::AccessPassword:
    case OptionForm::SmtpPassword:
      option->text(options) = std::string(value);
      return true;
  }
  return bad({});
}

std::vector<std::string> OptionLines(const ProgramOptions& options) {
  ProgramOptions copy = options;
  std::vector<std::string> lines;
  for (const OptionKey& option : kOptionKeys) {
    std::string value;
    if (option.form == OptionForm::AccessPassword || option.form == OptionForm::SmtpPassword) {
      value = option.text(copy).empty() ? "" : "*****";
    } else {
      value = StoredValue(option, copy);
    }
    lines.push_back(std::string(option.key) + "=" + value);
  }
  return lines;
}

int RunOptionCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  const std::string configFolder = core::ConfigFolder();
  core::IniFile file = core::OpenOptionsFile(configFolder);
  ProgramOptions options = core::LoadOptions(file);
  options.Sorting = core::LoadSortOrder(file);
  if (arguments.empty()) {
    for (const std::string& line : OptionLines(options))
      out << line << '\n';
    return kExitSuccess;
  }

  // Every pair is checked before anything is written.
  std::vector<const OptionKey*> changed;
  for (const std::string& pair : arguments) {
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos) {
      err << "zentrove: \"" << pair << "\" is not KEY=VALUE; nothing was changed\n";
      return kExitUsage;
    }
    std::string error;
    if (!SetOptionValue(options, pair.substr(0, equals), pair.substr(equals + 1), error)) {
      err << "zentrove: " << error << "; nothing was changed\n";
      return kExitUsage;
    }
    changed.push_back(FindKey(pair.substr(0, equals)));
  }
  for (const OptionKey* option : changed)
    file.WriteString(core::kOptionsSection, option->key, StoredValue(*option, options));
  std::string reason;
  if (!file.Flush(&reason)) {
    err << "zentrove: Unable to write to " << file.Path() << '\n';
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace zentrove::app
