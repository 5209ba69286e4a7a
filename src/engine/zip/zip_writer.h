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

#include <string>
#include <vector>

#include "engine/zip/zip_types.h"

namespace zentrove::engine::zip {

class ZipWriter {
 public:
  ZipWriter(ZipSettings settings, ZipHooks hooks);

  // Creates or updates zipName. When nothing is to be added the archive is left untouched (and
  // none is created); the result is then Ok with no files added.
  [[nodiscard]] ZipResult Write(const std::string& zipName, const std::vector<ZipSource>& sources);

 private:
  ZipSettings settings_;
  ZipHooks hooks_;
};

}  // namespace zentrove::engine::zip
