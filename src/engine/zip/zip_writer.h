#pragma once

// Writing and updating ZIP archives (PKWARE APPNOTE): deflate or stored entries, folder entries,
// UTF-8 or OEM names, traditional PKWARE or WinZip AES encryption, Zip64 beyond the 32-bit limits.
//
// The caller has chosen the files; the writer puts them into the archive in list order. Entries are
// compressed on several threads with memory bounded whatever the file sizes. An archive that
// exists is updated by the settings' ZipAction: its other entries are copied unchanged (neither
// recompressed nor re-encrypted) and stay in front of the new ones. The new archive is always
// written to a scratch file beside the old one and renamed over it only when it is complete and on
// disk, with the old file's mode; on a failure or a stop the old archive stays as it was.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/zip/zip_types.h"

namespace zentrove::engine::zip {

struct HeadStart;

class ZipWriter {
 public:
  ZipWriter(ZipSettings settings, ZipHooks hooks);
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // While the caller is still listing the sources of a new archive, starts reading and compressing
  // a file (of `size` bytes as listed) that it will pass to Write, so that the processors need not
  // wait for the end of the listing. The head start is bounded in files and bytes; what does not fit
  // is simply left for Write, and what Write is not given, or cannot use (an archive that exists
  // already), is dropped.
  void StartEarly(const std::string& path, uint64_t size);

  // Creates or updates zipName. When nothing is to be added the archive is left untouched (and
  // none is created); the result is then Ok with no files added.
  [[nodiscard]] ZipResult Write(const std::string& zipName, const std::vector<ZipSource>& sources);

 private:
  ZipSettings settings_;
  ZipHooks hooks_;
  std::atomic<bool> cancel_{false};
  std::unique_ptr<HeadStart> headStart_;
};

}  // namespace zentrove::engine::zip
