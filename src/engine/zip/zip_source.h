#pragma once

// Opening the files that go into an archive, with the locked-file test.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/zip/zip_types.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::engine::zip {

// Which file a path names, whatever the name.
struct FileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
};

enum class OpenOutcome {
  Opened,
  Failed,      // it cannot be opened for reading (errno in Error)
  Locked,      // another process holds a write lock on it
  NotRegular,  // a device, pipe or socket: never read
  Excluded,    // one of the files never to be read
};

struct OpenResult {
  OpenOutcome Outcome = OpenOutcome::Failed;
  platform::File File;  // open when Opened
  int Error = 0;
  platform::FileInfo Info;
};

// Opens a source for reading without changing its access time where that is allowed. In the
// share-deny-write mode a file another program keeps from being read counts as locked. The
// `excluded` files (an archive's old and new self) are recognised before any lock test, as the
// archive being written is locked by this process.
OpenResult OpenSource(const std::string& path, OpenMode mode, const std::vector<FileIdentity>& excluded);

// Whether a source that failed to open with this errno may be kept out by another program or by its
// rights, so that the locked-file question applies. Any other reason (a name too long, a file gone,
// an input/output error) is the system's own and is reported as it stands.
bool MayBeLockedOut(int errorCode);

}  // namespace zentrove::engine::zip
