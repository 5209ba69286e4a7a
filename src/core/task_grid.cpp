#include "core/task_grid.h"

#include <array>
#include <cstdint>
#include <utility>

#include "base/regional_format.h"
#include "base/text.h"
#include "platform/files.h"

namespace zentrove::core {
namespace {

constexpr std::array<std::string_view, kGridColumnCount> kHeaders = {
    "",           "   %",       "Number", "Comment",      "Source", "Archive",
    "Last start", "Next start", "Depth",  "Add. folders", ""};

std::string DateTimeText(base::TDateTime value) {
  if (value == 0.0) return {};
  return base::FormatShortDate(value) + " " + base::FormatLongTime(value);
}

// A remote name with its trailing separators taken off; FTP names take "\" and "/" alike.
std::string WithoutTrailingSeparators(std::string_view name) {
  while (!name.empty() && (name.back() == '\\' || name.back() == '/'))
    name.remove_suffix(1);
  return std::string(name);
}

std::string ArchiveText(const TArhRecord& task, const GridTextSources& sources) {
  const auto dateText = [&sources](const std::string& format) {
    return sources.ArchiveDateText ? sources.ArchiveDateText(format) : std::string();
  };
  if (task.ArchiveOrCopy == 2) {
    return "ftp://" + WithoutTrailingSeparators(task.HostTxt) + "/" +
           WithoutTrailingSeparators(base::TrimBlanks(task.DirTxt)) + "/" + task.FileMsk5_Prefix +
           dateText(task.FileMsk5_ArhDateFormat);
  }
  std::string folder = platform::WithoutTrailingSlash(task.Target);
  if (!base::EndsWith(folder, "/")) folder += '/';
  return folder + task.FileMsk_Prefix + dateText(task.FileMsk_ArhDateFormat);
}

// A date cell as it sorts: "yyyy.mm.dd hh:nn:ss", from the value the cell shows.
std::string SortableDateText(base::TDateTime value) {
  return base::FormatPattern("%Y.%m.%d %H:%M:%S", value, *base::CurrentRegionalFormats());
}

std::string SortText(int column, const TArhRecord& task, const GridTextSources& sources) {
  if (column == kLastStartColumn && task.LastArh != 0.0) return SortableDateText(task.LastArh);
  if (column == kNextStartColumn && task.NextArh != 0.0) return SortableDateText(task.NextArh);
  return GetCellText(column, task, sources);
}

// The next code point of UTF-8 text, weighted so that code points compare as their UTF-16 code units
// do: above U+FFFF a character is a surrogate pair (0xD800 to 0xDFFF), which sorts before U+E000 to
// U+FFFF. A byte that starts no valid sequence stands for itself.
std::uint32_t NextUtf16Weight(std::string_view text, std::size_t& at) {
  const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  std::size_t length = lead < 0x80           ? 1
                       : (lead >> 5) == 0x6  ? 2
                       : (lead >> 4) == 0xE  ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 0;
  if (length == 0 || at + length > text.size()) length = 1;
  std::uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      length = 1;
      codePoint = lead;
      break;
    }
    codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
  }
  at += length;
  if (codePoint >= 0xE000 && codePoint <= 0xFFFF) return codePoint + 0x200000;
  return codePoint;
}

int CompareUtf16(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const std::uint32_t x = NextUtf16Weight(a, i);
    const std::uint32_t y = NextUtf16Weight(b, j);
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

std::string_view ColumnHeader(int column) {
  return column >= 0 && column < kGridColumnCount ? kHeaders[static_cast<std::size_t>(column)]
                                                  : std::string_view();
}

std::string GetCellText(int column, const TArhRecord& task, const GridTextSources& sources) {
  switch (column) {
    case kProgressColumn:
      return task.IsStarted ? ProgressText(task) : std::string();
    case kNumberColumn:
      return std::to_string(task.TaskNumber);
    case kCommentColumn:
      return task.Description;
    case kSourceColumn:
      return task.FileSourceMask;
    case kArchiveColumn:
      return ArchiveText(task, sources);
    case kLastStartColumn:
      return DateTimeText(task.LastArh);
    case kNextStartColumn:
      return sources.NextStartText ? sources.NextStartText(task) : DateTimeText(task.NextArh);
    case kDepthColumn:
      return std::to_string(task.DeleteWhenArhivMoreThan);
    default:
      return {};
  }
}

int CompareRows(const TArhRecord& a, const TArhRecord& b, int column, bool sup,
                const GridTextSources& sources) {
  const int result = CompareUtf16(SortText(column, a, sources), SortText(column, b, sources));
  return sup ? -result : result;
}

CompareRowsFunction MakeCompareRows(GridTextSources sources) {
  return [sources = std::move(sources)](const TArhRecord& a, const TArhRecord& b, int column, bool sup) {
    return CompareRows(a, b, column, sup, sources);
  };
}

}  // namespace zentrove::core
