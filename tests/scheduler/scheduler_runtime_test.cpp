#include "scheduler/scheduler_runtime.h"

#include <gtest/gtest.h>

#include "core/task_list.h"
#include "engine/run_environment.h"
#include "scheduler/fake_main_thread.h"
#include "support/sandbox.h"

namespace zentrove::scheduler {
namespace {

class SchedulerRuntimeTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    LogIntoSandbox();
  }
  void TearDown() override {
    EXPECT_TRUE(testing::WaitFor([] { return LiveNotifyThreads() == 0; }));
    log::SetLogSettings(log::LogSettings{});
    SandboxedTest::TearDown();
  }

  testing::FakeMainThread main;
};

TEST_F(SchedulerRuntimeTest, StepsFollowTheProgramsStartOrder) {
  engine::RunEnvironment environment;
  DispatcherServices services;
  services.environment = &environment;
  SchedulerRuntime runtime(std::move(services));
  runtime.CreateRunServices(main, [] {});
  ASSERT_NE(runtime.WaitingBox(), nullptr);
  core::TArhList list((ConfigDir() / "ArhTasks.bpd").string());
  runtime.InstallScheduler(list);
  ASSERT_NE(runtime.GetDispatcher(), nullptr);

  // Loading schedules through the dispatcher, which registers the watcher of a kind-7 task.
  auto task = core::NewTaskRecord();
  task->TaskNumber = 1001;
  task->IsActive = true;
  task->ArhPeriod_PeriodID = 7;
  task->FileSourceMask = MakeDir("src").string() + "/";
  core::TArhRecord& added = *list.ListAppend(std::move(task));
  list.ScheduleNext(added);
  EXPECT_TRUE(added.Monitoring);
  EXPECT_TRUE(environment.Hooks().FollowOn);

  runtime.StartDispatcher();
  EXPECT_TRUE(runtime.GetDispatcher()->TimerEnabled());
  EXPECT_EQ(main.TimerCount(), 1u);

  runtime.Stop();
  EXPECT_FALSE(added.Monitoring);
  EXPECT_EQ(main.TimerCount(), 0u);
  EXPECT_FALSE(environment.Hooks().FollowOn);
  EXPECT_EQ(runtime.GetDispatcher(), nullptr);
}

}  // namespace
}  // namespace zentrove::scheduler
