#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/task_list.h"
#include "core/task_record.h"

namespace zentrove::core {

// The main window's task grid as text: the columns, what each cell says and the order of rows that
// the grid's sorting gives. Pictures and colours are the front end's; a cell that holds only a
// picture has an empty text.
inline constexpr int kStatusColumn = 0;
inline constexpr int kProgressColumn = 1;
inline constexpr int kNumberColumn = 2;
inline constexpr int kCommentColumn = 3;
inline constexpr int kSourceColumn = 4;
inline constexpr int kArchiveColumn = 5;
inline constexpr int kLastStartColumn = 6;
inline constexpr int kNextStartColumn = 7;
inline constexpr int kDepthColumn = 8;
inline constexpr int kExtraFoldersColumn = 9;
inline constexpr int kFillerColumn = 10;
inline constexpr int kGridColumnCount = 11;

// The parts of cell texts that layers above the task list work out. Either may be empty: the next
// start then shows only a date, the archive cell no date.
struct GridTextSources {
  // The "Next start" text of the schedule.
  std::function<std::string(const TArhRecord& task)> NextStartText;
  // The current time formatted with an archive name's date format.
  std::function<std::string(std::string_view format)> ArchiveDateText;
};

// The header caption of a column; empty outside the grid.
std::string_view ColumnHeader(int column);

// The text of a task's cell; empty outside the grid.
std::string GetCellText(int column, const TArhRecord& task, const GridTextSources& sources);

// Orders two tasks by a column's texts, -1, 0 or 1, negated when `sup` is set. Dates compare by
// year, month, day and time whatever the regional format; every other text by its UTF-16 code units,
// so numbers compare as texts ("1000" before "999").
int CompareRows(const TArhRecord& a, const TArhRecord& b, int column, bool sup,
                const GridTextSources& sources);
CompareRowsFunction MakeCompareRows(GridTextSources sources);

}  // namespace zentrove::core
