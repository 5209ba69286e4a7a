#include "core/task_list.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "base/main_thread.h"
#include "base/text.h"
#include "core/ini_file.h"
#include "core/password_scramble.h"
#include "core/task_file_format.h"
#include "scheduler/fake_main_thread.h"
#include "task_file_test_support.h"

namespace zentrove::core {
namespace {

using testing::ReadFile;

// A text of exactly `chars` characters that mixes one-, two-, three- and four-byte sequences; some
// start or end with a blank.
std::string MixedText(std::size_t chars, std::size_t seed) {
  static const char* const kPieces[] = {"a", "\xC3\xA4", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E",
                                        "Z", " ",        "\xD0\xB6"};
  std::string text;
  for (std::size_t i = 0; i < chars; ++i)
    text += kPieces[(i + seed) % 7];
  return text;
}

// `preferred` when the key allows it, else an allowed value that differs from `before`.
std::string AllowedIntegerOtherThan(const TaskKeyInfo& key, const std::string& before, int preferred) {
  std::vector<int> candidates;
  for (const ValueChoice& choice : key.choices)
    candidates.push_back(choice.value);
  if (candidates.empty()) candidates = {preferred, key.minimum, key.maximum};
  for (const int candidate : candidates) {
    const bool allowed = !key.choices.empty() || (candidate >= key.minimum && candidate <= key.maximum);
    if (allowed && std::to_string(candidate) != before) return std::to_string(candidate);
  }
  return before;
}

// A value for every key that differs from what a missing key gives, with texts at their limits.
std::unique_ptr<TArhRecord> TaskWithEveryKeyChanged(int number) {
  IniFile empty("/nonexistent/none");
  empty.LoadText("[1]\r\n");
  auto task = std::move(ReadTaskSection(empty, "1", NewTaskDefaults{}, DateFieldOrder::DayMonthYear).task);
  task->TaskNumber = number;
  std::size_t i = 0;
  for (const TaskKeyInfo& key : TaskKeys()) {
    ++i;
    std::string before;
    std::string value;
    std::string error;
    EXPECT_TRUE(GetTaskField(*task, key.name, before, error)) << error;
    switch (key.form) {
      case ValueForm::Integer:
        value = AllowedIntegerOtherThan(key, before, 1000 + static_cast<int>(i));
        break;
      case ValueForm::Bool:
        value = before == "1" ? "0" : "1";
        break;
      case ValueForm::Text:
      case ValueForm::ScrambledText:
        value = MixedText(key.limit != 0 ? key.limit : 3000, i);
        break;
      case ValueForm::DateTime:
        value = "0" + std::to_string(1 + i % 9) + "/11/2023 " + std::to_string(i % 24) + ":07:59";
        break;
      case ValueForm::Date:
        value = "2" + std::to_string(i % 9) + "/02/2031";
        break;
      case ValueForm::Time:
        value = "1" + std::to_string(i % 10) + ":45:1" + std::to_string(i % 10);
        break;
      case ValueForm::Flags:
        value = std::string(key.limit, '1');
        value[i % key.limit] = '0';
        break;
    }
    EXPECT_NE(value, before) << key.name;
    EXPECT_TRUE(SetTaskField(*task, key.name, value, error)) << error;
  }
  return task;
}

std::vector<std::string> FieldTexts(const TArhRecord& task) {
  std::vector<std::string> values;
  for (const std::string_view key : TaskFieldKeys()) {
    std::string value;
    std::string error;
    EXPECT_TRUE(GetTaskField(task, key, value, error));
    values.push_back(value);
  }
  return values;
}

class TaskListTest : public TaskFileTest {};

TEST_F(TaskListTest, EveryKeySurvivesASaveAndALoad) {
  TArhList list(TaskFile());
  TArhRecord* saved = list.ListAppend(TaskWithEveryKeyChanged(1001));
  std::string error;
  ASSERT_TRUE(list.SaveTask(*saved, &error)) << error;

  TArhList reloaded(TaskFile());
  ASSERT_TRUE(reloaded.LoadTaskFile(NewTaskDefaults{}, &error)) << error;
  ASSERT_EQ(reloaded.Count(), 1);
  const TArhRecord& loaded = *reloaded.Get(0);
  EXPECT_EQ(loaded.TaskNumber, 1001);
  const std::vector<std::string> expected = FieldTexts(*saved);
  const std::vector<std::string> actual = FieldTexts(loaded);
  const std::vector<std::string_view> keys = TaskFieldKeys();
  for (std::size_t i = 0; i < keys.size(); ++i)
    EXPECT_EQ(actual[i], expected[i]) << keys[i];
  EXPECT_EQ(loaded.LastArh, saved->LastArh) << "exact to the second, no drift";
  EXPECT_EQ(base::CharCount(loaded.Password), 100u);
  EXPECT_TRUE(Messages().empty());

  // Saving the loaded task again changes nothing but the stamp.
  ASSERT_TRUE(reloaded.SaveTask(loaded, &error)) << error;
  TArhList third(TaskFile());
  ASSERT_TRUE(third.LoadTaskFile(NewTaskDefaults{}, &error));
  EXPECT_EQ(FieldTexts(*third.Get(0)), expected);
}

TEST_F(TaskListTest, LongPasswordsNowComeBackWhole) {
  TArhList list(TaskFile());
  auto task = NewTaskRecord();
  task->TaskNumber = 1001;
  task->UserPassword = "abcdefghijklmnopqrstuvwxy";  // 25 characters
  task->Password = std::string(60, 'P');
  ASSERT_TRUE(list.SaveTask(*task));

  TArhList reloaded(TaskFile());
  ASSERT_TRUE(reloaded.LoadTaskFile(NewTaskDefaults{}));
  EXPECT_EQ(reloaded.Get(0)->UserPassword, "abcdefghijklmnopqrstuvwxy");
  EXPECT_EQ(reloaded.Get(0)->Password, std::string(60, 'P'));

  // A reader that still cuts the letter text gets the first characters, as before.
  IniFile raw(TaskFile());
  ASSERT_TRUE(raw.Load());
  TArhRecord cut;
  cut.UserPassword = raw.Find("1001", "UserPassword")->substr(0, 40);
  cut.Password = raw.Find("1001", "Password")->substr(0, 100);
  ASSERT_TRUE(UnscrambleTaskPasswords(cut));
  EXPECT_EQ(cut.UserPassword, "abcdefghijklmnopqrst");
  EXPECT_EQ(cut.Password, std::string(50, 'P'));
}

TEST_F(TaskListTest, EmptyOrMissingFileGivesAnEmptyListAndTask1001Next) {
  TArhList missing(TaskFile());
  ASSERT_TRUE(missing.LoadTaskFile(NewTaskDefaults{}));
  EXPECT_EQ(missing.Count(), 0);
  EXPECT_EQ(missing.NextTaskNumber(), 1001);
  EXPECT_FALSE(std::filesystem::exists(TaskFile()));
  EXPECT_TRUE(Logged("Loading tasks list"));
  EXPECT_TRUE(Logged("Tasks list successfully loaded"));

  WriteFile("config/ArhTasks.bpd", "");
  TArhList empty(TaskFile());
  ASSERT_TRUE(empty.LoadTaskFile(NewTaskDefaults{}));
  EXPECT_EQ(empty.NextTaskNumber(), 1001);
}

TEST_F(TaskListTest, SectionsLoadInFileOrderAndTheCounterFollowsTheLargest) {
  WriteFile("config/ArhTasks.bpd", "[1005]\r\nDescription=five\r\n[1002]\r\nDescription=two\r\n[1005]\r\n");
  TArhList list(TaskFile());
  std::vector<int> scheduled;
  list.SetScheduleNext([&scheduled](TArhRecord& task) {
    EXPECT_TRUE(StartupPass());
    scheduled.push_back(task.TaskNumber);
  });
  ASSERT_TRUE(list.LoadTaskFile(NewTaskDefaults{}));
  EXPECT_FALSE(StartupPass());
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Get(0)->Description, "five");
  EXPECT_EQ(list.Get(1)->Description, "two");
  EXPECT_EQ(scheduled, (std::vector<int>{1005, 1002}));
  EXPECT_EQ(list.NextTaskNumber(), 1006);
  EXPECT_TRUE(Logged("The tasks list file holds this task twice"));
}

TEST_F(TaskListTest, ATaskIsSavedIntoTheSectionItWasReadFrom) {
  WriteFile("config/ArhTasks.bpd", "[01001]\r\nDescription=padded\r\n[0x3EA]\r\nDescription=hex\r\n");
  TArhList list(TaskFile());
  ASSERT_TRUE(list.LoadTaskFile(NewTaskDefaults{}));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Get(1)->TaskNumber, 1002);
  list.Get(0)->Description = "changed";
  ASSERT_TRUE(list.SaveTask(*list.Get(0)));
  ASSERT_TRUE(list.EraseTaskSection(*list.Get(1)));
  IniFile file(TaskFile());
  ASSERT_TRUE(file.Load());
  EXPECT_EQ(file.SectionNames(), std::vector<std::string>{"01001"});
  EXPECT_EQ(file.Find("01001", "Description"), "changed");
}

