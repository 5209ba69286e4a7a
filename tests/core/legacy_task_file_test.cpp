#include "core/legacy_task_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "core/password_scramble.h"
#include "core/task_list.h"
#include "task_file_test_support.h"

namespace zentrove::core {
namespace {

using testing::ReadFile;

// One record of the version 1.7 file, built field by field.
class LegacyRecord {
 public:
  LegacyRecord() : bytes_(kLegacyRecordSize, '\0') {}

  LegacyRecord& Int(std::size_t offset, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i)
      bytes_[offset + i] = static_cast<char>(bits >> (8 * i));
    return *this;
  }
  LegacyRecord& Date(std::size_t offset, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < 8; ++i)
      bytes_[offset + i] = static_cast<char>(bits >> (8 * i));
    return *this;
  }
  LegacyRecord& Byte(std::size_t offset, unsigned char value) {
    bytes_[offset] = static_cast<char>(value);
    return *this;
  }
  LegacyRecord& Text(std::size_t offset, std::string_view text,
                     std::size_t declaredLength = std::string::npos) {
    bytes_[offset] = static_cast<char>(declaredLength == std::string::npos ? text.size() : declaredLength);
    std::memcpy(bytes_.data() + offset + 1, text.data(), text.size());
    return *this;
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class LegacyConversionTest : public TaskFileTest {
 protected:
  std::string ProgramFolder() { return MakeDir("program").string() + "/"; }
  void WriteLegacy(const std::string& bytes) { WriteFile("program/ArhTasks.dat", bytes); }
};

TEST(LegacyText, Windows1252BytesBecomeUtf8AndUtf8StaysAsItIs) {
  EXPECT_EQ(LegacyTextToUtf8("Caf\xE9 \x80 \x9F\x81"), "Caf\xC3\xA9 \xE2\x82\xAC \xC5\xB8\xC2\x81");
  EXPECT_EQ(LegacyTextToUtf8("Caf\xC3\xA9"), "Caf\xC3\xA9");
  EXPECT_EQ(LegacyTextToUtf8("plain"), "plain");
}

TEST(LegacyText, ListFilesSplitLikeTheClassicStringList) {
  EXPECT_EQ(SplitListFileLines("a\r\n\r\nb\nc\rd\r\n"), (std::vector<std::string>{"a", "", "b", "c", "d"}));
  EXPECT_EQ(SplitListFileLines("one"), std::vector<std::string>{"one"});
  EXPECT_TRUE(SplitListFileLines("").empty());
}

TEST(LegacyRecords, FieldsComeFromTheirOffsets) {
  LegacyRecord record;
  record.Text(4, "C:\\old").Byte(462, 0).Text(463, "D:\\Backup").Text(719, "pre_").Text(975, "yyyymmdd");
  record.Date(1232, base::EncodeTime(22, 30, 0)).Int(1240, 1).Int(1248, 2).Byte(1253, 1).Byte(1257, 1);
  record.Int(1260, 15).Byte(1264 + 30, 1).Byte(1295 + 11, 1).Date(1336, base::EncodeDate(2005, 6, 7) + 0.5);
  record.Byte(1356, 1).Date(1376, base::EncodeDate(2006, 1, 1)).Text(1384, std::string(120, 'd'), 255);
  record.Text(1736, "after.exe").Int(2772, 9).Int(2872, 2).Text(4156, "fmt4").Text(5165, "-q");
  record.Int(5428, 6).Byte(5432, 0).Byte(5436, 1).Int(5444, 15).Int(5460, 9).Byte(5465, 0);
  record.Text(5466, "7-Zip").Text(6692, "not there").Byte(6948, 1);
  record.Date(1344, std::numeric_limits<double>::infinity());

  TArhRecord task = *NewTaskRecord();
  task.IfArhiveExistSync = true;
  ReadLegacyRecord(reinterpret_cast<const unsigned char*>(record.Bytes().data()), task);
  EXPECT_EQ(task.SourceOld, "C:\\old");
  EXPECT_FALSE(task.ProcessSubfolders);
  EXPECT_EQ(task.Target, "D:\\Backup");
  EXPECT_EQ(task.FileMsk_Prefix, "pre_");
  EXPECT_EQ(task.FileMsk_ArhDateFormat, "yyyymmdd");
  EXPECT_EQ(task.ArhPeriod_BeginTime, base::EncodeTime(22, 30, 0));
  EXPECT_EQ(task.ArhPeriod_PeriodID, 1);
  EXPECT_EQ(task.ArhPeriod_EveryWeek, 2);
  EXPECT_EQ(task.DayOfWeek, (std::array<bool, 7>{false, true, false, false, false, true, false}));
  EXPECT_EQ(task.ArhPeriod_EveryMonth, 15);
  EXPECT_TRUE(task.DayOfMonth[30]);
  EXPECT_TRUE(task.MonthOfYear[11]);
  EXPECT_FALSE(task.MonthOfYear[0]);
  EXPECT_EQ(task.LastArh, base::EncodeDate(2005, 6, 7) + 0.5);
  EXPECT_EQ(task.NextArh, 0.0) << "a value that is no number is no date";
  EXPECT_TRUE(task.IsActive);
  EXPECT_EQ(task.ArhEndDate, base::EncodeDate(2006, 1, 1));
  EXPECT_EQ(task.Description, std::string(100, 'd')) << "a length byte beyond the field is cut to it";
  EXPECT_EQ(task.AfterRun, "after.exe");
  EXPECT_EQ(task.Deep4, 9);
  EXPECT_EQ(task.WhatDeep4, 2);
  EXPECT_EQ(task.FileMsk4_ArhDateFormat, "fmt4");
  EXPECT_EQ(task.AfterRunParam, "-q");
  EXPECT_EQ(task.AfterRunWindow, 6);
  EXPECT_FALSE(task.ResetArchiveBitOnZip);
  EXPECT_TRUE(task.WasError);
  EXPECT_EQ(task.RepeatMin, 15);
  EXPECT_EQ(task.CompressMetod, 9);
  EXPECT_FALSE(task.UseInnerZip);
  EXPECT_EQ(task.UseExtArh, "7-Zip");
  EXPECT_EQ(task.RunIfNotExistsErrorPromt, "not there");
  EXPECT_TRUE(task.ShowIfAuto);
  EXPECT_FALSE(task.IfArhiveExistSync);
  EXPECT_TRUE(task.StoreFullPathOnCopy) << "fields the old file lacks keep the new-task defaults";
}

TEST_F(LegacyConversionTest, ConvertsRecordsWithTheirListLinesAndRenamesOnlyAtTheEnd) {
  const std::string folder = ProgramFolder();
  LegacyRecord first;
  first.Text(1384, "Caf\xE9")
      .Text(2776, ToLetters(ChainScramble("admin")))
      .Text(6079, ToLetters(MaskScramble("pw")));
  LegacyRecord second;
  second.Text(1384, "second").Byte(1356, 1);
  WriteLegacy(first.Bytes() + second.Bytes());
  WriteFile("program/Zentrove.FM1", "C:\\Data\\*.*\r\n");

  TArhList list(TaskFile());
  ASSERT_TRUE(LegacyConversionNeeded(folder, TaskFile()));
  std::string error;
  ASSERT_TRUE(ConvertLegacyTaskFile(list, folder, NewTaskDefaults{}, &error)) << error;
  EXPECT_FALSE(StartupPass());
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Get(0)->TaskNumber, 1001);
  EXPECT_EQ(list.Get(1)->TaskNumber, 1002);
  EXPECT_EQ(list.Get(0)->Description, "Caf\xC3\xA9");
  EXPECT_EQ(list.Get(0)->UserName, "admin");
  EXPECT_EQ(list.Get(0)->Password, "pw");
  EXPECT_EQ(list.Get(0)->FileSourceMask, "C:\\Data\\*.*");
  EXPECT_EQ(list.Get(1)->FileSourceMask, "");
  EXPECT_EQ(list.Get(1)->FileSourceExcludeMask, "");

  EXPECT_FALSE(std::filesystem::exists(Sandbox() / "program/ArhTasks.dat"));
  EXPECT_EQ(ReadFile(Sandbox() / "program/ArhTasks.bak"), first.Bytes() + second.Bytes());
  EXPECT_FALSE(LegacyConversionNeeded(folder, TaskFile()));
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "The task file v1.7.X was found. It will be converted. Old file will be copied "
                            "to *.bak",
                            "The task file is converted successfully. Please re-start the program"}));
  EXPECT_TRUE(Logged("Convertion V1.7 has started"));
  EXPECT_FALSE(Logged("FM1 is not found"));
  EXPECT_TRUE(Logged("The file of excluded files FM2 is not found. The empty file will be created"));
  EXPECT_TRUE(Logged("The task file is converted successfully"));

  TArhList reloaded(TaskFile());
  ASSERT_TRUE(reloaded.LoadTaskFile(NewTaskDefaults{}));
  ASSERT_EQ(reloaded.Count(), 2);
  EXPECT_EQ(reloaded.Get(0)->UserName, "admin");
  EXPECT_EQ(reloaded.Get(1)->Description, "second");
  EXPECT_TRUE(reloaded.Get(1)->IsActive);
}

