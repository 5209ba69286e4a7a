#include "log/log_pane_model.h"

#include <gtest/gtest.h>

#include <string>

namespace zentrove::log {
namespace {

TEST(LogPaneModelTest, MaxLogCountOneShowsOnlyTheNewestLine) {
  LogPaneModel pane;
  for (int i = 0; i < 5; ++i) {
    pane.Insert("line " + std::to_string(i), i, 1);
    ASSERT_EQ(pane.Size(), 1u);
    EXPECT_EQ(pane.Lines()[0], (LogPaneLine{"line " + std::to_string(i), i}));
  }
}

TEST(LogPaneModelTest, KeepsTheNewestLinesOnTopAndDropsTheOldestAtTheBottom) {
  LogPaneModel pane;
  for (int i = 0; i < 1200; ++i) {
    pane.Insert(std::to_string(i), 0, 500);
    ASSERT_LE(pane.Size(), 500u);
  }
  ASSERT_EQ(pane.Size(), 500u);
  EXPECT_EQ(pane.Lines().front().text, "1199");
  EXPECT_EQ(pane.Lines().back().text, "700");
}

TEST(LogPaneModelTest, SettingBelowOneStillShowsTheNewestLine) {
  for (const int setting : {0, -3}) {
    LogPaneModel pane;
    pane.Insert("a", 0, setting);
    pane.Insert("b", 0, setting);
    ASSERT_EQ(pane.Size(), 1u);
    EXPECT_EQ(pane.Lines()[0].text, "b");
  }
}

TEST(LogPaneModelTest, LoweredLimitTrimsOnTheNextLine) {
  LogPaneModel pane;
  for (int i = 0; i < 10; ++i)
    pane.Insert(std::to_string(i), 0, 500);
  pane.Insert("new", 0, 3);
  ASSERT_EQ(pane.Size(), 3u);
  EXPECT_EQ(pane.Lines()[0].text, "new");
  EXPECT_EQ(pane.Lines()[2].text, "8");
}

}  // namespace
}  // namespace zentrove::log