TEST_F(TaskListTest, ChangesSavedByAnotherProgramAreTakenOverExceptForARunningTask) {
  WriteFile("config/ArhTasks.bpd",
            "[1001]\r\nDescription=one\r\nTarget=/old\r\n[1002]\r\nDescription=two\r\nTarget=/old\r\n");
  TArhList service(TaskFile());
  std::vector<int> scheduled;
  service.SetScheduleNext([&scheduled](TArhRecord& task) { scheduled.push_back(task.TaskNumber); });
  ASSERT_TRUE(service.LoadTaskFile(NewTaskDefaults{}));
  EXPECT_FALSE(service.FileChangedOutside());
  // Its own save is no outside change.
  service.Get(0)->PercentDone = 42;
  ASSERT_TRUE(service.SaveTask(*service.Get(0)));
  EXPECT_FALSE(service.FileChangedOutside());
  service.Get(1)->IsStarted = true;
  scheduled.clear();

  // Another program changes both tasks and adds a third.
  TArhList command(TaskFile());
  ASSERT_TRUE(command.LoadTaskFile(NewTaskDefaults{}));
  for (int i = 0; i < 2; ++i) {
    command.Get(i)->Target = "/new";
    ASSERT_TRUE(command.SaveTask(*command.Get(i)));
  }
  auto third = std::make_unique<TArhRecord>();
  third->TaskNumber = 1003;
  third->Description = "three";
  ASSERT_TRUE(command.SaveTask(*command.ListAppend(std::move(third))));

  EXPECT_TRUE(service.FileChangedOutside());
  EXPECT_EQ(service.TakeOverOutsideChanges(NewTaskDefaults{}), 2);
  EXPECT_FALSE(service.FileChangedOutside());
  EXPECT_EQ(service.Get(0)->Target, "/new");
  EXPECT_EQ(service.Get(0)->PercentDone, 42) << "what a run shows is no stored field";
  EXPECT_EQ(service.Get(1)->Target, "/old") << "a running task keeps its copy";
  ASSERT_EQ(service.Count(), 3);
  EXPECT_EQ(service.Get(2)->Description, "three");
  EXPECT_EQ(service.NextTaskNumber(), 1004);
  EXPECT_EQ(scheduled, (std::vector<int>{1001, 1003}));
  EXPECT_TRUE(Logged("The task was changed by another program and is read again"));
  EXPECT_TRUE(Logged("The task was added by another program"));

  // Nothing more changed: the next look takes nothing over, and the service's next save keeps it.
  EXPECT_EQ(service.TakeOverOutsideChanges(NewTaskDefaults{}), 0);
  ASSERT_TRUE(service.SaveTask(*service.Get(0)));
  IniFile file(TaskFile());
  ASSERT_TRUE(file.Load());
  EXPECT_EQ(file.Find("1001", "Target"), "/new");
  EXPECT_EQ(file.Find("1002", "Target"), "/new");

  // The running task ends: its save takes in what was changed meanwhile and keeps its own result.
  TArhRecord& ran = *service.Get(1);
  ran.IsStarted = false;
  ran.LastArh = base::EncodeDate(2026, 3, 4) + base::EncodeTime(5, 6, 7);
  ASSERT_TRUE(service.SaveTask(ran));
  EXPECT_EQ(ran.Target, "/new");
  EXPECT_TRUE(Logged("The task was changed by another program during its run; the changes are kept"));
  ASSERT_TRUE(file.Load());
  EXPECT_EQ(file.Find("1002", "Target"), "/new");
  EXPECT_EQ(file.Find("1002", "LastArh"), "04/03/2026 5:06:07");
  EXPECT_EQ(file.Find("1002", "Description"), "two");
}

