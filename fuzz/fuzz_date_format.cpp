// Feeds archive date formats and macro texts, which users type freely.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/datetime.h"
#include "base/regional_format.h"
#include "engine/archive_naming.h"

using namespace zentrove;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  static const base::RegionalFormats formats = base::CLocaleRegionalFormats();
  const base::TDateTime moments[] = {base::EncodeDate(2024, 3, 5) + base::EncodeTime(14, 7, 9, 123),
                                     base::EncodeDate(2021, 1, 1), base::EncodeDate(1, 1, 1),
                                     base::EncodeDate(9999, 12, 31) + base::EncodeTime(23, 59, 59, 999)};
  for (const base::TDateTime moment : moments)
    (void)engine::FormatArchiveDate(input, moment, formats);
  (void)engine::ArchivePath("/backup", input, input, ".zip");
  engine::MacroValues values;
  values.zipName = "/backup/[Num].zip";
  values.taskNumber = 1004;
  (void)engine::ApplyMacros(input, values);
  return 0;
}
