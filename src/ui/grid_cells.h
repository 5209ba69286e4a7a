#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/task_grid.h"
#include "core/task_record.h"

// The task grid's pictures, colours and widths in plain C++, beside the cell texts and the row
// comparison of core/task_grid.h. The Qt model and delegate only draw what these functions decide.
namespace zentrove::ui {

using core::kArchiveColumn;
using core::kCommentColumn;
using core::kDepthColumn;
using core::kExtraFoldersColumn;
using core::kFillerColumn;
using core::kGridColumnCount;
using core::kLastStartColumn;
using core::kNextStartColumn;
using core::kNumberColumn;
using core::kProgressColumn;
using core::kSourceColumn;
using core::kStatusColumn;

// The width of a column before any stored width is applied.
int DesignColumnWidth(int column);
// Only these columns sort.
bool IsSortColumn(int column);

enum class TaskPicture {
  Edited,
  Paused,
  RunningInnerZip,
  Running,
  Inactive,
  ProgramsOnly,
  ArchiveInnerZip,
  ArchiveExternal,
  Copy,
  Ftp,
  ExtraFolder,
  NoExtraFolder,
};

// Column 0: the first rule that applies.
TaskPicture StatusPicture(const core::TArhRecord& task);
// Column 9: the extra folders 2 to 4 and the FTP destination.
std::array<TaskPicture, 4> FolderPictures(const core::TArhRecord& task);
// Column 4 shows the inactive picture before its text when the sources are deleted after packing.
bool SourceHasPicture(const core::TArhRecord& task);

// Text colours as colour values with red in the lowest byte.
inline constexpr int kBlack = 0x000000;
inline constexpr int kRed = 0x0000FF;
inline constexpr int kGreen = 0x008000;
inline constexpr int kBlue = 0xFF0000;
int CellTextColour(int column, const core::TArhRecord& task);
bool CellTextBold(int column);

}  // namespace zentrove::ui
