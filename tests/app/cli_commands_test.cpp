#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/cli.h"
#include "app/cli_commands.h"
#include "cli_fixture.h"
#include "core/config_folder.h"
#include "core/options.h"
#include "core/task_commands.h"
#include "core/task_file_format.h"
#include "engine/register_steps.h"
#include "engine/run_environment.h"
#include "engine/run_once.h"
#include "engine/zip/zip_extract.h"
#include "engine/zip/zip_reader.h"
#include "log/log.h"
#include "platform/file_handle.h"
#include "program_fixture.h"

namespace zentrove::app {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

class CliCommandsTest : public testing::ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    engine::RegisterAllSteps(environment_);
    services_.RunTaskOnce = [this](core::TArhList& list, int number, const engine::RunOnceOptions& options) {
      return engine::RunTaskOnce(environment_, list, number, options);
    };
  }
  void TearDown() override {
    testing::ResetAfterCliCommands();
    ProgramTest::TearDown();
  }

  using Outcome = testing::CliOutcome;
  Outcome Cli(const std::vector<std::string>& arguments) {
    return testing::RunCliCommand(arguments, services_);
  }

  std::string TaskFilePath() { return (ConfigDir() / "ArhTasks.bpd").string(); }
  std::string TaskFile() { return ReadFile(TaskFilePath()); }

  // A daily encrypted archive task of a small folder, with one extra folder.
  void AddArchiveTask(const std::vector<std::string>& more = {}) {
    WriteFile("data/notes.txt", "first notes\n");
    WriteFile("data/deep/report.txt", std::string(70000, 'r'));
    MakeDir("backups");
    MakeDir("extra");
    std::vector<std::string> arguments = {"add",
                                          "FileSourceMask=" + (Sandbox() / "data").string() + "/*.*",
                                          "Target=" + (Sandbox() / "backups").string(),
                                          "Target2=" + (Sandbox() / "extra").string(),
                                          "DeleteWhenArhivMoreThan=7",
                                          "Password=s3cret",
                                          "EncryptStrength=3"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    const Outcome added = Cli(arguments);
    ASSERT_EQ(added.exitCode, kExitSuccess) << added.err;
    ASSERT_EQ(added.out, "1001\n");
  }

  std::vector<fs::path> Backups() {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(Sandbox() / "backups"))
      found.push_back(entry.path());
    return found;
  }

  engine::RunEnvironment environment_;
  CliServices services_;
};

TEST_F(CliCommandsTest, HelpVersionAndUnknownArguments) {
  const Outcome help = Cli({"--help"});
  EXPECT_EQ(help.exitCode, kExitSuccess);
  EXPECT_NE(help.out.find("zentrove restore N [ARCHIVE] --to FOLDER"), std::string::npos) << help.out;
  EXPECT_EQ(Cli({"-h"}).out, help.out);
  EXPECT_EQ(Cli({"--version"}).out, "Zentrove 3.8.1\n");

  const Outcome keys = Cli({"help", "keys"});
  EXPECT_EQ(keys.exitCode, kExitSuccess);
  EXPECT_NE(keys.out.find("\nEncryptStrength  integer  [0]  one of 0 PKZip (standard), 1 AES 128 bit, 2 AES "
                          "192 bit, 3 AES 256 bit: archive encryption\n"),
            std::string::npos)
      << keys.out;
  EXPECT_NE(keys.out.find("\nDeep2  integer  [0]  0 to 3200: "), std::string::npos);
  // Every key of the table, and nothing else, has a line.
  EXPECT_EQ(std::count(keys.out.begin(), keys.out.end(), '\n'), 1 + 158);

  const Outcome unknown = Cli({"/tray"});
  EXPECT_EQ(unknown.exitCode, kExitUsage);
  EXPECT_TRUE(unknown.out.empty());
  EXPECT_NE(unknown.err.find("unknown command or switch \"/tray\""), std::string::npos);
  EXPECT_NE(unknown.err.find("Usage:"), std::string::npos);
  EXPECT_FALSE(fs::exists(ConfigDir() / "ArhTasks.bpd"));
  EXPECT_EQ(Cli({"help", "nothing"}).exitCode, kExitUsage);
}

