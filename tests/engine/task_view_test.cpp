#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/run_fixture.h"
#include "engine/zip_step.h"

namespace zentrove::engine {
namespace {

using Clock = std::chrono::steady_clock;

// A grid that notes the thread and the moment of every call the task list makes.
class RecordingView {
 public:
  core::TaskListView Hooks() {
    core::TaskListView view;
    view.RowAboutToBeInserted = [this](int) { Note(); };
    view.RowInserted = [this](int) { Note(); };
    view.RowAboutToBeRemoved = [this](int) { Note(); };
    view.RowRemoved = [this](int) { Note(); };
    view.LayoutAboutToChange = [this] { Note(); };
    view.LayoutChanged = [this] { Note(); };
    view.RefreshRow = [this](int taskNumber, int index) {
      Note();
      std::lock_guard lock(mutex_);
      refreshed_.push_back(std::to_string(taskNumber) + " at " + std::to_string(index));
    };
    view.RepaintAll = [this] { Note(); };
    return view;
  }

  struct Call {
    std::thread::id thread;
    Clock::time_point at;
  };
  std::vector<Call> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<std::string> Refreshed() const {
    std::lock_guard lock(mutex_);
    return refreshed_;
  }

 private:
  void Note() {
    std::lock_guard lock(mutex_);
    calls_.push_back(Call{std::this_thread::get_id(), Clock::now()});
  }

  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  std::vector<std::string> refreshed_;
};

class TaskViewTest : public zentrove::testing::RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    RegisterZipStep();
  }
};

TEST_F(TaskViewTest, ARunOverManySmallFilesTellsTheViewOnlyOnTheMainThreadAndSeldom) {
  core::TArhRecord& task = AddTask();
  for (int i = 0; i < 10000; ++i)
    WriteFile("src/f" + std::to_string(i) + ".txt", std::to_string(i));
  RecordingView view;
  list_->SetView(view.Hooks());

  const std::thread::id mainThreadId = std::this_thread::get_id();
  const RunOutcome outcome = Run(task);
  EXPECT_FALSE(outcome.failed) << ::testing::PrintToString(Lines());

  const std::vector<RecordingView::Call> calls = view.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(view.Refreshed().front(), "1004 at 0");
  std::size_t busiest = 0;
  for (std::size_t first = 0, last = 0; last < calls.size(); ++last) {
    EXPECT_EQ(calls[last].thread, mainThreadId) << "call " << last;
    while (calls[last].at - calls[first].at >= std::chrono::seconds(1))
      ++first;
    busiest = std::max(busiest, last - first + 1);
  }
  EXPECT_LE(busiest, 30u) << "calls within one second, of " << calls.size();
}

}  // namespace
}  // namespace zentrove::engine
