#include "engine/locked_file.h"

#include <cerrno>

#include "engine/run_control.h"
#include "engine/zip/zip_source.h"
#include "log/log.h"

namespace zentrove::engine {

SourceFile OpenSourceFile(RunContext& run, const std::string& path) {
  platform::OpenOptions options;
  // Non-blocking only keeps the open from hanging on a file that turned into a pipe; it changes
  // nothing for a regular file.
  options.nonBlocking = true;
  for (;;) {
    auto file = platform::File::Open(path, options);
    if (file) {
      const platform::FileInfo info = file->Info();
      const bool usable = info.exists && info.kind == platform::FileKind::File;
      if (usable &&
          (run.OpenMode == FileOpenMode::ShareDenyNone || !platform::IsLockedByAnotherProcess(*file))) {
        return SourceFile(std::move(*file), info);
      }
      if (!usable) return {};
    } else if (!zip::MayBeLockedOut(file.Code())) {
      SkipUnusableSource(run, path, file.Code());
      return {};
    }
    if (HandleLockedFile(run, path) == LockedFileDecision::Skip || run.Task.StopTask) return {};
  }
}

void SkipUnusableSource(RunContext& run, const std::string& path, int errorCode) {
  if (errorCode == ENOENT || errorCode == ENOTDIR) {
    log::AddLogLine(log::LogLevel::Warning, run.Task.TaskNumber,
                    "The file " + path + " no longer exists. The file is skipped");
    return;
  }
  ++run.LeftOut;
  log::AddLogLine(log::LogLevel::Warning, run.Task.TaskNumber,
                  "The file " + path + " is left out: " + platform::ErrnoText(errorCode));
}

}  // namespace zentrove::engine
