// Opens bytes as a ZIP archive, lists it and tests its entries with a fixed password.

#include <cstddef>
#include <cstdint>

#include "engine/zip/zip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zentrove::engine::zip;
  ZipError error;
  auto reader = ZipReader::OpenMemory(data, size, error);
  if (!reader) return 0;
  // Each AES entry costs a key derivation; a bound keeps a single input from timing out.
  constexpr std::size_t kMaxEntries = 256;
  for (std::size_t i = 0; i < reader->Entries().size() && i < kMaxEntries; ++i) {
    EntryLocation location;
    [[maybe_unused]] const ZipError located = reader->Locate(i, location);
    [[maybe_unused]] const ZipError tested = reader->Test(i, "fuzz");
    [[maybe_unused]] const bool folder = reader->Entries()[i].IsFolder();
  }
  return 0;
}