TEST_F(TaskListTest, OnlyTheTasksChangedOutsideAreReadAgain) {
  WriteFile("config/ArhTasks.bpd",
            "[1001]\r\nDescription=one\r\n[1002]\r\nDescription=two\r\n[1001]\r\nDescription=again\r\n");
  TArhList service(TaskFile());
  ASSERT_TRUE(service.LoadTaskFile(NewTaskDefaults{}));
  service.Get(1)->IsActive = false;
  service.Get(1)->Description = "not saved yet";

  TArhList command(TaskFile());
  ASSERT_TRUE(command.LoadTaskFile(NewTaskDefaults{}));
  command.Get(0)->Description = "changed";
  ASSERT_TRUE(command.SaveTask(*command.Get(0)));

  EXPECT_EQ(service.TakeOverOutsideChanges(NewTaskDefaults{}), 1);
  EXPECT_EQ(service.Get(0)->Description, "changed");
  EXPECT_EQ(service.Get(1)->Description, "not saved yet");
  // A second change of the same task is seen as well, and the first is not taken over again.
  service.Get(0)->Target = "/kept";
  command.Get(1)->Target = "/two";
  ASSERT_TRUE(command.SaveTask(*command.Get(1)));
  EXPECT_EQ(service.TakeOverOutsideChanges(NewTaskDefaults{}), 1);
  EXPECT_EQ(service.Get(0)->Target, "/kept");
  EXPECT_EQ(service.Get(1)->Target, "/two");
}

