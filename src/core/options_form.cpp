#include "core/options_form.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "base/text.h"
#include "core/task_file_format.h"

namespace zentrove::core {

int FontSizeChoiceOf(std::int32_t formScale) {
  if (formScale >= FormScaleAt(kFontSizeChoiceCount - 1)) return kFontSizeChoiceCount - 1;
  if (formScale < FormScaleAt(1)) return 0;
  return (formScale - FormScaleAt(0)) / 20;
}

std::int32_t FormScaleAt(int choice) {
  return 100 + 20 * std::clamp(choice, 0, kFontSizeChoiceCount - 1);
}

std::int32_t LogNumberOf(std::string_view text, std::int32_t fallback) {
  const std::string_view digits = base::TrimBlanks(text);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return fallback;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, kLogNumberMinimum, kLogNumberMaximum));
}

std::vector<std::string> ListCaptions(std::string_view taskKey) {
  std::vector<std::string> captions;
  for (const TaskKeyInfo& key : TaskKeys()) {
    if (key.name != taskKey) continue;
    for (const ValueChoice& choice : key.choices)
      captions.emplace_back(choice.caption);
  }
  return captions;
}

int PriorityIndexOf(std::int32_t zipPriority) {
  return IsValidZipPriority(zipPriority) ? zipPriority : 3;
}

const std::vector<ColorChoice>& ColorChoices() {
  static const std::vector<ColorChoice> choices = {
      {"Black", 0x000000},  {"Maroon", 0x000080},  {"Green", 0x008000}, {"Olive", 0x008080},
      {"Navy", 0x800000},   {"Purple", 0x800080},  {"Teal", 0x808000},  {"Gray", 0x808080},
      {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},     {"Lime", 0x00FF00},  {"Yellow", 0x00FFFF},
      {"Blue", 0xFF0000},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},  {"White", 0xFFFFFF},
  };
  return choices;
}

int ColorChoiceIndexOf(std::int32_t value) {
  const auto& choices = ColorChoices();
  const auto found = std::find_if(choices.begin(), choices.end(),
                                  [value](const ColorChoice& c) { return c.value == value; });
  return found == choices.end() ? -1 : static_cast<int>(found - choices.begin());
}

platform::Status SaveEditedOptions(IniFile& file, const ProgramOptions& edited,
                                   std::string_view passwordConfirmation, const AutostartUpdate& autostart) {
  if (edited.PopUpPassword != passwordConfirmation)
    return platform::Status::Failure(EINVAL, std::string(kPasswordConfirmationError));
  if (platform::Status written = SaveOptions(file, edited, autostart); !written) return written;
  SetCurrentOptions(edited);
  return platform::Status::Success();
}

}  // namespace zentrove::core
