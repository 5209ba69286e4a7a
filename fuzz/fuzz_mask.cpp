// Feeds the mask rule and the path helpers built on it. The input is a mask, a NUL byte and a path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "engine/source_selection.h"

using namespace zentrove::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view mask = input.substr(0, split);
  const std::string_view text =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  const bool matched = MatchesMask(mask, text);
  if (mask.find_first_of("*?[") == std::string_view::npos &&
      matched != zentrove::base::EqualsNoCase(mask, text)) {
    std::abort();
  }
  if (!MatchesMask("*", text)) std::abort();
  if (matched && !MatchesMask(std::string(mask) + "*", text)) std::abort();
  (void)MatchesMask(AllFilesMaskToStar(mask), text);

  const std::string base = MaskBaseFolder(mask);
  if (!base.empty() && base.back() != '/') std::abort();
  (void)ListItemCount(mask);
  (void)SplitList(mask);

  // A stored path must stay inside the folder it is extracted into.
  const std::vector<std::string> sources{std::string(mask)};
  for (const auto rule : {StoredPathRule::RelativeToSources, StoredPathRule::FullPathWithoutRoot}) {
    const std::string stored = StoredFolder(text, sources, rule);
    if (!stored.empty() && (stored.front() == '/' || stored.back() != '/')) std::abort();
    if (stored == "../" || stored.find("/../") != std::string::npos || stored.rfind("../", 0) == 0)
      std::abort();
  }
  return 0;
}
