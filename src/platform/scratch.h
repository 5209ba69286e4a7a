#pragma once

// Crash-safe replacement of files: everything is written under a scratch name beside the target,
// flushed, and only then renamed onto the final name, so a failure, a stop or a killed process leaves
// the target as it was. Scratch names follow one scheme, so that leftovers of killed runs can be
// recognised by name.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_handle.h"
#include "platform/result.h"

namespace zentrove::platform {

enum class ScratchShape {
  // ".NAME.N.~tm" with a counter of this process: many may be written at once in one folder.
  Counted,
  // "NAME.~tm", the extension replaced: the one scratch copy of a finished backup.
  ReplacedExtension,
  // ".NAME.zentrove-part": one per target, locked while it is written, so a leftover that nobody
  // holds is known to come from a run that died.
  Locked,
  // "~N.EXT" with the counter N (a task number) and the target's extension: a new archive before it
  // takes its final name.
  Numbered,
};

// The scratch path for `target` (a trailing "/" is ignored). Counted names are cut at a character
// boundary so that the whole stays within the file system's name limit.
std::string ScratchPathFor(const std::string& target, ScratchShape shape, unsigned counter = 0);
// A new counter for a Counted scratch name, unique in this process.
unsigned NextScratchCounter();
// Whether a file name (without its folder) has one of the scratch shapes.
bool IsScratchName(std::string_view name);

enum class Replace { Yes, OnlyWhenFree };
enum class Flush { No, Yes };

// Renames a finished scratch file or folder onto `target`: over what is there, or only when the name
// is free (EEXIST otherwise, also where the file system cannot rename without replacing). With
// Flush::Yes the folder is flushed afterwards, so the rename survives a crash.
Status MoveScratchInPlace(const std::string& scratch, const std::string& target, Replace replace,
                          Flush flushFolder);

// One file being written under a scratch name beside its target.
class ScratchWriter {
 public:
  ScratchWriter() = default;
  ~ScratchWriter();
  ScratchWriter(ScratchWriter&& other) noexcept;
  ScratchWriter& operator=(ScratchWriter&& other) noexcept;
  ScratchWriter(const ScratchWriter&) = delete;
  ScratchWriter& operator=(const ScratchWriter&) = delete;

  // Creates the scratch file (never following a link) with `mode` through the umask. A Locked
  // leftover of a killed run is replaced; one another live writer holds fails with EBUSY.
  static Result<ScratchWriter> Create(const std::string& target, ScratchShape shape,
                                      std::uint32_t mode = 0666);

  File& Output() { return file_; }
  const std::string& ScratchPath() const { return scratch_; }
  const std::string& Target() const { return target_; }

  // Ends the writing: flushes the file to disk when asked and, except for a Locked scratch file
  // whose lock must hold until the rename, closes it, reporting what the close found.
  Status Complete(Flush flushFile);
  // Renames the completed file onto the target (see MoveScratchInPlace). On failure the scratch file
  // stays until Abandon or the destructor.
  Status MoveInPlace(Replace replace, Flush flushFolder);
  // Complete and MoveInPlace with every flush.
  Status Commit(Replace replace);
  // Removes the scratch file unless it has been moved in place. Also done by the destructor.
  void Abandon();

 private:
  std::string target_;
  std::string scratch_;
  ScratchShape shape_ = ScratchShape::Counted;
  File file_;
  bool pending_ = false;  // a scratch file exists that did not become the target
};

}  // namespace zentrove::platform
