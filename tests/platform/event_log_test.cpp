#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace zentrove::platform {
namespace {

TEST(EventLogTest, EventsReachTheInstalledSinkWithTheirLevel) {
  std::vector<std::pair<EventLevel, std::string>> events;
  SetEventSink(
      [&](EventLevel level, std::string_view text) { events.emplace_back(level, std::string(text)); });
  ReportEvent(EventLevel::Error, "05.03.2024 14:07:09:[1004][E] Disk full");
  ReportEvent(EventLevel::Warning, "100% done");
  ReportEvent(EventLevel::Information, "");
  SetEventSink({});
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], std::pair(EventLevel::Error, std::string("05.03.2024 14:07:09:[1004][E] Disk full")));
  EXPECT_EQ(events[1], std::pair(EventLevel::Warning, std::string("100% done")))
      << "a percent sign is text, not a format";
  EXPECT_EQ(events[2].first, EventLevel::Information);
}

}  // namespace
}  // namespace zentrove::platform