TEST_F(LegacyConversionTest, OldFormPasswordsAreClearedWithTheMessage) {
  LegacyRecord record;
  record.Text(2817, "plain secret");
  WriteLegacy(record.Bytes());
  TArhList list(TaskFile());
  ASSERT_TRUE(ConvertLegacyTaskFile(list, ProgramFolder(), NewTaskDefaults{}));
  EXPECT_TRUE(list.Get(0)->UserPassword.empty());
  ASSERT_EQ(Messages().size(), 3u);
  EXPECT_EQ(Messages()[1], OldPasswordFormatMessage(1001));
}

TEST_F(LegacyConversionTest, TruncatedFileFailsAndTouchesNothing) {
  const std::string folder = ProgramFolder();
  const std::string truncated = LegacyRecord().Bytes() + LegacyRecord().Bytes().substr(0, 100);
  WriteLegacy(truncated);
  TArhList list(TaskFile());
  std::string error;
  EXPECT_FALSE(ConvertLegacyTaskFile(list, folder, NewTaskDefaults{}, &error));
  EXPECT_NE(error.find("not a whole number"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(Sandbox() / "program/ArhTasks.dat"), truncated);
  EXPECT_FALSE(std::filesystem::exists(Sandbox() / "program/ArhTasks.bak"));
  EXPECT_FALSE(std::filesystem::exists(TaskFile()));
  EXPECT_FALSE(StartupPass());
  EXPECT_EQ(Messages().back(), "Unable to convert the file. Please add your tasks again");
  EXPECT_TRUE(Logged("Tasks list file is corrupt...Abnormal exit!!!"));
  EXPECT_TRUE(LegacyConversionNeeded(folder, TaskFile())) << "the next start tries again";
}

TEST_F(LegacyConversionTest, FailedWriteLeavesTheLegacyFileInPlace) {
  WriteLegacy(LegacyRecord().Bytes());
  TArhList list(ConfigFolderText() + "missing-folder/ArhTasks.bpd");
  EXPECT_FALSE(ConvertLegacyTaskFile(list, ProgramFolder(), NewTaskDefaults{}));
  EXPECT_TRUE(std::filesystem::exists(Sandbox() / "program/ArhTasks.dat"));
  EXPECT_FALSE(std::filesystem::exists(Sandbox() / "program/ArhTasks.bak"));
  EXPECT_TRUE(Logged("Error occured while attemting to write the task file."));
  EXPECT_EQ(Messages().back(), "Unable to convert the file. Please add your tasks again");
}

}  // namespace
}  // namespace zentrove::core
