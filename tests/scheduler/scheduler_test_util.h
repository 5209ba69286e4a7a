#pragma once

#include "core/datetime.h"
#include "core/regional_format.h"

namespace zentrove::testing {

inline core::TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return core::EncodeDate(year, month, day) + core::EncodeTime(hour, minute, second);
}

// Day.month.year dates and 24-hour times for as long as it lives, so expected texts are fixed.
class PinnedRegionalFormats {
 public:
  PinnedRegionalFormats() {
    core::RegionalFormats formats = core::CLocaleRegionalFormats();
    formats.dateOrder = "DMY";
    formats.shortDatePattern = "%d.%m.%Y";
    formats.longTimePattern = "%H:%M:%S";
    core::SetRegionalFormats(formats);
  }
  ~PinnedRegionalFormats() { core::SetRegionalFormats(core::CLocaleRegionalFormats()); }
  PinnedRegionalFormats(const PinnedRegionalFormats&) = delete;
  PinnedRegionalFormats& operator=(const PinnedRegionalFormats&) = delete;
};

}  // namespace zentrove::testing
