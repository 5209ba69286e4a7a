#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/run_fixture.h"
#include "engine/zip_step.h"

namespace zentrove::engine {
namespace {

using Clock = std::chrono::steady_clock;

class TaskViewTest : public zentrove::testing::RunFixture {};

TEST_F(TaskViewTest, ARunOverManySmallFilesTellsTheViewOnlyOnTheMainThreadAndSeldom) {
  RegisterZipStep(environment_);
  core::TArhRecord& task = AddTask();
  for (int i = 0; i < 10000; ++i)
    WriteFile("src/f" + std::to_string(i) + ".txt", std::to_string(i));
  // The thread and the moment of every call; a view called elsewhere would race on these.
  std::vector<std::pair<std::thread::id, Clock::time_point>> calls;
  const auto note = [&calls] { calls.emplace_back(std::this_thread::get_id(), Clock::now()); };
  core::TaskListView view;
  view.RowInserted = [note](int) { note(); };
  view.LayoutChanged = note;
  view.RefreshRow = [note](int taskNumber, int index) {
    EXPECT_EQ(taskNumber, kTask);
    EXPECT_EQ(index, 0);
    note();
  };
  list_->SetView(view);

  EXPECT_FALSE(Run(task).failed) << ::testing::PrintToString(Lines());
  ASSERT_FALSE(calls.empty());
  std::size_t busiest = 0;
  for (std::size_t first = 0, last = 0; last < calls.size(); ++last) {
    EXPECT_EQ(calls[last].first, std::this_thread::get_id()) << "call " << last;
    while (calls[last].second - calls[first].second >= std::chrono::seconds(1))
      ++first;
    busiest = std::max(busiest, last - first + 1);
  }
  EXPECT_LE(busiest, 30u) << "calls within one second, of " << calls.size();
}

}  // namespace
}  // namespace zentrove::engine
