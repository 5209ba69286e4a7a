// Feeds the LIST and MLSD parsers; the first byte chooses the form.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "transfer/ftp_parse.h"

using namespace zentrove::transfer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool mlsd = (data[0] & 1) != 0;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  const zentrove::base::TDateTime now = zentrove::base::EncodeDate(2024, 3, 5);
  std::size_t unparsed = 0;
  const std::vector<RemoteEntry> entries = ParseListing(input, mlsd, now, &unparsed);
  // Every line is an entry, a line left aside, or counted as unreadable.
  if (entries.size() + unparsed > static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n')) + 1)
    std::abort();
  for (const RemoteEntry& entry : entries) {
    // A name never spans lines and is never the folder itself or its parent.
    if (entry.name.empty() || entry.name == "." || entry.name == "..") std::abort();
    if (entry.name.find('\n') != std::string::npos) std::abort();
  }
  (void)ParseMdtmTime(input);
  return 0;
}
