#include "core/task_grid.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "base/regional_format.h"

namespace zentrove::core {
namespace {

class TaskGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Day before month, so that dates as texts do not sort as dates.
    base::RegionalFormats formats = base::CLocaleRegionalFormats();
    formats.dateOrder = "DMY";
    formats.shortDatePattern = "%d.%m.%Y";
    base::SetRegionalFormats(formats);
  }
  void TearDown() override { base::SetRegionalFormats(base::CLocaleRegionalFormats()); }

  static std::unique_ptr<TArhRecord> Task(int number) {
    auto task = NewTaskRecord();
    task->TaskNumber = number;
    return task;
  }
};

TEST_F(TaskGridTest, CellTextsFollowTheTaskState) {
  auto task = Task(1001);
  task->DeleteWhenArhivMoreThan = 7;
  task->LastArh = base::EncodeDate(2024, 3, 5) + base::EncodeTime(14, 7, 9);
  task->Target = "/backup/";
  task->FileMsk_Prefix = "Work";
  task->FileMsk_ArhDateFormat = "YYYYMMDD";
  GridTextSources sources;
  sources.ArchiveDateText = [](std::string_view format) { return "<" + std::string(format) + ">"; };

  EXPECT_EQ(GetCellText(kNumberColumn, *task, sources), "1001");
  EXPECT_EQ(GetCellText(kDepthColumn, *task, sources), "7");
  EXPECT_EQ(GetCellText(kLastStartColumn, *task, sources), "05.03.2024 14:07:09");
  EXPECT_EQ(GetCellText(kNextStartColumn, *task, sources), "") << "no schedule text, no next run";
  EXPECT_EQ(GetCellText(kArchiveColumn, *task, sources), "/backup/Work<YYYYMMDD>");
  for (int column : {kStatusColumn, kExtraFoldersColumn, kFillerColumn, 11, -1})
    EXPECT_EQ(GetCellText(column, *task, sources), "") << column;

  task->ArchiveOrCopy = 2;
  task->HostTxt = "ftp.example.org\\";
  task->DirTxt = "  backups/daily\\ ";
  task->FileMsk5_Prefix = "F";
  task->FileMsk5_ArhDateFormat = "DD";
  EXPECT_EQ(GetCellText(kArchiveColumn, *task, sources), "ftp://ftp.example.org/backups/daily/F<DD>");

  // Progress shows only while the task runs.
  task->PercentDone = 42;
  EXPECT_EQ(GetCellText(kProgressColumn, *task, sources), "");
  task->IsStarted = true;
  EXPECT_EQ(GetCellText(kProgressColumn, *task, sources), "42%");
}

TEST_F(TaskGridTest, DatesSortByTimeTextsAsTextsAndSupReverses) {
  // 04.12.2023 sorts before 05.03.2024 as a date but after it as a text.
  auto march = Task(1001);
  march->NextArh = base::EncodeDate(2024, 3, 5) + base::EncodeTime(8, 0, 0);
  auto december = Task(1002);
  december->NextArh = base::EncodeDate(2023, 12, 4) + base::EncodeTime(23, 0, 0);
  auto atStartup = Task(999);
  atStartup->IsActive = true;
  atStartup->ArhPeriod_PeriodID = 4;
  GridTextSources sources;
  sources.NextStartText = [](const TArhRecord& task) {
    return task.NextArh != 0.0 ? "as the schedule shows it" : std::string("at startup");
  };
  const CompareRowsFunction compare = MakeCompareRows(sources);

  EXPECT_EQ(compare(*december, *march, kNextStartColumn, false), -1);
  EXPECT_EQ(compare(*march, *december, kNextStartColumn, false), 1);
  EXPECT_EQ(compare(*december, *march, kNextStartColumn, true), 1) << "sup negates";
  EXPECT_EQ(compare(*march, *march, kNextStartColumn, true), 0);
  EXPECT_EQ(compare(*march, *atStartup, kNextStartColumn, false), -1) << "digits come before letters";

  march->LastArh = march->NextArh;
  december->LastArh = december->NextArh;
  EXPECT_EQ(compare(*december, *march, kLastStartColumn, false), -1);
  EXPECT_EQ(compare(*atStartup, *december, kLastStartColumn, false), -1) << "an empty cell comes first";

  // Numbers compare as texts.
  EXPECT_EQ(compare(*march, *atStartup, kNumberColumn, false), -1) << "\"1001\" before \"999\"";
  EXPECT_EQ(compare(*march, *atStartup, kNumberColumn, true), 1);
}

TEST_F(TaskGridTest, TextsCompareByUtf16CodeUnits) {
  auto a = Task(1001);
  auto b = Task(1002);
  a->Description = "B";
  b->Description = "a";
  EXPECT_EQ(CompareRows(*a, *b, kCommentColumn, false, {}), -1) << "case matters";
  // U+1F600 is a surrogate pair in UTF-16, so it sorts before U+FF21 though its code point is larger.
  a->Description = "\xF0\x9F\x98\x80";
  b->Description = "\xEF\xBC\xA1";
  EXPECT_EQ(CompareRows(*a, *b, kCommentColumn, false, {}), -1);
}

}  // namespace
}  // namespace zentrove::core
