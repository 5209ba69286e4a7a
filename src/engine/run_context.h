#pragma once

#include <any>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/task_record.h"

namespace zentrove::engine {

class RunEnvironment;

// What the writer does with an archive (or, in copy and FTP mode, a destination) that exists already.
enum class ZipAction { Update, Replace, Freshen };

// How a source file is opened: normally other programs may not write it while it is read; a file the
// user chose to pack anyway is read whatever another program does with it.
enum class FileOpenMode { ShareDenyWrite, ShareDenyNone };

// The per-run file list written when the task's SaveFullLog is on. Writing never fails towards the
// run: a line that cannot be written is lost, the backup goes on.
class FullBackupLog {
 public:
  // Creates or truncates the file and writes its two head lines; false when it cannot be created.
  bool Open(const std::string& path, int taskNumber);
  bool IsOpen() const { return out_.is_open(); }
  const std::string& Path() const { return path_; }
  // One line per file: path, size in bytes and modification time.
  void WriteFile(const std::string& sourcePath);
  // The end line, then the file is closed.
  void WriteEnd(int taskNumber);
  void Close();

 private:
  std::ofstream out_;
  std::string path_;
};

// The working state of one run in every mode: the writer object of the built-in archiver, which also
// carries what the copy, FTP and external archiver modes need. Created by the run's worker, released
// on the main thread when the run has been finished.
class TArhVCLZip {
 public:
  explicit TArhVCLZip(core::TArhRecord& task) : Task(task) {}
  TArhVCLZip(const TArhVCLZip&) = delete;
  TArhVCLZip& operator=(const TArhVCLZip&) = delete;

  core::TArhRecord& Task;
  // What the program gave the run: its steps, hooks and options. Set by the worker before any step.
  const RunEnvironment* Environment = nullptr;

  // ".zip" for the built-in archiver, "." + Ext for an external one, empty in copy and FTP mode.
  std::string Extension = ".zip";
  // The archive path (copy mode: the backup folder; FTP mode: the remote backup name). Modes may
  // change it, e.g. to a temporary name; the run reports it as it stands at the end.
  std::string ZipName;
  ZipAction Action = ZipAction::Update;
  // The backup at ZipName is to be replaced by a new one: the step writes the new one completely
  // under a scratch name, and the old one is discarded only then.
  bool ReplaceOld = false;
  // While the backup is built under a scratch name: that name and the final one (both without a
  // trailing "/"), so that the texts a user reads name the backup where it will stand.
  std::string ScratchName;
  std::string FinalName;
  std::string ShownPath(const std::string& path) const {
    if (ScratchName.empty() || path.compare(0, ScratchName.size(), ScratchName) != 0) return path;
    if (path.size() > ScratchName.size() && path[ScratchName.size()] != '/') return path;
    return FinalName + path.substr(ScratchName.size());
  }

  // The include and exclude items of the task after expansion, and the folder part of every include
  // item, in list order.
  std::vector<std::string> IncludeItems;
  std::vector<std::string> ExcludeItems;
  std::vector<std::string> SourceFolders;
  // Destination paths a synchronising copy has seen.
  std::vector<std::string> SyncList;

  // Source files and folders the run left out because the system refused them; the final line
  // counts them.
  std::uint64_t LeftOut = 0;

  // The byte total progress is measured against, and the bytes done so far.
  std::uint64_t TotalBytes = 0;
  std::uint64_t BytesDone = 0;

  // Answers to the locked-file prompt that hold for the rest of the run.
  bool ShareAll = false;
  bool SkipAll = false;
  FileOpenMode OpenMode = FileOpenMode::ShareDenyWrite;

  // Exit code of the external archiver; 0 otherwise.
  std::uint32_t ExitCode = 0;

  // The reason of the last failure that the run recorded; empty when none.
  std::string ErrorText;

  FullBackupLog FullLog;

  // Set by the progress hook when a stop is requested; the built-in writer polls it and ends its
  // operation with an error.
  std::atomic<bool> Cancelled{false};

  // Has the task's grid row redrawn after a progress change; may be empty.
  std::function<void()> RefreshRow;
  void Refresh() const {
    if (RefreshRow) RefreshRow();
  }

  // State a mode keeps between its preparation and its backup step (the external archiver keeps its
  // configuration here).
  std::any ModeState;
};

// The name the steps of every mode use for the run's working state.
using RunContext = TArhVCLZip;

// Counts a source the run leaves out for an error and logs Warning "The source folder cannot be
// read: " (a path ending with "/") or "The source file cannot be read: " + path + " " +
// ErrorCodeSuffix (errorCode).
void NoteLeftOut(RunContext& run, const std::string& path, int errorCode);

}  // namespace zentrove::engine
