#pragma once

#include <string>
#include <utility>

#include "engine/run_context.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::engine {

// A source file open for reading; closed when the object goes. `Info` is its state when it was
// opened: the size to read and the times the copy takes.
class SourceFile {
 public:
  SourceFile() = default;
  SourceFile(platform::File file, const platform::FileInfo& info) : file_(std::move(file)), info_(info) {}

  bool IsOpen() const { return file_.IsOpen(); }
  platform::File& Handle() { return file_; }
  const platform::File& Handle() const { return file_; }
  const platform::FileInfo& Info() const { return info_; }

 private:
  platform::File file_;
  platform::FileInfo info_;
};

// Opens a source file for the copy mode, the copies to extra folders and the built-in archiver, in
// the run's file open mode. In share-deny-write mode a file counts as locked when it cannot be
// opened for reading or another program holds a write lock on it; in share-deny-none mode (the user
// chose to take it anyway) only when it cannot be opened. A locked file goes to the locked-file
// handling (HandleLockedFile: the skip-all and share-all answers, the prompt on the main thread, or
// the task's default action without a desktop) and is opened again for as long as the answer is
// to retry. A file that no longer exists is skipped with a warning and never prompts, and so is one
// the system refuses for any reason other than a lock or its rights (SkipUnusableSource).
//
// Returns the open file, or a closed one when the file is to be skipped: the caller counts it as
// done and writes nothing. An Abort answer has set the task's StopTask by then.
SourceFile OpenSourceFile(RunContext& run, const std::string& path);

// A source that cannot be taken for a reason of the system's own (zip::MayBeLockedOut is false): one
// that no longer exists is skipped with Warning "The file %s no longer exists. The file is skipped";
// any other counts as left out, with Warning "The file %s is left out: " and the system's text for
// the errno, as a name too long for the system or the archive is no locked file.
void SkipUnusableSource(RunContext& run, const std::string& path, int errorCode);

}  // namespace zentrove::engine