TEST_F(TaskListTest, ASaveMergesFieldByFieldWithWhatAnotherProgramSavedMeanwhile) {
  WriteFile("config/ArhTasks.bpd", "[1001]\r\nDescription=one\r\nTarget=/old\r\nTarget2=/extra\r\n");
  TArhList mine(TaskFile());
  ASSERT_TRUE(mine.LoadTaskFile(NewTaskDefaults{}));
  TArhList other(TaskFile());
  ASSERT_TRUE(other.LoadTaskFile(NewTaskDefaults{}));
  other.Get(0)->Target = "/theirs";
  other.Get(0)->Description = "theirs";
  ASSERT_TRUE(other.SaveTask(*other.Get(0)));

  // This list never looked at the file in between; its save still keeps the other program's field,
  // and where both changed a field, the later save wins.
  TArhRecord& task = *mine.Get(0);
  task.Description = "mine";
  task.LastArh = base::EncodeDate(2026, 3, 4) + base::EncodeTime(5, 6, 7);
  ASSERT_TRUE(mine.SaveTask(task));
  EXPECT_EQ(task.Target, "/theirs");
  IniFile file(TaskFile());
  ASSERT_TRUE(file.Load());
  EXPECT_EQ(file.Find("1001", "Target"), "/theirs");
  EXPECT_EQ(file.Find("1001", "Description"), "mine");
  EXPECT_EQ(file.Find("1001", "LastArh"), "04/03/2026 5:06:07");
  EXPECT_EQ(file.Find("1001", "Target2"), "/extra");
}

TEST_F(TaskListTest, AnUnreadableChangedFileChangesNothing) {
  WriteFile("config/ArhTasks.bpd", "[1001]\r\nDescription=one\r\n");
  TArhList service(TaskFile());
  ASSERT_TRUE(service.LoadTaskFile(NewTaskDefaults{}));
  std::filesystem::remove(TaskFile());
  EXPECT_TRUE(service.FileChangedOutside());
  EXPECT_EQ(service.TakeOverOutsideChanges(NewTaskDefaults{}), 0);
  ASSERT_EQ(service.Count(), 1);
  EXPECT_EQ(service.Get(0)->Description, "one");
}