TEST_F(CliCommandsTest, AddStoresTheWizardsTaskAndRefusesWholly) {
  ASSERT_EQ(Cli({"add"}).exitCode, kExitSuccess);
  const Outcome shown = Cli({"show", "1001"});
  ASSERT_EQ(shown.exitCode, kExitSuccess) << shown.err;
  for (const char* line : {"\nFileMsk_Prefix=Backup\n", "\nFileMsk_ArhDateFormat=YYYYMMDD_hh-nn\n",
                           "\nFileMsk4_Prefix=Backup\n", "\nIsActive=1\n", "\nDayOfWeek=0100000\n",
                           "\nMonthOfYear=111111111111\n", "\nDescription=The task # 1001\n"}) {
    EXPECT_NE(shown.out.find(line), std::string::npos) << line << shown.out;
  }

  const std::string before = TaskFile();
  const Outcome refused = Cli({"add", "Description=kept?", "CompressMetod=5"});
  EXPECT_EQ(refused.exitCode, kExitUsage);
  EXPECT_NE(
      refused.err.find("CompressMetod: \"5\" is not allowed; allowed: one of 0 Do not archive, 1 Fastest"),
      std::string::npos)
      << refused.err;
  EXPECT_EQ(TaskFile(), before);
}

TEST_F(CliCommandsTest, SetRefusesValuesOutsideTheEnumerationsAndLimits) {
  ASSERT_EQ(Cli({"add"}).exitCode, kExitSuccess);
  const std::string before = TaskFile();
  const std::pair<const char*, const char*> refusals[] = {
      {"EncryptStrength=7", "EncryptStrength: \"7\" is not allowed; allowed: one of 0 PKZip (standard)"},
      {"ArchiveOrCopy=9",
       "ArchiveOrCopy: \"9\" is not allowed; allowed: one of 0 Archive files, 1 Copy files"},
      {"ArhPeriod_PeriodID=42", "ArhPeriod_PeriodID: \"42\" is not allowed; allowed: one of 0 Within Days"},
      {"DeleteWhenArhivMoreThan=3201", "\"3201\" is not allowed; allowed: 0 to 3200"},
      {"PSDefaultAction=4",
       "allowed: one of 10 Archive all files, 9 Skip locked files, 3 Abort task execution"},
      {"ArhPeriod_EveryDay=0", "allowed: 1 to 10000"}};
  for (const auto& [pair, message] : refusals) {
    const Outcome refused = Cli({"set", "1001", "Description=changed", pair});
    EXPECT_EQ(refused.exitCode, kExitUsage) << pair;
    EXPECT_NE(refused.err.find(message), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("nothing was changed"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(TaskFile(), before);
  EXPECT_EQ(Cli({"set", "1001", "EncryptStrength=3", "PSDefaultAction=9"}).exitCode, kExitSuccess);
}

TEST_F(CliCommandsTest, ShowPrintsEveryFieldInFileOrderWithPasswordsMasked) {
  AddArchiveTask({"PassTxt=ftp-secret"});
  const Outcome shown = Cli({"show", "1001"});
  ASSERT_EQ(shown.exitCode, kExitSuccess) << shown.err;
  EXPECT_EQ(shown.out.find("s3cret"), std::string::npos);
  EXPECT_EQ(shown.out.find("ftp-secret"), std::string::npos);
  EXPECT_NE(shown.out.find("\nPassword=*****\n"), std::string::npos);
  EXPECT_NE(shown.out.find("\nUserPassword=\n"), std::string::npos);
  EXPECT_NE(shown.out.find("State: idle\nLast start: never (never run)\nNext start: "), std::string::npos);
  std::size_t previous = 0;
  for (const std::string_view key : core::TaskFieldKeys()) {
    const std::size_t at = shown.out.find("\n" + std::string(key) + "=");
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at, previous) << key;
    previous = at;
  }

  const Outcome json = Cli({"show", "1001", "--json"});
  EXPECT_NE(json.out.find("\"state\": \"idle\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"Password\": \"*****\""), std::string::npos) << json.out;
  EXPECT_EQ(Cli({"show", "1002"}).exitCode, kExitUsage);
  EXPECT_NE(Cli({"list", "--json"}).out.find("\"number\": 1001, \"active\": true"), std::string::npos);
}

TEST_F(CliCommandsTest, DeleteKeepsTheMailTextAsideAndRefusesARunningTask) {
  ASSERT_EQ(Cli({"add"}).exitCode, kExitSuccess);
  ASSERT_EQ(Cli({"add"}).exitCode, kExitSuccess);
  WriteFile("config/1001.bdy", "mail text");
  const Outcome deleted = Cli({"delete", "1001"});
  EXPECT_EQ(deleted.exitCode, kExitSuccess) << deleted.err;
  EXPECT_EQ(TaskFile().find("[1001]"), std::string::npos);
  EXPECT_NE(TaskFile().find("[1002]"), std::string::npos);
  EXPECT_EQ(ReadFile(ConfigDir() / "1001.bdy.bak"), "mail text");
  EXPECT_FALSE(fs::exists(ConfigDir() / "1001.bdy"));
  EXPECT_NE(Log().find("[1001][I] The Task is deleted"), std::string::npos);

  const std::string file = TaskFile();
  std::string running = file;
  running.replace(running.find("IsStarted=0"), 11, "IsStarted=1");
  WriteFile("config/ArhTasks.bpd", running);
  const Outcome refused = Cli({"delete", "1002"});
  EXPECT_EQ(refused.exitCode, kExitFailure);
  EXPECT_NE(TaskFile().find("[1002]"), std::string::npos);
  EXPECT_EQ(Cli({"delete", "1003"}).exitCode, kExitUsage);
}

TEST_F(CliCommandsTest, ATaskAnotherCopyRunsShowsRunningAndIsNotDeleted) {
  ASSERT_EQ(Cli({"add"}).exitCode, kExitSuccess);
  auto held =
      platform::FileLock::Acquire(core::RunLockPath(TaskFilePath(), 1001), platform::FileLock::Target::File);
  ASSERT_TRUE(held.Ok()) << held.Message();
  EXPECT_NE(Cli({"show", "1001"}).out.find("State: running\n"), std::string::npos);
  const Outcome refused = Cli({"delete", "1001"});
  EXPECT_EQ(refused.exitCode, kExitFailure);
  EXPECT_NE(refused.err.find("The task has started, please wait until it finished"), std::string::npos);
  held->Release();
  EXPECT_NE(Cli({"show", "1001"}).out.find("State: idle\n"), std::string::npos);
  EXPECT_EQ(Cli({"delete", "1001"}).exitCode, kExitSuccess);
}

TEST_F(CliCommandsTest, RunListVerifyAndRestoreAnEncryptedArchive) {
  AddArchiveTask();
  const Outcome ran = Cli({"run", "1001"});
  ASSERT_EQ(ran.exitCode, kExitSuccess) << ran.err << ran.out;
  EXPECT_NE(ran.out.find("Task 1001: success\nFiles added: 2 ("), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("Written: " + (Sandbox() / "backups").string() + "/Backup"), std::string::npos);
  EXPECT_NE(ran.out.find("Time taken: 00:00:"), std::string::npos);
  EXPECT_TRUE(ran.err.empty()) << ran.err;  // no terminal, no progress line

  const Outcome listed = Cli({"archives", "1001"});
  ASSERT_EQ(listed.exitCode, kExitSuccess);
  EXPECT_NE(listed.out.find("\tfull\tmain\t" + (Sandbox() / "backups").string() + "/Backup"),
            std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find("\tfull\textra 1\t" + (Sandbox() / "extra").string() + "/Backup"),
            std::string::npos);

  const Outcome verified = Cli({"verify", "1001"});
  EXPECT_EQ(verified.exitCode, kExitSuccess) << verified.out;
  EXPECT_EQ(verified.out.rfind("OK ", 0), 0u) << verified.out;

  const fs::path target = MakeDir("restored");
  const Outcome restored = Cli({"restore", "1001", "--to", target.string(), "report.txt"});
  ASSERT_EQ(restored.exitCode, kExitSuccess) << restored.err;
  EXPECT_NE(restored.out.find("Restored 1 of 1 entries (70000 bytes)"), std::string::npos) << restored.out;
  const fs::path copy = target / (Sandbox() / "data/deep/report.txt").relative_path();
  EXPECT_EQ(ReadFile(copy), std::string(70000, 'r'));
  const auto seconds = [](const fs::path& path) {
    return std::chrono::duration_cast<std::chrono::seconds>(fs::last_write_time(path).time_since_epoch());
  };
  // The archive keeps MS-DOS times, to two seconds.
  EXPECT_LE(std::chrono::abs(seconds(copy) - seconds(Sandbox() / "data/deep/report.txt")),
            std::chrono::seconds(2));

  // An existing file is never overwritten unless asked.
  testing::SandboxedTest::WriteFile((copy.lexically_relative(Sandbox())).string(), "mine");
  const Outcome kept = Cli({"restore", "1001", "--to", target.string(), "report.txt"});
  EXPECT_EQ(kept.exitCode, kExitFailure);
  EXPECT_NE(kept.err.find("exists; not overwritten"), std::string::npos) << kept.err;
  EXPECT_EQ(ReadFile(copy), "mine");
  EXPECT_EQ(Cli({"restore", "1001", "--to", target.string(), "--overwrite", "report.txt"}).exitCode,
            kExitSuccess);
  EXPECT_EQ(ReadFile(copy), std::string(70000, 'r'));

  // A flipped byte in the stored data is found and named.
  const fs::path archive = Backups().front();
  std::uint64_t dataOffset = 0;
  {
    engine::zip::ZipError error;
    const auto reader = engine::zip::ZipReader::Open(archive.string(), error);
    ASSERT_TRUE(reader) << error.Message;
    for (std::size_t i = 0; i < reader->Entries().size(); ++i) {
      engine::zip::EntryLocation location;
      if (reader->Entries()[i].Name.ends_with("report.txt") && !reader->Locate(i, location))
        dataOffset = location.DataOffset + (location.DataEnd - location.DataOffset) / 2;
    }
  }
  ASSERT_NE(dataOffset, 0u);
  std::fstream file(archive, std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(static_cast<std::streamoff>(dataOffset));
  const char byte = static_cast<char>(file.get());
  file.seekp(static_cast<std::streamoff>(dataOffset));
  file.put(static_cast<char>(byte ^ 0x55));
  file.close();
  const Outcome damaged = Cli({"verify", "1001", archive.filename().string()});
  EXPECT_EQ(damaged.exitCode, kExitFailure);
  EXPECT_EQ(damaged.out.rfind("DAMAGED " + archive.string() + "\n", 0), 0u) << damaged.out;
  EXPECT_NE(damaged.out.find("report.txt: "), std::string::npos) << damaged.out;
}

TEST_F(CliCommandsTest, ProgressGoesToATerminalOnlyAndTheSummaryToStandardOutput) {
  AddArchiveTask({"StopOnAfterFile=400"});
  services_.ProgressToTerminal = [] { return true; };
  const Outcome ran = Cli({"run", "1001"});
  ASSERT_EQ(ran.exitCode, kExitSuccess) << ran.err;
  EXPECT_NE(ran.err.find("%  1 files  "), std::string::npos) << ran.err;
  EXPECT_NE(ran.err.find("/s  "), std::string::npos) << ran.err;
  // The line is wiped before the summary.
  EXPECT_EQ(ran.err.back(), '\r');
  EXPECT_EQ(ran.out.rfind("Task 1001: success\n", 0), 0u) << ran.out;
  EXPECT_TRUE(Cli({"run", "1001", "--quiet"}).err.empty());
}

TEST_F(CliCommandsTest, CopyModeBackupsAreComparedWithTheirSourcesAndCopiedBack) {
  AddArchiveTask({"ArchiveOrCopy=1", "Password=", "Target2="});
  ASSERT_EQ(Cli({"run", "1001", "--quiet"}).exitCode, kExitSuccess);
  const fs::path backup = Backups().front();
  ASSERT_TRUE(fs::is_directory(backup)) << backup;
  const Outcome verified = Cli({"verify", "1001"});
  EXPECT_EQ(verified.exitCode, kExitSuccess) << verified.out;
  EXPECT_NE(verified.out.find("(2 checked)"), std::string::npos) << verified.out;

  const fs::path target = MakeDir("copied-back");
  const Outcome restored = Cli({"restore", "1001", "--to", target.string(), "notes.txt"});
  ASSERT_EQ(restored.exitCode, kExitSuccess) << restored.err;
  EXPECT_EQ(ReadFile(target / (Sandbox() / "data/notes.txt").relative_path()), "first notes\n");

  const fs::path copy = backup / (Sandbox() / "data/notes.txt").relative_path();
  ASSERT_TRUE(fs::exists(copy)) << copy;
  const auto time = fs::last_write_time(copy);
  std::ofstream(copy, std::ios::app) << "damage";
  fs::last_write_time(copy, time);
  const Outcome damaged = Cli({"verify", "1001"});
  EXPECT_EQ(damaged.exitCode, kExitFailure);
  EXPECT_NE(damaged.out.find(copy.string() + ": size 18 differs from the source's 12"), std::string::npos)
      << damaged.out;
}

TEST_F(CliCommandsTest, RestoreRefusesNamesThatLeaveTheTargetFolder) {
  const std::string crafted = std::string(ZENTROVE_TEST_DATA_DIR) + "/app/leaving_names.zip";
  engine::zip::ZipError error;
  const auto reader = engine::zip::ZipReader::Open(crafted, error);
  ASSERT_TRUE(reader) << error.Message;
  engine::zip::ExtractRequest request;
  request.Folder = MakeDir("inside/target").string();
  const engine::zip::ExtractReport report = engine::zip::ExtractArchive(*reader, request);
  ASSERT_EQ(report.Entries.size(), 4u);
  EXPECT_EQ(report.Count(engine::zip::ExtractStatus::Restored), 1u);
  EXPECT_EQ(report.Count(engine::zip::ExtractStatus::Refused), 3u);
  EXPECT_EQ(ReadFile(Sandbox() / "inside/target/good.txt"), "fine\n");
  EXPECT_FALSE(fs::exists(Sandbox() / "inside/escape.txt"));
  EXPECT_FALSE(fs::exists(Sandbox() / "inside/up.txt"));
  EXPECT_FALSE(report.Ok());

  // A link in the archive never carries a later entry out of the folder; modes come back without
  // set-user bits, and a folder without write permission still gets its files.
  const auto linked =
      engine::zip::ZipReader::Open(std::string(ZENTROVE_TEST_DATA_DIR) + "/app/link_then_file.zip", error);
  ASSERT_TRUE(linked) << error.Message;
  request.Folder = MakeDir("inside/linked").string();
  const engine::zip::ExtractReport linkReport = engine::zip::ExtractArchive(*linked, request);
  ASSERT_EQ(linkReport.Entries.size(), 4u);
  EXPECT_EQ(linkReport.Entries[0].Status, engine::zip::ExtractStatus::Restored);
  EXPECT_EQ(linkReport.Entries[1].Status, engine::zip::ExtractStatus::Refused);
  EXPECT_FALSE(fs::exists(Sandbox() / "inside/through.txt"));
  EXPECT_EQ(fs::read_symlink(Sandbox() / "inside/linked/link"), "..");
  EXPECT_EQ(fs::status(Sandbox() / "inside/linked/dir/exec.sh").permissions(), static_cast<fs::perms>(0755));
  EXPECT_EQ(fs::status(Sandbox() / "inside/linked/dir").permissions(), static_cast<fs::perms>(0755));

  EXPECT_EQ(engine::zip::SafeRelativePath("a/./b//c"), "a/b/c");
  EXPECT_FALSE(engine::zip::SafeRelativePath("a/.."));
  EXPECT_FALSE(engine::zip::SafeRelativePath("/etc/passwd"));
  EXPECT_FALSE(engine::zip::SafeRelativePath(std::string("a\0b", 3)));
}

TEST_F(CliCommandsTest, SigintDuringARunAbortsItAndKeepsTheOldArchive) {
  AddArchiveTask();
  ASSERT_EQ(Cli({"run", "1001", "--quiet"}).exitCode, kExitSuccess);
  const std::vector<fs::path> before = Backups();
  ASSERT_EQ(before.size(), 1u);
  const std::string old = ReadFile(before.front());
  // Many files with a pause after each keep the run going long enough to be interrupted; a date
  // format with seconds makes the new archive a new file beside the old one.
  for (int i = 0; i < 40; ++i)
    WriteFile("data/many/f" + std::to_string(i) + ".txt", std::string(1000, 'x'));
  ASSERT_EQ(Cli({"set", "1001", "StopOnAfterFile=250", "FileMsk_ArhDateFormat=YYYYMMDD_hhnnss"}).exitCode,
            kExitSuccess);

  platform::Process& run = StartProgram({"run", "1001"});
  ASSERT_TRUE(WaitForLog("ZIP start", 2));
  ASSERT_EQ(::kill(run.Pid(), SIGINT), 0);
  ASSERT_TRUE(run.WaitFor(std::chrono::seconds(20)));
  EXPECT_EQ(run.ExitCode(), 130);
  EXPECT_TRUE(WaitForLog("[1001][W] The task has been aborted")) << Log();
  // Only the old archive is there: no part file, no scratch file.
  const std::vector<fs::path> after = Backups();
  ASSERT_EQ(after.size(), 1u) << after.back();
  EXPECT_EQ(after.front(), before.front());
  EXPECT_EQ(ReadFile(after.front()), old);
}

}  // namespace
}  // namespace zentrove::app
