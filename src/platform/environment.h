#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace zentrove::platform {

// The variable's value; nullopt when it is not set (an empty value is set).
std::optional<std::string> GetEnv(const std::string& name);

// Replaces "%NAME%" and "${NAME}" by the variable's value when the variable is set; references to
// unknown variables stay as they are, so stored tasks keep working when they move between systems.
// A "%" that starts no known reference is kept and scanning goes on after it, so "100% %HOME%"
// expands the second reference. A bare "$NAME" is left alone because Linux paths may contain "$".
// As on Windows, a name that is not set in its own letter case matches a variable that differs only
// in case ("%temp%" finds TEMP).
std::string ExpandEnvironment(std::string_view text);
// The same with the variables supplied by `lookup`, which is asked for each name as written.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
std::string ExpandEnvironment(std::string_view text, const EnvironmentLookup& lookup);

// The full path of the running executable (/proc/self/exe); empty when it cannot be read.
std::string ProgramPath();
// The folder of the running executable, with a trailing "/".
std::string ProgramFolder();
// The user's home folder ($HOME, else the password database), without a trailing "/".
std::string HomeFolder();
// The login name of the process's real user from the password database, else $USER; empty when
// neither knows it.
std::string UserName();
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config; with a trailing "/".
std::string UserConfigFolder();
// Where the configuration lives unless the program folder is chosen: $ZENTROVE_CONFIG_DIR when set
// and not empty, else $XDG_CONFIG_HOME/Zentrove/, by default ~/.config/Zentrove/. Always with a
// trailing "/"; the folder is not created here.
std::string ConfigBaseFolder();
// $XDG_RUNTIME_DIR, or /tmp/zentrove-$UID/ created with mode 0700 (and refused when it belongs to
// someone else or is not a plain folder). With a trailing "/".
Result<std::string> RuntimeFolder();

enum class SessionKind { Desktop, Service };
// The name of the login session one copy of the program is allowed per: "service" for a copy started
// as a service, else $XDG_SESSION_ID ("default" when there is none). Only letters, digits, "-", "_"
// and "." survive, so the name can be part of a file name.
std::string SessionName(SessionKind kind);

// The texts of the C library's locale (LC_TIME), in UTF-8 whatever the locale's character set; empty
// where the locale has none.
enum class LocaleText { DateFormat, TimeFormat, TwelveHourTimeFormat, AmText, PmText };
std::string LocaleString(LocaleText text);
enum class NameForm {
  Long,
  Short,
  // The nominative form that stands alone ("YYYY\MMMM" folder names), where the locale has one; the
  // long and short forms are those used inside a date in languages such as Russian or Polish.
  LongStandalone,
  ShortStandalone,
};
// `month` 1 to 12.
std::string LocaleMonthName(int month, NameForm form);
// `day` 0 (Sunday) to 6; the standalone forms are the plain ones.
std::string LocaleDayName(int day, NameForm form);

}  // namespace zentrove::platform