TEST_F(TaskListTest, ASectionThatIsNoNumberMakesTheFileCorrupt) {
  const std::string content = "[1001]\r\nDescription=kept\r\n[abc]\r\nDescription=x\r\n";
  WriteFile("config/ArhTasks.bpd", content);
  TArhList list(TaskFile());
  std::string error;
  EXPECT_FALSE(list.LoadTaskFile(NewTaskDefaults{}, &error));
  EXPECT_NE(error.find("[abc]"), std::string::npos);
  EXPECT_EQ(list.Counter(), 0);
  EXPECT_EQ(list.Count(), 1) << "tasks read before the error stay listed";
  EXPECT_FALSE(StartupPass());
  EXPECT_TRUE(Logged("Tasks list file is corrupt...Abnormal exit!!!"));
  EXPECT_EQ(Messages(), std::vector<std::string>{"Attention! ArhTasks.bpd is corrupted..."});
  EXPECT_EQ(ReadFile(TaskFile()), content);
}

TEST_F(TaskListTest, OldSectionsAreReadInTheRegionalDateOrder) {
  WriteFile("config/ArhTasks.bpd",
            "[1001]\r\nNextArh=03/05/2012 9:05:00\r\nLastArh=12.25.2011 13:05:00\r\n"
            "[1002]\r\nIsNewDS2008=1\r\nNextArh=03/05/2012 9:05:00\r\n");
  base::RegionalFormats american = base::CLocaleRegionalFormats();
  american.dateOrder = "MDY";
  base::SetRegionalFormats(american);
  TArhList list(TaskFile());
  ASSERT_TRUE(list.LoadTaskFile(NewTaskDefaults{}));
  EXPECT_EQ(list.Get(0)->NextArh, base::EncodeDate(2012, 3, 5) + base::EncodeTime(9, 5, 0));
  EXPECT_EQ(list.Get(0)->LastArh, base::EncodeDate(2011, 12, 25) + base::EncodeTime(13, 5, 0));
  EXPECT_EQ(list.Get(1)->NextArh, base::EncodeDate(2012, 5, 3) + base::EncodeTime(9, 5, 0));
}

TEST_F(TaskListTest, OldFormPasswordsAreClearedWithAMessageNamingTheTask) {
  WriteFile("config/ArhTasks.bpd",
            "[1003]\r\nUserName=" + ToLetters(ChainScramble("admin")) +
                "\r\nPassword=abc123\r\n[1004]\r\nPassword=" + ToLetters(MaskScramble("fine")) + "\r\n");
  TArhList list(TaskFile());
  ASSERT_TRUE(list.LoadTaskFile(NewTaskDefaults{}));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_TRUE(list.Get(0)->UserName.empty());
  EXPECT_TRUE(list.Get(0)->Password.empty());
  EXPECT_EQ(list.Get(1)->Password, "fine");
  EXPECT_EQ(Messages(), std::vector<std::string>{OldPasswordFormatMessage(1003)});
}

TEST_F(TaskListTest, MissingKeysTakeTheStoredDefaultsAndTheOptions) {
  WriteFile("config/ArhTasks.bpd", "[1001]\r\nFileMsk_Prefix=main_\r\n");
  TArhList list(TaskFile());
  NewTaskDefaults options;
  options.PromtShare = false;
  options.PSDefaultAction = kPsSkipLocked;
  options.CompressionMethod = 9;
  options.ZipPriority = 1;
  ASSERT_TRUE(list.LoadTaskFile(options));
  const TArhRecord& task = *list.Get(0);
  EXPECT_FALSE(task.PromtShare);
  EXPECT_EQ(task.PSDefaultAction, kPsSkipLocked);
  EXPECT_EQ(task.CompressMetod, 6) << "a missing level is 6, not the option";
  EXPECT_EQ(task.ZipPriority, 3);
  EXPECT_EQ(task.FileMsk3_Prefix, "main_");
}

