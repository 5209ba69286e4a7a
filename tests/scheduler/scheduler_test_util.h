#pragma once

#include "base/datetime.h"
#include "base/regional_format.h"

namespace zentrove::testing {

inline base::TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return base::EncodeDate(year, month, day) + base::EncodeTime(hour, minute, second);
}

// Day.month.year dates and 24-hour times for as long as it lives, so expected texts are fixed.
class PinnedRegionalFormats {
 public:
  PinnedRegionalFormats() {
    base::RegionalFormats formats = base::CLocaleRegionalFormats();
    formats.dateOrder = "DMY";
    formats.shortDatePattern = "%d.%m.%Y";
    formats.longTimePattern = "%H:%M:%S";
    base::SetRegionalFormats(formats);
  }
  ~PinnedRegionalFormats() { base::SetRegionalFormats(base::CLocaleRegionalFormats()); }
  PinnedRegionalFormats(const PinnedRegionalFormats&) = delete;
  PinnedRegionalFormats& operator=(const PinnedRegionalFormats&) = delete;
};

}  // namespace zentrove::testing
