// Reads arbitrary bytes as an INI profile, writes one key into it, and checks that what the writer
// produces reads back the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/ini_file.h"

namespace {

using zentrove::core::IniFile;

void Require(bool condition) {
  if (!condition) std::abort();
}

// Every section and key of `a` reads the same in `b`.
void RequireSameReading(const IniFile& a, const IniFile& b) {
  Require(a.SectionNames() == b.SectionNames());
  for (const std::string& section : a.SectionNames()) {
    for (const std::string& key : a.KeyNames(section))
      Require(a.Find(section, key) == b.Find(section, key));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniFile file("/nonexistent/fuzz.ini");
  file.LoadText(text);

  IniFile again("/nonexistent/fuzz.ini");
  again.LoadText(file.Text());
  RequireSameReading(file, again);
  Require(again.Text() == file.Text());

  // The first bytes serve as a value to write, line breaks and all.
  const std::string value(text.substr(0, 80));
  const std::vector<std::string> names = file.SectionNames();
  const std::string section = names.empty() || names.front().empty() ? "fuzz" : names.front();
  file.WriteString(section, "FuzzKey", value);
  IniFile written("/nonexistent/fuzz.ini");
  written.LoadText(file.Text());
  std::string expected = value;
  for (char& c : expected) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  Require(written.Find(section, "fuzzkey") == expected);
  RequireSameReading(file, written);

  file.EraseSection(section);
  Require(!file.SectionExists(section));
  return 0;
}
