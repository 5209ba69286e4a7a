#include "core/task_record.h"

#include <gtest/gtest.h>

#include "base/datetime.h"
#include "base/text.h"

namespace zentrove::core {
namespace {

TEST(TaskRecord, NewTaskTakesDefaultsFromTheOptions) {
  NewTaskDefaults options;
  options.CompressionMethod = 9;
  options.ZipPriority = 1;
  options.PSDefaultAction = kPsSkipLocked;
  auto task = NewTaskRecord(options);
  EXPECT_EQ(task->TaskNumber, 0);
  EXPECT_FALSE(task->IsActive);
  EXPECT_FALSE(task->fnAttributes);
  EXPECT_TRUE(task->fnCreation);
  EXPECT_EQ(task->StopCPUPercent, 100);
  EXPECT_FALSE(task->ShowIfAuto);
  EXPECT_EQ(task->CompressMetod, 9);
  EXPECT_EQ(task->ZipPriority, 1);
  EXPECT_EQ(task->PSDefaultAction, kPsSkipLocked);
  EXPECT_TRUE(task->DialOk);
  EXPECT_EQ(task->PortTxt, "21");
  EXPECT_EQ(task->UserTxt, "anonymous");
  EXPECT_FALSE(task->HostTxt.empty());
}

TEST(TaskRecord, CopySharesNothingAndCutsTexts) {
  auto source = NewTaskRecord();
  source->Description = std::string(150, 'x');
  source->StatusText2 = "sending";
  source->UserName = std::string(45, u8"ä"[0]) + "abc";
  TArhRecord copy;
  CopyTaskRecord(*source, copy);
  EXPECT_EQ(copy.Description.size(), 100u);
  EXPECT_EQ(copy.StatusText2.get(), "sending");
  source->StatusText2 = "changed";
  EXPECT_EQ(copy.StatusText2.get(), "sending");
  EXPECT_LE(base::CharCount(copy.UserName), 40u);
}

TEST(TaskRecord, ProgressShowsStatusTextsThenPercentOrElapsedTime) {
  TArhRecord task;
  task.PercentDone = 42;
  EXPECT_EQ(ProgressText(task), "42%");
  task.UseInnerZip = false;
  task.PercentDone = 3725;
  EXPECT_EQ(ProgressText(task), "01:02:05");
  task.StatusText3 = "TimeOut: 5 sec";
  EXPECT_EQ(ProgressText(task), "TimeOut: 5 sec");
  task.StatusText1 = "Upload 10%";
  EXPECT_EQ(ProgressText(task), "Upload 10%");
}

TEST(Text, CutNeverSplitsUtf8AndKeepsStrayBytes) {
  std::string text =
      "a\xC3\xA4\xE2\x82\xAC\xFF"
      "b";
  EXPECT_EQ(base::CharCount(text), 5u);
  EXPECT_EQ(base::CutCopy(text, 3), "a\xC3\xA4\xE2\x82\xAC");
  EXPECT_EQ(base::CutCopy(text, 4), "a\xC3\xA4\xE2\x82\xAC\xFF");
  EXPECT_EQ(base::CutCopy(text, 0), text);
}

TEST(DateTime, DayCountMatchesTheCalendar) {
  EXPECT_EQ(base::EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(base::EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(base::EncodeDate(2012, 3, 5), 40973.0);
  EXPECT_EQ(base::EncodeDate(2023, 2, 29), 0.0);
  const base::DateParts leap = base::DecodeDate(base::EncodeDate(2024, 2, 29) + base::EncodeTime(23, 59, 59));
  EXPECT_EQ(leap.year, 2024);
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
  EXPECT_EQ(base::DayOfWeekIndex(base::EncodeDate(2012, 3, 5)), 1);  // a Monday
  const base::TimeParts t = base::DecodeTime(base::EncodeDate(2012, 3, 5) + base::EncodeTime(14, 7, 9));
  EXPECT_EQ(t.hour, 14);
  EXPECT_EQ(t.minute, 7);
  EXPECT_EQ(t.second, 9);
}

}  // namespace
}  // namespace zentrove::core
