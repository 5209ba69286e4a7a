#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/ini_file.h"
#include "core/task_file_format.h"
#include "program_fixture.h"

namespace zentrove::testing {
namespace {

namespace fs = std::filesystem;

class ProgramCommands : public ProgramTest {
 protected:
  std::string TaskFile() const { return ReadFile(ConfigDir() / "ArhTasks.bpd"); }

  void AddTask() {
    const platform::CaptureResult added = RunProgram({"add"});
    ASSERT_EQ(added.exitCode, 0) << added.errors;
  }

  // The task as a restarted program reads it back from the file.
  std::unique_ptr<core::TArhRecord> ReadBack(int number) const {
    core::IniFile file((ConfigDir() / "ArhTasks.bpd").string());
    EXPECT_TRUE(file.Load());
    return core::ReadTaskSection(file, std::to_string(number), {}, core::DateFieldOrder::DayMonthYear).task;
  }
};

TEST_F(ProgramCommands, WrongArgumentsPrintTheUsageAndChangeNothing) {
  const std::vector<std::vector<std::string>> wrong = {{"list", "all"},
                                                       {"add", "1001"},
                                                       {"set"},
                                                       {"set", "1001"},
                                                       {"set", "abc", "Description=x"},
                                                       {"set", "-5", "Description=x"},
                                                       {"run"},
                                                       {"run", "x"},
                                                       {"run", "1001", "1002"}};
  for (const auto& arguments : wrong) {
    const platform::CaptureResult result = RunProgram(arguments);
    EXPECT_EQ(result.exitCode, 2) << arguments[0];
    EXPECT_TRUE(result.output.empty()) << arguments[0];
    EXPECT_NE(result.errors.find("Usage:"), std::string::npos) << arguments[0];
  }
  EXPECT_FALSE(fs::exists(ConfigDir() / "ArhTasks.bpd"));
}

TEST_F(ProgramCommands, AddContinuesAfterTheLargestNumberAndListKeepsFileOrder) {
  WriteFile("config/ArhTasks.bpd",
            "[1005]\r\nIsNewDS2008=1\r\nIsActive=0\r\nDescription=five\r\n"
            "[1002]\r\nIsNewDS2008=1\r\nIsActive=0\r\nLastArh=05/03/2012 14:07:09\r\nDescription=two\r\n");
  const platform::CaptureResult added = RunProgram({"add"});
  EXPECT_EQ(added.exitCode, 0) << added.errors;
  EXPECT_EQ(added.output, "1006\n");

  const platform::CaptureResult listed = RunProgram({"list"});
  EXPECT_EQ(listed.exitCode, 0) << listed.errors;
  // The new task is active and daily, as the wizard makes it, so it has a next start.
  EXPECT_TRUE(std::regex_match(listed.output,
                               std::regex("1005\t0\t0\t\t\tfive\tidle\tnever run\n"
                                          "1002\t0\t0\t\t03.05.2012 14:07:09\ttwo\tidle\tsuccess\n"
                                          "1006\t1\t0\t[0-9. :]+\t\tThe task # 1006\tidle\tnever run\n")))
      << listed.output;
}

TEST_F(ProgramCommands, AddsStartedTogetherGetNumbersOfTheirOwn) {
  constexpr int kCopies = 6;
  std::vector<platform::CaptureResult> results(kCopies);
  std::vector<std::thread> threads;
  for (int i = 0; i < kCopies; ++i)
    threads.emplace_back([this, &results, i] { results[static_cast<std::size_t>(i)] = RunProgram({"add"}); });
  for (std::thread& thread : threads)
    thread.join();

  std::set<std::string> numbers;
  for (const platform::CaptureResult& result : results) {
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    numbers.insert(result.output);
  }
  EXPECT_EQ(numbers.size(), static_cast<std::size_t>(kCopies));
  const platform::CaptureResult listed = RunProgram({"list"});
  const std::string lines = "\n" + listed.output;
  EXPECT_EQ(std::count(listed.output.begin(), listed.output.end(), '\n'), kCopies) << listed.output;
  for (const std::string& number : numbers)
    EXPECT_NE(lines.find("\n" + number.substr(0, number.size() - 1) + "\t"), std::string::npos) << number;
}

TEST_F(ProgramCommands, SetsStartedTogetherKeepEachOthersChanges) {
  AddTask();
  const std::vector<std::string> keys = {"Description",    "Target",  "FileMsk_Prefix",
                                         "FileSourceMask", "Target2", "Target3"};
  std::vector<platform::CaptureResult> results(keys.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < keys.size(); ++i)
    threads.emplace_back([this, &results, &keys, i] {
      results[i] = RunProgram({"set", "1001", keys[i] + "=/value" + std::to_string(i)});
    });
  for (std::thread& thread : threads)
    thread.join();

  for (const platform::CaptureResult& result : results)
    EXPECT_EQ(result.exitCode, 0) << result.errors;
  core::IniFile file((ConfigDir() / "ArhTasks.bpd").string());
  ASSERT_TRUE(file.Load());
  for (std::size_t i = 0; i < keys.size(); ++i)
    EXPECT_EQ(file.ReadString("1001", keys[i], ""), "/value" + std::to_string(i)) << keys[i];
}

TEST_F(ProgramCommands, SetChangesEverythingOrNothing) {
  AddTask();
  const std::string before = TaskFile();

  struct Refused {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Refused> refused = {
      {{"set", "1001", "Description=new", "NoSuchKey=1"}, "NoSuchKey"},
      {{"set", "1001", "Description=new", "IsActive=2"}, "IsActive"},
      {{"set", "1001", "Description=new", "CompressMetod=six"}, "CompressMetod"},
      {{"set", "1001", "Description=new", "ArhStartDate=2012-03-05"}, "ArhStartDate"},
      {{"set", "1001", "Description=new", "Description"}, "\"Description\""},
  };
  for (const Refused& attempt : refused) {
    const platform::CaptureResult result = RunProgram(attempt.arguments);
    EXPECT_EQ(result.exitCode, 2) << attempt.message;
    EXPECT_NE(result.errors.find(attempt.message), std::string::npos) << result.errors;
    EXPECT_EQ(TaskFile(), before) << attempt.message;
  }
  const platform::CaptureResult missing = RunProgram({"set", "1002", "Description=new"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.errors, "zentrove: task 1002 does not exist\n");

  const platform::CaptureResult accepted = RunProgram(
      {"set", "1001", "description=Photos", "IsActive=1", "ArhPeriod_PeriodID=3",
       "ArhPeriod_OneDate=05/03/2040", "LastArh=05/03/2012 9:05:00", "FileSourceMask=/data/photos/*.jpg"});
  EXPECT_EQ(accepted.exitCode, 0) << accepted.errors;
  const auto task = ReadBack(1001);
  EXPECT_EQ(task->Description, "Photos");
  EXPECT_TRUE(task->IsActive);
  EXPECT_EQ(task->ArhPeriod_PeriodID, 3);
  EXPECT_EQ(task->FileSourceMask, "/data/photos/*.jpg");
  EXPECT_EQ(core::FormatFileDate(task->ArhPeriod_OneDate), "05/03/2040");
  EXPECT_EQ(core::FormatFileDateTime(task->LastArh), "05/03/2012 9:05:00");
}

TEST_F(ProgramCommands, PasswordsAreGivenInClearAndStoredScrambled) {
  AddTask();
  const platform::CaptureResult result = RunProgram(
      {"set", "1001", "UserName=backup-operator", "UserPassword=S3cret-Pass", "Password=zip archive key"});
  ASSERT_EQ(result.exitCode, 0) << result.errors;

  const std::string file = TaskFile();
  for (const char* clear : {"backup-operator", "S3cret-Pass", "zip archive key"}) {
    EXPECT_EQ(file.find(clear), std::string::npos) << clear;
  }
  const auto task = ReadBack(1001);
  EXPECT_EQ(task->UserName, "backup-operator");
  EXPECT_EQ(task->UserPassword, "S3cret-Pass");
  EXPECT_EQ(task->Password, "zip archive key");
}

TEST_F(ProgramCommands, RunReportsTheOutcomeInItsExitCode) {
  const platform::CaptureResult missing = RunProgram({"run", "1001"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.errors, "zentrove: task 1001 does not exist\n");

  AddTask();
  // Nothing to back up and nowhere to put it: the run fails.
  const platform::CaptureResult failed = RunProgram({"run", "1001"});
  EXPECT_EQ(failed.exitCode, 1) << failed.errors;
  EXPECT_NE(Log().find("[1001]"), std::string::npos) << Log();

  WriteFile("sources/report.txt", "quarterly figures");
  const fs::path target = MakeDir("backups");
  ASSERT_EQ(
      RunProgram({"set", "1001", "FileSourceMask=" + (Sandbox() / "sources").string() + "/*.*",
                  "Target=" + target.string() + "/", "FileMsk_Prefix=reports", "FileMsk_ArhDateFormat="})
          .exitCode,
      0);
  const platform::CaptureResult succeeded = RunProgram({"run", "1001"});
  EXPECT_EQ(succeeded.exitCode, 0) << succeeded.errors << Log();
  EXPECT_TRUE(fs::exists(target / "reports.zip"));
  // The run's end was saved: the list shows its start as the last one.
  const platform::CaptureResult listed = RunProgram({"list"});
  EXPECT_TRUE(std::regex_search(listed.output, std::regex(R"(^1001\t1\t0\t[^\t]+\t\d\d\.\d\d\.\d{4} )")))
      << listed.output;
}

}  // namespace
}  // namespace zentrove::testing
