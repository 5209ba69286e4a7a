#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "program_fixture.h"

namespace zentrove::testing {
namespace {

namespace fs = std::filesystem;

// Archive tasks run through the program's own commands, checked with other archivers.
class ArchiveProgramTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    const platform::CaptureResult added = RunProgram({"add"});
    ASSERT_EQ(added.exitCode, 0) << added.errors;
    number_ = added.output.substr(0, added.output.find('\n'));
    Set({"FileSourceMask=" + (Sandbox() / "src").string() + "/*.*", "Target=" + Target(),
         "FileMsk_Prefix=Work", "FileMsk_ArhDateFormat=", "StoreFullPathOnCopy=0",
         "IfArhiveExistDeleteOld=0"});
    WriteFile("src/a.txt", "alpha");
    WriteFile("src/sub/b.txt", std::string(100000, 'b'));
  }

  void Set(const std::vector<std::string>& pairs) {
    std::vector<std::string> arguments{"set", number_};
    arguments.insert(arguments.end(), pairs.begin(), pairs.end());
    const platform::CaptureResult set = RunProgram(arguments);
    ASSERT_EQ(set.exitCode, 0) << set.errors;
  }

  int RunTask() {
    const platform::CaptureResult run = RunProgram({"run", number_});
    return run.exitCode;
  }

  std::string Target() const { return (Sandbox() / "target").string(); }
  std::string Archive() const { return Target() + "/Work.zip"; }

  std::set<std::string> TargetNames() const {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(Target(), ignored))
      names.insert(entry.path().filename().string());
    return names;
  }

  // Starts a run that pauses after every file, waits until its scratch archive is being written
  // and kills the program there.
  void KillWhileWriting() {
    for (int i = 0; i < 30; ++i)
      WriteFile("src/many/f" + std::to_string(i) + ".txt", std::string(1000, 'm'));
    Set({"StopOnAfterFile=300"});
    platform::Process& run = StartProgram({"run", number_});
    const std::set<std::string> before = TargetNames();
    ASSERT_TRUE(WaitFor([&] { return TargetNames().size() > before.size(); }, std::chrono::seconds(20)));
    ASSERT_TRUE(run.Kill().Ok());
    ASSERT_TRUE(run.WaitFor(std::chrono::seconds(10)));
    Set({"StopOnAfterFile=0"});
  }

  std::string number_;
};

TEST_F(ArchiveProgramTest, EncryptedArchiveIsCheckedAndReadableBy7z) {
  Set({"ToCheckArchive=1", "Password=zip archive key", "EncryptStrength=3"});

  EXPECT_EQ(RunTask(), 0) << Log();

  EXPECT_EQ(TargetNames(), std::set<std::string>{"Work.zip"});
  EXPECT_EQ(Count(Log(), "[" + number_ + "][I] Check OK"), 1) << Log();
  const CommandResult tested = RunCommand("7z t '-pzip archive key' " + ShellQuote(Archive()));
  EXPECT_EQ(tested.status, 0) << tested.output;
  EXPECT_EQ(RunCommand("bsdtar -tf " + ShellQuote(Archive())).output, "a.txt\nsub/b.txt\n");
}

TEST_F(ArchiveProgramTest, KillingTheProgramDuringAnUpdateLeavesThePreviousArchive) {
  ASSERT_EQ(RunTask(), 0) << Log();
  const std::string previous = ReadFile(Archive());

  KillWhileWriting();

  EXPECT_EQ(ReadFile(Archive()), previous);
  EXPECT_EQ(RunCommand("unzip -t " + ShellQuote(Archive())).status, 0);
  // The next run finds the dead run's leftovers and still updates the archive.
  EXPECT_EQ(RunTask(), 0) << Log();
  EXPECT_EQ(TargetNames(), std::set<std::string>{"Work.zip"});
  EXPECT_NE(RunCommand("unzip -l " + ShellQuote(Archive())).output.find("many/f29.txt"), std::string::npos);
}

TEST_F(ArchiveProgramTest, KillingTheProgramDuringTheFirstRunLeavesNoArchiveUnderTheFinalName) {
  KillWhileWriting();

  EXPECT_EQ(TargetNames().count("Work.zip"), 0u);
  EXPECT_EQ(RunTask(), 0) << Log();
  EXPECT_EQ(TargetNames(), std::set<std::string>{"Work.zip"});
  EXPECT_EQ(RunCommand("unzip -t " + ShellQuote(Archive())).status, 0);
}

TEST_F(ArchiveProgramTest, ExternalArchiverRunsFromItsConfiguration) {
  fs::copy_file(std::string(ZENTROVE_SOURCE_DIR) + "/share/archivers/7z.EMC", ConfigDir() / "7z.EMC");
  Set({"UseInnerZip=0", "UseExtArh=7z"});

  EXPECT_EQ(RunTask(), 0) << Log();

  EXPECT_EQ(TargetNames(), std::set<std::string>{"Work.7z"});
  const CommandResult tested = RunCommand("7z t " + ShellQuote(Target() + "/Work.7z"));
  EXPECT_EQ(tested.status, 0) << tested.output;
  EXPECT_NE(Log().find("The Task executed using the external archiver 7z [Return code=0]"),
            std::string::npos);
}

}  // namespace
}  // namespace zentrove::testing
