#include "engine/run_context.h"

#include "base/clock.h"
#include "base/regional_format.h"
#include "engine/engine_ops.h"
#include "platform/files.h"

namespace zentrove::engine {
namespace {

std::string DateTimeText(base::TDateTime value) {
  return base::FormatShortDate(value) + " " + base::FormatLongTime(value);
}

}  // namespace

bool FullBackupLog::Open(const std::string& path, int taskNumber) {
  Close();
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

}  // namespace zentrove::engine
