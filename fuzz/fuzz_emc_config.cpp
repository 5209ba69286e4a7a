// Feeds the archiver configuration reader and the parameter template. The first line of the input
// is a value (a path, a password) that the template inserts, the rest is the configuration file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/external_archiver.h"
#include "platform/process.h"

using namespace zentrove::engine;

namespace {

ArchiverTemplateValues ValuesWith(const std::string& value) {
  ArchiverTemplateValues values;
  values.tempPath = value;
  values.password = value;
  values.passwordFilePath = "/run/" + value;
  values.zipName = "/b/" + value;
  values.includeListPath = value + ".IFM";
  values.excludeListPath = value + ".EFM";
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  std::string value(newline == std::string_view::npos ? std::string_view() : input.substr(0, newline));
  if (value.empty()) value = "x";
  const std::string_view text = newline == std::string_view::npos ? input : input.substr(newline + 1);

  const TExtArhInfo config = ParseArchiverConfig(text);
  for (const ZipAction action : {ZipAction::Update, ZipAction::Replace, ZipAction::Freshen}) {
    ArchiverTemplateValues values = ValuesWith(value);
    values.action = action;
    ArchiverTemplateValues plain = ValuesWith("x");
    plain.action = action;
    const ArchiverParameters filled = FillArchiverTemplate(config, values);
    const ArchiverParameters reference = FillArchiverTemplate(config, plain);

    // Whatever an inserted value holds, it never changes how the line splits into words.
    const auto words = zentrove::platform::SplitCommandLine(config.Command + " " + filled.text);
    const auto referenceWords = zentrove::platform::SplitCommandLine(config.Command + " " + reference.text);
    if (words.Ok() != referenceWords.Ok()) std::abort();
    if (words.Ok() && words->size() != referenceWords->size()) std::abort();
    const auto shown = zentrove::platform::SplitCommandLine(config.Command + " " + filled.shown);
    if (shown.Ok() != words.Ok() || (shown.Ok() && shown->size() != words->size())) std::abort();
  }
  (void)ListFileText({std::string(text)}, config.ListCodePage);
  return 0;
}
