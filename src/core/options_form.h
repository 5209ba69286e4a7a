#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ini_file.h"
#include "core/options.h"
#include "platform/result.h"

// What the options window decides, apart from its widgets: the conversions between the stored
// options and the controls, and the checks and the write of Save.
namespace zentrove::core {

inline constexpr std::string_view kPasswordConfirmationError = "Password confirmation error";
inline constexpr std::string_view kFontSizeRestartText =
    "Warning! Program needs to be restarted to change interface settings";
inline constexpr std::string_view kLanguageRestartTitle = "Attention";
inline constexpr std::string_view kLanguageRestartText = "You should restart application to apply changes";
inline constexpr std::string_view kTrayIconNote =
    "If tray icon is hidden \r\n restart the program to get an access to the task list.";

// "Interface Font Size": six choices, "100%" to "200%" in steps of 20. A stored scale between two
// choices shows the lower one; 200 and more show "200%", less than 120 "100%".
inline constexpr int kFontSizeChoiceCount = 6;
int FontSizeChoiceOf(std::int32_t formScale);
std::int32_t FormScaleAt(int choice);

// The log page's number fields.
inline constexpr std::int32_t kLogNumberMinimum = 1;
inline constexpr std::int32_t kLogNumberMaximum = 32000;
inline constexpr std::int32_t kLogNumberStep = 100;
// The field's text as a whole number within the field's range; `fallback` when it holds no integer.
std::int32_t LogNumberOf(std::string_view text, std::int32_t fallback);

// The captions of an option's list in list order, taken from the task editor's lists of the same
// values ("CompressMetod", "ZipPriority", "PSDefaultAction").
std::vector<std::string> ListCaptions(std::string_view taskKey);
// "Default archiver priority": the list position is the value; a stored value outside 0 to 5 shows
// "Normal".
int PriorityIndexOf(std::int32_t zipPriority);

// The colour lists of the log page, in colour values (red in the lowest byte).
struct ColorChoice {
  std::string_view caption;
  std::int32_t value;
};
const std::vector<ColorChoice>& ColorChoices();
// The position of the value in ColorChoices, or -1 for a colour that is not listed.
int ColorChoiceIndexOf(std::int32_t value);

// Save: refuses a confirmation that differs from the access password (kPasswordConfirmationError),
// then writes `edited` to the file once, updates the autostart entry and makes `edited` the options
// in force. On a refusal or a failed write the file, its memory copy and the options in force stay
// exactly as they were.
[[nodiscard]] platform::Status SaveEditedOptions(IniFile& file, const ProgramOptions& edited,
                                                 std::string_view passwordConfirmation,
                                                 const AutostartUpdate& autostart);

}  // namespace zentrove::core
