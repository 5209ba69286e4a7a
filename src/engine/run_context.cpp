#include "engine/run_context.h"

#include "base/clock.h"
#include "base/regional_format.h"
#include "engine/engine_ops.h"
#include "log/log.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::engine {
namespace {

std::string DateTimeText(base::TDateTime value) {
  return base::FormatShortDate(value) + " " + base::FormatLongTime(value);
}

}  // namespace

bool FullBackupLog::Open(const std::string& path, int taskNumber) {
  Close();
  {
    // The log names every file the run took, private ones included, so only its owner may read it;
    // an existing log of an earlier run is made so as well.
    platform::OpenOptions options;
    options.access = platform::Access::Write;
    options.creation = platform::Creation::CreateOrTruncate;
    options.links = platform::Links::DontFollow;
    options.mode = 0600;
    auto created = platform::File::Open(path, options);
    if (!created || !created->SetMode(0600)) return false;
  }
  out_.open(path, std::ios::binary | std::ios::trunc);
  if (!out_.is_open()) return false;
  path_ = path;
  out_ << "Start: [" << DateTimeText(base::NowLocal()) << "] " << taskNumber << "\r\n"
       << "File Name;File Size;Modification Time\r\n";
  out_.flush();
  return true;
}

void FullBackupLog::WriteFile(const std::string& sourcePath) {
  if (!out_.is_open()) return;
  const platform::FileInfo info = platform::StatFollow(sourcePath);
  out_ << sourcePath << ";" << info.size << ";" << DateTimeText(FileTimeToLocal(info.mtimeNs)) << "\r\n";
}

void FullBackupLog::WriteEnd(int taskNumber) {
  if (!out_.is_open()) return;
  out_ << "End: [" << DateTimeText(base::NowLocal()) << "] " << taskNumber << "\r\n";
  Close();
}

void FullBackupLog::Close() {
  if (out_.is_open()) out_.close();
  out_.clear();
}

void NoteLeftOut(RunContext& run, const std::string& path, int errorCode) {
  ++run.LeftOut;
  const char* what = !path.empty() && path.back() == '/' ? "folder" : "file";
  log::AddLogLine(
      log::LogLevel::Warning, run.Task.TaskNumber,
      std::string("The source ") + what + " cannot be read: " + path + " " + ErrorCodeSuffix(errorCode));
}

}  // namespace zentrove::engine
