#include "ui/grid_cells.h"

#include <gtest/gtest.h>

namespace zentrove::ui {
namespace {

using core::TArhRecord;

class GridCellsTest : public ::testing::Test {};

TEST_F(GridCellsTest, PicturesTakeTheFirstRuleThatApplies) {
  TArhRecord task;
  task.IsActive = true;
  EXPECT_EQ(StatusPicture(task), TaskPicture::ArchiveInnerZip);
  task.ExecuteZip = false;
  EXPECT_EQ(StatusPicture(task), TaskPicture::ProgramsOnly);
  task.IsActive = false;
  EXPECT_EQ(StatusPicture(task), TaskPicture::Inactive);
  task.IsStarted = true;
  task.PauseTask = true;
  EXPECT_EQ(StatusPicture(task), TaskPicture::Paused);
  task.IsEdited = true;
  EXPECT_EQ(StatusPicture(task), TaskPicture::Edited);

  TArhRecord extra;
  extra.Target3 = "/x";
  extra.CopyToFtp = true;
  EXPECT_EQ(FolderPictures(extra),
            (std::array<TaskPicture, 4>{TaskPicture::NoExtraFolder, TaskPicture::ExtraFolder,
                                        TaskPicture::NoExtraFolder, TaskPicture::Ftp}));
  extra.ArchiveOrCopy = 2;
  EXPECT_EQ(FolderPictures(extra)[1], TaskPicture::NoExtraFolder);
  EXPECT_EQ(FolderPictures(extra)[3], TaskPicture::NoExtraFolder);
}

TEST_F(GridCellsTest, NextStartColourTellsTheKindOfAnEmptyDate) {
  TArhRecord task;
  task.NextArh = 1;
  EXPECT_EQ(CellTextColour(kNextStartColumn, task), kRed);
  task.NextArh = 0;
  task.ArhPeriod_PeriodID = 4;
  EXPECT_EQ(CellTextColour(kNextStartColumn, task), kBlue);
  task.ArhPeriod_PeriodID = 6;
  EXPECT_EQ(CellTextColour(kNextStartColumn, task), kGreen);
  EXPECT_EQ(CellTextColour(kCommentColumn, task), kBlack);
  EXPECT_EQ(CellTextColour(kProgressColumn, task), kBlue);
  EXPECT_TRUE(CellTextBold(kProgressColumn));
}

}  // namespace
}  // namespace zentrove::ui
