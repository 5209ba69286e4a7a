#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/backup_steps.h"
#include "engine/run_context.h"
#include "engine/source_selection.h"
#include "transfer/ftp_upload.h"

namespace zentrove::transfer {

struct FtpModeResult {
  bool ok = false;
  int uploaded = 0;
  // The reason of a failure, without line breaks.
  std::string error;
};

// The "Upload to FTP" backup mode: the selected files go one by one into a remote backup folder below
// DirTxt, laid out like the copy mode's backup folder; the run's action decides which files are sent,
// and a synchronising task deletes afterwards what no longer exists in the sources. Remote folders
// are entered by absolute paths, so a folder that cannot be entered is skipped and never mistaken
// for its parent.
class FtpModeUpload {
 public:
  FtpModeUpload(engine::RunContext& run, const FtpUploadOptions& options);

  // The whole upload into `remoteBackupFolder` (relative to DirTxt; "\" and "/" separate folders).
  FtpModeResult UploadFoldersToFTP(const std::string& remoteBackupFolder);

 private:
  struct Listing {
    bool entered = false;
    std::vector<RemoteEntry> entries;
  };

  platform::Status Connect();
  void PrepareWalk();
  void KeepTreeOf(const std::string& folder, int errorCode);
  platform::Status WalkItem(std::size_t item);
  // Enters the remote folder of `relative` ("" or "a/b/"), creating what is missing; false (with a
  // warning) when it cannot be entered.
  bool EnterRemote(const std::string& relative);
  platform::Status UploadFile(const engine::SourceEntry& file, const Listing& listing);
  bool Unchanged(const engine::SourceEntry& file, const RemoteEntry* remote) const;
  void AddToSyncList(const std::string& relative);
  bool Kept(const std::string& relative) const;
  bool InKeptTree(const std::string& relative) const;
  platform::Status SyncFolder(const std::string& relative);
  platform::Status Rotate(const std::string& backupFolder);
  std::string Absolute(const std::string& relative) const;
  void Info(const std::string& text) const;
  void Warning(const std::string& text) const;

  engine::RunContext& run_;
  core::TArhRecord& task_;
  TZentroNMFTP ftp_;
  bool sync_ = false;
  engine::SourceSelection selection_;
  engine::SelectedSources selected_;
  std::vector<std::string> walkedFolders_;
  std::string baseAbsolute_;    // DirTxt on the server
  std::string backupAbsolute_;  // the remote backup folder on the server
  std::string current_;         // the absolute remote folder the client is in
  // The listing of each remote folder, taken once when it is first entered.
  std::map<std::string, Listing> listings_;
  // The synchronisation list: relative paths, ASCII letters in lower case, folders ending with "/".
  std::vector<std::string> syncList_;
  std::vector<std::string> keptTrees_;
  bool syncDeletesNothing_ = false;
  int uploaded_ = 0;
};

// The backup step of the "Upload to FTP" mode: uploads into the run's ZipName.
engine::StepResult FtpModeStep(engine::RunContext& run, const FtpUploadOptions& options);

}  // namespace zentrove::transfer
