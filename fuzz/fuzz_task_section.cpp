// Reads the sections of arbitrary INI text as tasks, writes each task back and checks that reading
// the written section gives the same task.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/ini_file.h"
#include "core/task_file_format.h"

namespace {

using namespace zentrove::core;

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniFile file("/nonexistent/ArhTasks.bpd");
  file.LoadText(text);
  const SectionStamp stamp{1, 0};
  int sections = 0;
  for (const std::string& section : file.SectionNames()) {
    if (++sections > 4) break;
    for (const DateFieldOrder order : {DateFieldOrder::DayMonthYear, DateFieldOrder::MonthDayYear}) {
      SectionReadResult first = ReadTaskSection(file, section, NewTaskDefaults{}, order);
      first.task->TaskNumber = 1001;
      IniFile written("/nonexistent/ArhTasks.bpd");
      WriteTaskSection(written, *first.task, stamp);
      // The writer turns a NUL into a blank, which the comparison below would count as a change.
      if (text.find('\0') != std::string_view::npos) continue;
      SectionReadResult second =
          ReadTaskSection(written, "1001", NewTaskDefaults{}, DateFieldOrder::YearMonthDay);
      Require(!second.passwordsCleared);
      second.task->TaskNumber = 1001;
      Require(FormatTaskSection(*first.task, stamp) == FormatTaskSection(*second.task, stamp));
    }
  }
  return 0;
}
