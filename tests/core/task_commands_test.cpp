#include "core/task_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/ini_file.h"
#include "task_file_test_support.h"

namespace zentrove::core {
namespace {

using testing::ReadFile;

class TaskCommandsTest : public TaskFileTest {
 protected:
  void SetUp() override {
    TaskFileTest::SetUp();
    list_ = Load();
  }

  std::unique_ptr<TArhList> Load() {
    auto list = std::make_unique<TArhList>(TaskFile());
    list->SetScheduleNext([this](TArhRecord& task) { scheduled_.push_back(task.TaskNumber); });
    EXPECT_TRUE(list->LoadTaskFile(NewTaskDefaults{}));
    return list;
  }

  TArhRecord* Add(TaskCommands& commands) {
    auto added = commands.AddTask(commands.NewTask());
    EXPECT_TRUE(added.Ok()) << added.Message();
    return added.Ok() ? *added : nullptr;
  }

  std::vector<std::string> StoredSections() const {
    IniFile file(TaskFile());
    EXPECT_TRUE(file.Load());
    return file.SectionNames();
  }

  std::unique_ptr<TArhList> list_;
  std::vector<int> scheduled_;
};

TEST_F(TaskCommandsTest, NumberIsTakenWhenTheTaskIsStoredNotWhenTheWindowOpens) {
  TaskCommands commands(*list_, NewTaskDefaults{});
  auto opened = commands.NewTask();
  EXPECT_EQ(opened->TaskNumber, 1001);
  EXPECT_EQ(opened->Description, "The task # 1001");
  auto named = commands.NewTask();
  named->Description = "Photos";

  // Another program (`zentrove add`) stores task 1001 while the window is open.
  auto other = Load();
  TaskCommands otherCommands(*other, NewTaskDefaults{});
  ASSERT_NE(Add(otherCommands), nullptr);

  auto added = commands.AddTask(std::move(opened));
  ASSERT_TRUE(added.Ok()) << added.Message();
  EXPECT_EQ((*added)->TaskNumber, 1002);
  EXPECT_EQ((*added)->Description, "The task # 1002");
  auto second = commands.AddTask(std::move(named));
  ASSERT_TRUE(second.Ok());
  EXPECT_EQ((*second)->TaskNumber, 1003);
  EXPECT_EQ((*second)->Description, "Photos");

  EXPECT_EQ(StoredSections(), (std::vector<std::string>{"1001", "1002", "1003"}));
  EXPECT_EQ(std::count(scheduled_.begin(), scheduled_.end(), 1003), 1);
  EXPECT_TRUE(Logged("[1002][I] The task is added"));
  // Saving took in the other program's task as well.
  EXPECT_EQ(list_->Count(), 3);
}

TEST_F(TaskCommandsTest, EditChangesTheTaskOnlyOnOkAndNeverWhileItRuns) {
  TaskCommands commands(*list_, NewTaskDefaults{});
  TArhRecord* task = Add(commands);
  ASSERT_NE(task, nullptr);

  task->IsStarted = true;
  auto refused = commands.BeginEdit(1001);
  ASSERT_FALSE(refused.Ok());
  EXPECT_EQ(refused.Message(), "The task has started, please wait until it finished");
  EXPECT_FALSE(task->IsEdited);
  task->IsStarted = false;

  auto scratch = commands.BeginEdit(1001);
  ASSERT_TRUE(scratch.Ok());
  EXPECT_TRUE(task->IsEdited);
  (*scratch)->Description = "Changed";
  ASSERT_TRUE(commands.CancelEdit(1001).Ok());
  EXPECT_EQ(task->Description, "The task # 1001");
  EXPECT_FALSE(task->IsEdited);

  scratch = commands.BeginEdit(1001);
  ASSERT_TRUE(scratch.Ok());
  (*scratch)->Description = "Changed";
  ASSERT_TRUE(commands.ConfirmEdit(1001, **scratch).Ok());
  EXPECT_EQ(task->Description, "Changed");
  EXPECT_FALSE(task->IsEdited);
  EXPECT_TRUE(Logged("[1001][I] The task is changed"));
  EXPECT_EQ(Load()->FindByNumber(1001)->Description, "Changed");

  // The task went while the editor was open: OK finds nothing to change.
  scratch = commands.BeginEdit(1001);
  ASSERT_TRUE(scratch.Ok());
  task->IsEdited = false;
  ASSERT_TRUE(commands.DeleteTask(1001).Ok());
  EXPECT_FALSE(commands.ConfirmEdit(1001, **scratch).Ok());
  EXPECT_TRUE(StoredSections().empty());
}

TEST_F(TaskCommandsTest, DuplicateTakesTheMailTextAlongAndDeleteSetsItAside) {
  TaskCommands commands(*list_, NewTaskDefaults{});
  TArhRecord* source = Add(commands);
  ASSERT_NE(source, nullptr);
  source->SendEMail = true;
  source->Description = "Mail";
  source->LastArh = 45000;
  WriteFile("config/1001.bdy", "Dear admin");

  auto copy = commands.DuplicateTask(1001);
  ASSERT_TRUE(copy.Ok()) << copy.Message();
  EXPECT_EQ((*copy)->TaskNumber, 1002);
  EXPECT_EQ((*copy)->Description, "The task # 1002");
  EXPECT_TRUE((*copy)->SendEMail);
  EXPECT_EQ((*copy)->LastArh, 0);
  EXPECT_EQ(ReadFile(ConfigDir() / "1002.bdy"), "Dear admin");

  source->IsStarted = true;
  EXPECT_EQ(commands.DeleteTask(1001).Message(), "The task has started, please wait until it finished");
  source->IsStarted = false;

  ASSERT_TRUE(commands.DeleteTask(1002).Ok());
  EXPECT_TRUE(Logged("[1002][I] The Task is deleted"));
  EXPECT_FALSE(std::filesystem::exists(ConfigDir() / "1002.bdy"));
  EXPECT_EQ(ReadFile(ConfigDir() / "1002.bdy.bak"), "Dear admin");
  EXPECT_EQ(StoredSections(), (std::vector<std::string>{"1001"}));
  EXPECT_EQ(list_->Count(), 1);
  EXPECT_EQ(commands.DeleteTask(1002).Message(), "The task 1002 does not exist");

  // After a restart number 1002 is given again, without the deleted task's text.
  list_ = Load();
  TaskCommands restarted(*list_, NewTaskDefaults{});
  TArhRecord* again = Add(restarted);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->TaskNumber, 1002);
  EXPECT_FALSE(std::filesystem::exists(ConfigDir() / "1002.bdy"));
}

}  // namespace
}  // namespace zentrove::core