TEST_F(TaskListTest, SaveTaskRewritesOnlyItsSectionAndKeepsForeignLines) {
  WriteFile("config/ArhTasks.bpd",
            "[1001]\r\nDescription=old\r\nSomeFutureKey=kept\r\n\r\n[1002]\r\nDescription=b\r\n");
  TArhList list(TaskFile());
  ASSERT_TRUE(list.LoadTaskFile(NewTaskDefaults{}));
  list.Get(0)->Description = "new";
  ASSERT_TRUE(list.SaveTask(*list.Get(0)));
  const std::string text = ReadFile(TaskFile());
  EXPECT_EQ(text.find("[1001]\r\nDescription=new\r\nSomeFutureKey=kept\r\nIsNewDS2008=1\r\n"), 0u) << text;
  EXPECT_NE(text.find("\r\n\r\n[1002]\r\nDescription=b\r\n"), std::string::npos);
  IniFile file(TaskFile());
  ASSERT_TRUE(file.Load());
  EXPECT_EQ(file.KeyNames("1001").size(), kSectionKeyCount + 1);
  EXPECT_EQ(file.KeyNames("1002").size(), 1u);

  struct stat info {};
  ASSERT_EQ(stat(TaskFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds passwords";
}

TEST_F(TaskListTest, EraseAndSaveAllAndTheirFailures) {
  TArhList list(TaskFile());
  for (int number : {1001, 1002, 1003}) {
    auto task = NewTaskRecord();
    task->TaskNumber = number;
    ASSERT_TRUE(list.SaveTask(*list.ListAppend(std::move(task))));
  }
  ASSERT_TRUE(list.EraseTaskSection(*list.Get(1)));
  IniFile file(TaskFile());
  ASSERT_TRUE(file.Load());
  EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"1001", "1003"}));

  std::unique_ptr<TArhRecord> removed = list.ListRemoveAt(0);
  ASSERT_NE(removed, nullptr);
  ASSERT_TRUE(list.SaveTaskFile());
  ASSERT_TRUE(file.Load());
  EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"1002", "1003"}));

  // A task file that cannot be replaced.
  std::filesystem::remove(TaskFile());
  std::filesystem::create_directory(TaskFile());
  std::string error;
  EXPECT_FALSE(list.SaveTask(*list.Get(0), &error));
  EXPECT_EQ(error, "Unable to write to " + TaskFile());
  EXPECT_FALSE(list.SaveTaskFile(&error));
  EXPECT_TRUE(
      Logged("Error occured while attemting to write the task file. Probably, this file is opened by "
             "another application."));
  EXPECT_FALSE(list.EraseTaskSection(*list.Get(0), &error));
  EXPECT_EQ(error, "Unable to write to " + TaskFile());
}

TEST_F(TaskListTest, ListOperationsAndNumbers) {
  TArhList list(TaskFile());
  std::vector<std::string> told;
  TaskListView view;
  view.RowAboutToBeInserted = [&told](int index) { told.push_back("insert " + std::to_string(index)); };
  view.RowInserted = [&told](int index) { told.push_back("inserted " + std::to_string(index)); };
  view.RowAboutToBeRemoved = [&told](int index) { told.push_back("remove " + std::to_string(index)); };
  view.RowRemoved = [&told](int index) { told.push_back("removed " + std::to_string(index)); };
  view.RefreshRow = [&told](int taskNumber, int index) {
    told.push_back("refresh " + std::to_string(taskNumber) + " at " + std::to_string(index));
  };
  list.SetView(view);
  EXPECT_EQ(list.NextTaskNumber(), 1001);
  for (int i = 0; i < 3; ++i) {
    auto task = NewTaskRecord();
    task->TaskNumber = list.NextTaskNumber();
    list.RaiseCounter(task->TaskNumber);
    list.ListAppend(std::move(task));
  }
  EXPECT_EQ(told, (std::vector<std::string>{"insert 0", "inserted 0", "insert 1", "inserted 1", "insert 2",
                                            "inserted 2"}));
  told.clear();
  EXPECT_EQ(list.NextTaskNumber(), 1004);
  TArhRecord* second = list.Get(1);
  EXPECT_EQ(list.IndexOf(second), 1);
  EXPECT_EQ(list.RowOf(second), 2);
  EXPECT_EQ(list.FindByNumber(1003), list.Get(2));
  EXPECT_EQ(list.Get(3), nullptr);
  EXPECT_EQ(list.Get(-1), nullptr);
  list.RefreshRow(*second);
  EXPECT_EQ(told, std::vector<std::string>{"refresh 1002 at 1"});
  told.clear();

  EXPECT_NE(list.ListRemoveAt(1), nullptr);
  EXPECT_NE(list.ListRemoveAt(0), nullptr);
  EXPECT_NE(list.ListRemoveAt(0), nullptr);
  EXPECT_EQ(list.ListRemoveAt(0), nullptr);
  EXPECT_EQ(told, (std::vector<std::string>{"remove 1", "removed 1", "remove 0", "removed 0", "remove 0",
                                            "removed 0"}));
  EXPECT_EQ(list.NextTaskNumber(), 1004) << "numbers are not reused while the program runs";
}

