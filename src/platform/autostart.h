#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace zentrove::platform {

// Start at the user's log-on: the XDG autostart entry $XDG_CONFIG_HOME/autostart/Zentrove.desktop.
// Entries this program writes carry the marker key; an entry without it was made by someone else and
// is never replaced or deleted.
inline constexpr std::string_view kAutostartFileName = "Zentrove.desktop";
inline constexpr std::string_view kAutostartMarkerKey = "X-Zentrove-Autostart";

std::string AutostartEntryPath();

// The argument as one word of a desktop entry's Exec value, in the form stored in the file: quoted
// with its reserved characters escaped, "%" doubled, and the key file's own escapes for backslashes
// and control characters applied last.
std::string DesktopExecWord(std::string_view argument);

// The whole entry that starts `programPath` with `arguments`.
std::string AutostartEntryText(const std::string& programPath, const std::vector<std::string>& arguments);

// True when the text is a desktop entry whose [Desktop Entry] group holds the marker key set to true.
bool IsOurAutostartEntry(std::string_view text);

enum class AutostartEntryKind { None, Ours, MadeByUser };
AutostartEntryKind FindAutostartEntry();

// On: writes our entry (unless the user's own entry is there, which is kept); off: removes our entry.
// Keeping the user's entry is success; the failure is one of writing or removing.
[[nodiscard]] Status SetAutostart(bool on, const std::string& programPath,
                                  const std::vector<std::string>& arguments);

}  // namespace zentrove::platform
