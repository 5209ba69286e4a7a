// Feeds the command-line splitter and the environment expansion that task texts pass through.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/environment.h"
#include "platform/process.h"

using namespace zentrove::platform;

namespace {

std::string SingleQuoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // Quoting every word again must give back the same words.
  const auto words = SplitCommandLine(input);
  if (words.Ok()) {
    std::string joined;
    for (const auto& word : *words)
      joined += SingleQuoted(word) + " ";
    const auto again = SplitCommandLine(joined);
    if (!again.Ok() || *again != *words) std::abort();
  }

  const std::string expanded =
      ExpandEnvironment(input, [](const std::string& name) -> std::optional<std::string> {
        if (name.size() <= 2) return std::string("<" + name + ">");
        return std::nullopt;
      });
  if (input.find_first_of("%$") == std::string_view::npos && expanded != input) std::abort();
  return 0;
}