TEST_F(TaskListTest, RefreshesReachTheViewOnTheMainThreadOncePerTask) {
  testing::FakeMainThread mainThread;
  base::SetCurrentMainThread(&mainThread);
  struct Restore {
    ~Restore() { base::SetCurrentMainThread(nullptr); }
  } restore;
  std::vector<std::pair<int, int>> told;
  const std::thread::id mainThreadId = std::this_thread::get_id();
  bool elsewhere = false;
  const auto runMainThread = [&mainThread] {
    mainThread.RunPending();
    mainThread.AdvanceTimers(TArhList::kRefreshInterval);
  };
  {
    TArhList list(TaskFile());
    TaskListView view;
    view.RefreshRow = [&](int taskNumber, int index) {
      told.emplace_back(taskNumber, index);
      elsewhere = elsewhere || std::this_thread::get_id() != mainThreadId;
    };
    list.SetView(view);
    for (int number = 1001; number <= 1003; ++number) {
      auto task = NewTaskRecord();
      task->TaskNumber = number;
      list.ListAppend(std::move(task));
    }

    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
      workers.emplace_back([&list] {
        for (int i = 0; i < 1000; ++i)
          list.RefreshRow(*list.Get(i % 2));
      });
    }
    for (std::thread& worker : workers)
      worker.join();
    EXPECT_TRUE(told.empty()) << "workers never call the view";
    EXPECT_EQ(mainThread.PendingCount(), 1u) << "one queued call for them all";
    runMainThread();
    EXPECT_EQ(told, (std::vector<std::pair<int, int>>{{1001, 0}, {1002, 1}}));
    EXPECT_FALSE(elsewhere);

    // Asked again at once: the refreshes wait for the rest of the interval and go together.
    told.clear();
    list.RefreshRow(*list.Get(2));
    list.RefreshRow(*list.Get(0));
    runMainThread();
    EXPECT_EQ(told, (std::vector<std::pair<int, int>>{{1001, 0}, {1003, 2}}));

    // A task deleted before the main thread comes to it has no row to repaint.
    told.clear();
    list.RefreshRow(*list.Get(1));
    EXPECT_NE(list.ListRemoveAt(1), nullptr);
    runMainThread();
    EXPECT_TRUE(told.empty());

    list.RefreshRow(*list.Get(0));
  }
  // The list is gone before its queued call runs.
  runMainThread();
  EXPECT_TRUE(told.empty());
}

TEST_F(TaskListTest, SortingByAColumnRemembersColumnAndDirection) {
  TArhList list(TaskFile());
  for (const char* description : {"b", "c", "a"}) {
    auto task = NewTaskRecord();
    task->Description = description;
    list.ListAppend(std::move(task));
  }
  const CompareRowsFunction byDescription = [](const TArhRecord& a, const TArhRecord& b, int column,
                                               bool sup) {
    EXPECT_EQ(column, 4);
    const int result = a.Description.compare(b.Description);
    return sup ? -result : result;
  };
  const auto order = [&list] {
    std::string text;
    for (int i = 0; i < list.Count(); ++i)
      text += list.Get(i)->Description;
    return text;
  };
  list.SortTaskList(9, false, byDescription);
  EXPECT_FALSE(list.Sort);
  EXPECT_EQ(order(), "bca");
  list.SortTaskList(4, false, byDescription);
  EXPECT_TRUE(list.Sort);
  EXPECT_EQ(list.Col, 4);
  EXPECT_FALSE(list.SUP);
  EXPECT_EQ(order(), "abc");
  list.SUP = true;
  list.ResortTaskList(byDescription);
  EXPECT_EQ(order(), "cba");
  list.Sort = false;
  list.SUP = false;
  list.ResortTaskList(byDescription);
  EXPECT_EQ(order(), "cba");
}

}  // namespace
}  // namespace zentrove::core
