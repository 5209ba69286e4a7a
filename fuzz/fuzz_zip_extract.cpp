// Extracts bytes taken as a ZIP archive into a folder and checks that nothing appeared beside it.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/zip/zip_extract.h"
#include "engine/zip/zip_reader.h"

namespace {

const std::filesystem::path& Sandbox() {
  static const std::filesystem::path sandbox = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "zentrove-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return std::filesystem::path(pattern);
  }();
  return sandbox;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zentrove::engine::zip;
  ZipError error;
  auto reader = ZipReader::OpenMemory(data, size, error);
  if (!reader || reader->Entries().size() > 64) return 0;
  const std::filesystem::path target = Sandbox() / "target";
  std::error_code ignored;
  std::filesystem::remove_all(target, ignored);
  std::filesystem::create_directory(target, ignored);
  ExtractRequest request;
  request.Folder = target.string();
  request.Password = "fuzz";
  request.Existing = ExistingFiles::Overwrite;
  [[maybe_unused]] const ExtractReport report = ExtractArchive(*reader, request);
  // The target folder is the only thing the sandbox may hold.
  for (const auto& entry : std::filesystem::directory_iterator(Sandbox())) {
    if (entry.path() != target) std::abort();
  }
  return 0;
}
