// Reads arbitrary bytes as legacy task records (padded with zeros to a whole record) and checks that
// every text comes out as valid UTF-8 within its limit.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "core/legacy_task_file.h"
#include "core/task_file_format.h"

namespace {

using namespace zentrove::core;

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string record(bytes.substr(0, kLegacyRecordSize));
  record.resize(kLegacyRecordSize, '\0');
  auto task = NewTaskRecord();
  ReadLegacyRecord(reinterpret_cast<const unsigned char*>(record.data()), *task);
  for (const TaskKeyInfo& key : TaskKeys()) {
    if (key.form != ValueForm::Text && key.form != ValueForm::ScrambledText) continue;
    std::string value;
    std::string error;
    Require(GetTaskField(*task, key.name, value, error));
    Require(zentrove::base::IsValidUtf8(value));
    Require(key.limit == 0 || zentrove::base::CharCount(value) <= key.limit);
  }
  (void)FormatTaskSection(*task, SectionStamp{});

  std::vector<std::unique_ptr<TArhRecord>> tasks;
  std::string error;
  const bool parsed = ParseLegacyTaskFile(bytes, NewTaskDefaults{}, tasks, error);
  Require(parsed == (size % kLegacyRecordSize == 0));
  Require(tasks.size() == (parsed ? size / kLegacyRecordSize : 0));
  return 0;
}
