#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/task_record.h"
#include "platform/result.h"
#include "transfer/ftp_client.h"

namespace zentrove::transfer {

// What an upload may wait for, and where its trust comes from. The defaults are the program's;
// tests shorten the waits.
struct FtpUploadOptions {
  FtpTimeouts timeouts;
  TlsSettings tls;
  std::chrono::milliseconds retryWait{3000};
  int attempts = 10;
};

// The client settings a task's FTP fields give.
FtpSettings FtpSettingsOf(const core::TArhRecord& task, const FtpUploadOptions& options);

struct FtpUploadResult {
  bool ok = false;
  // The reason of a failure, without line breaks.
  std::string error;
};

// The FTP client of one upload: the connection with the task's progress and run-control flags, the
// per-file attempt loop with reconnect and resume, and the remote rotation.
class TZentroNMFTP {
 public:
  TZentroNMFTP(core::TArhRecord& task, FtpUploadOptions options, std::function<void()> refreshRow);

  // The whole upload of an archive file or a backup folder (UploadToFTP).
  FtpUploadResult Upload(const std::string& localPath, const std::string& extension);

  // Creates and enters each part of a path below the current folder; a part that cannot be entered
  // fails with the server's reply.
  platform::Status FTPForceDir(const std::string& path);
  // One file into the current folder with up to `attempts` attempts. The file is written under a
  // scratch name, its size checked and then renamed, so the final name only ever holds whole files.
  platform::Status FTPPutFile(const std::string& localFile, const std::string& remoteName);
  platform::Status FTPPutFolder(const std::string& localFolder, const std::string& remoteName,
                                const std::string& parentRemote);
  void FTPReconnect();
  platform::Status FTPDeleteOldBackups(const std::string& prefix, const std::string& extension, int depth,
                                       const std::string& remoteName, int unit);
  platform::Status FTPRemoveItem(const std::string& name);
  // Removes one entry of the current folder: a file or link with DELE, a folder with everything in it.
  platform::Status RemoveEntry(const RemoteEntry& entry);
  // When set, a reconnect enters the folder this returns to instead of the folders of an archive
  // upload (the FTP backup mode walks by absolute paths).
  std::function<std::string()> ReconnectFolder;

  FtpClient& Client() { return client_; }

  // The counters of the upload.
  std::uint64_t BytesSent = 0;
  std::uint64_t LastPosition = 0;
  std::uint64_t TotalSize = 0;

 private:
  platform::Status Progress(std::uint64_t position);
  platform::Status ConnectAndEnter(bool reconnect);
  void SetBinary();
  void Info(const std::string& text) const;
  void Warning(const std::string& text) const;
  void Error(const std::string& text) const;
  bool Stopped() const;
  bool ArchiveMode() const { return task_.ArchiveOrCopy == 0; }

  core::TArhRecord& task_;
  FtpUploadOptions options_;
  std::function<void()> refreshRow_;
  FtpClient client_;
  // The folder part of the remote name and the folder tree being uploaded, below DirTxt.
  std::string remoteFolder_;
  std::string treePath_;
  bool dateMakesFolders_ = false;
  bool binary_ = false;
  bool renameRefused_ = false;
  bool sizeUnsupported_ = false;
  bool appendRefused_ = false;
};

// Uploads the run's archive (or, in copy mode, its backup folder) to the task's FTP server.
FtpUploadResult UploadToFTP(const std::string& localPath, core::TArhRecord& task,
                            const std::string& extension, const FtpUploadOptions& options = {},
                            const std::function<void()>& refreshRow = {});

// The scratch name a file is uploaded under before it is renamed.
std::string RemoteScratchName(const std::string& remoteName);

}  // namespace zentrove::transfer
