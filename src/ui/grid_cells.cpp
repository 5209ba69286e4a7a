#include "ui/grid_cells.h"

#include <array>

namespace zentrove::ui {
namespace {

using core::TArhRecord;

constexpr std::array<int, kGridColumnCount> kWidths = {21, 60, 35, 81, 85, 82, 110, 130, 72, 103, 9};
constexpr int kFtpMode = 2;

}  // namespace

int DesignColumnWidth(int column) {
  return column >= 0 && column < kGridColumnCount ? kWidths[static_cast<std::size_t>(column)] : 0;
}

bool IsSortColumn(int column) {
  return column >= kNumberColumn && column <= kDepthColumn;
}

TaskPicture StatusPicture(const TArhRecord& task) {
  if (task.IsEdited) return TaskPicture::Edited;
  if (task.IsStarted) {
    if (task.PauseTask) return TaskPicture::Paused;
    return task.UseInnerZip ? TaskPicture::RunningInnerZip : TaskPicture::Running;
  }
  if (!task.IsActive) return TaskPicture::Inactive;
  if (!task.ExecuteZip) return TaskPicture::ProgramsOnly;
  switch (task.ArchiveOrCopy) {
    case 1:
      return TaskPicture::Copy;
    case kFtpMode:
      return TaskPicture::Ftp;
    default:
      return task.UseInnerZip ? TaskPicture::ArchiveInnerZip : TaskPicture::ArchiveExternal;
  }
}

std::array<TaskPicture, 4> FolderPictures(const TArhRecord& task) {
  const bool ftpMode = task.ArchiveOrCopy == kFtpMode;
  const auto extra = [ftpMode](const std::string& folder) {
    return !folder.empty() && !ftpMode ? TaskPicture::ExtraFolder : TaskPicture::NoExtraFolder;
  };
  return {extra(task.Target2), extra(task.Target3), extra(task.Target4),
          task.CopyToFtp && !ftpMode ? TaskPicture::Ftp : TaskPicture::NoExtraFolder};
}

bool SourceHasPicture(const TArhRecord& task) {
  return task.DeleteFileAfterZip;
}

int CellTextColour(int column, const TArhRecord& task) {
  if (column == kProgressColumn) return kBlue;
  if (column != kNextStartColumn) return kBlack;
  if (task.NextArh == 0.0) {
    const int kind = task.ArhPeriod_PeriodID;
    if (kind == 4 || kind == 5) return kBlue;
    if (kind == 6) return kGreen;
  }
  return kRed;
}

bool CellTextBold(int column) {
  return column == kProgressColumn;
}

}  // namespace zentrove::ui
