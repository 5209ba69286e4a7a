#pragma once

// Extracting a ZIP archive into a folder, for restores. Names and attributes come from an archive
// that may be hostile: no entry is written outside the target folder, nothing is written through a
// symbolic link, and an existing file is replaced only when the caller allows it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/zip/zip_reader.h"
#include "platform/result.h"

namespace zentrove::engine::zip {

// The path below the target folder that an entry name is written to ("/"-separated, "." parts
// and doubled separators dropped, no trailing "/"); nullopt when the name would leave the folder
// (an absolute name, a ".." part, a NUL byte) or names nothing.
std::optional<std::string> SafeRelativePath(std::string_view name);

enum class ExistingFiles { Keep, Overwrite };

// Makes `path` a symbolic link to `target`, replacing a file or link there only with Overwrite (else
// failing with EEXIST).
[[nodiscard]] platform::Status PlaceSymlink(const std::string& target, const std::string& path,
                                            ExistingFiles existing);

struct ExtractRequest {
  std::string Folder;  // the target folder; created when missing
  std::string Password;
  ExistingFiles Existing = ExistingFiles::Keep;
  // Which entries to extract, by their decoded name; all when empty.
  std::function<bool(const std::string& name)> Select;
  const std::atomic<bool>* CancelFlag = nullptr;
};

enum class ExtractStatus { Restored, Kept, Refused, Failed };

struct ExtractedEntry {
  std::string Name;  // the decoded entry name
  ExtractStatus Status = ExtractStatus::Failed;
  std::string Message;  // why it was kept, refused or failed
  std::uint64_t Size = 0;
};

struct ExtractReport {
  std::vector<ExtractedEntry> Entries;  // the selected entries, in archive order
  bool Cancelled = false;
  std::size_t Count(ExtractStatus status) const;
  std::uint64_t RestoredBytes() const;
  // Every selected entry restored (or, for folders, present).
  bool Ok() const;
};

// Extracts the selected entries: folders, files with their times and, when the archive was made on
// Unix, their permission bits and symbolic links. Files appear under their final names only when
// complete and verified (size, CRC-32, AES authentication).
ExtractReport ExtractArchive(const ZipReader& reader, const ExtractRequest& request);

}  // namespace zentrove::engine::zip
