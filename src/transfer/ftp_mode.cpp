#include "transfer/ftp_mode.h"

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <unordered_set>

#include "base/clock.h"
#include "base/datetime.h"
#include "base/text.h"
#include "engine/copy_mode.h"
#include "engine/engine_ops.h"
#include "engine/locked_file.h"
#include "engine/run_control.h"
#include "log/log.h"
#include "platform/files.h"

namespace zentrove::transfer {
namespace {

using log::AddLogLine;
using log::LogLevel;
using platform::Status;

constexpr const char* kAborted = "The task has been aborted";
constexpr const char* kCopyFailed = "Cannot copy archive to";
// A remote time this much older than the local one still counts as the same moment: servers keep
// whole seconds and their clocks drift.
constexpr double kTimeSlackDays = 2.0 / base::kSecondsPerDay;

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string Folded(std::string_view text) {
  return base::ToLowerAscii(text);
}

std::string OneLine(std::string text) {
  if (const std::size_t at = text.find("\r\n"); at != std::string::npos) text.erase(at, 2);
  base::ReplaceAll(text, "\r", " ");
  base::ReplaceAll(text, "\n", " ");
  return text;
}

// The remote folder of a local folder, relative to the remote backup folder: "" or "a/b/". The local
// folder's names are taken as they are, so a "\" in a Linux name never makes a remote folder.
std::string RemoteRelative(const std::string& folder, const std::string& base, const core::TArhRecord& task) {
  return engine::CopyDestinationFolder("x", folder, base, task).substr(2);
}

}  // namespace

FtpModeUpload::FtpModeUpload(engine::RunContext& run, const FtpUploadOptions& options)
    : run_(run),
      task_(run.Task),
      ftp_(run.Task, options, [&run] { run.Refresh(); }),
      sync_(run.Task.IfArhiveExistSync),
      selection_(engine::SourceSelection::FromTask(run.Task)) {
  ftp_.ReconnectFolder = [this] { return current_; };
}

void FtpModeUpload::Info(const std::string& text) const {
  AddLogLine(LogLevel::Information, task_.TaskNumber, text);
}

void FtpModeUpload::Warning(const std::string& text) const {
  AddLogLine(LogLevel::Warning, task_.TaskNumber, text);
}

std::string FtpModeUpload::Absolute(const std::string& relative) const {
  std::string path = backupAbsolute_;
  if (!relative.empty()) {
    if (path.empty() || path.back() != '/') path += '/';
    path += relative;
  }
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

Status FtpModeUpload::Connect() {
  FtpClient& client = ftp_.Client();
  if (Status connected = client.Connect(); !connected) return connected;
  (void)client.Command("TYPE I");
  Info("Successfully connected");
  if (!task_.DirTxt.empty()) {
    if (Status entered = ftp_.FTPForceDir(task_.DirTxt); !entered) return entered;
    Info("Successful change of directory: " + task_.DirTxt);
  }
  const std::optional<std::string> here = client.CurrentFolder();
  if (!here) return Status::Failure(EIO, "The remote folder is unknown");
  baseAbsolute_ = *here;
  return Status::Success();
}

void FtpModeUpload::PrepareWalk() {
  struct Unreadable {
    std::string folder;
    int errorCode;
  };
  std::vector<Unreadable> unreadable;
  engine::WalkControl control;
  control.stopRequested = [this] { return static_cast<bool>(task_.StopTask); };
  control.onFolder = [this](const std::string& folder) { walkedFolders_.push_back(folder); };
  control.onUnreadableFolder = [&unreadable](const std::string& folder, int errorCode) {
    unreadable.push_back({folder, errorCode});
  };
  engine::SelectOptions options;
  options.duplicates = engine::Duplicates::Keep;
  options.readArchiveMarks = task_.ResetArchiveBitOnZip;
  selected_ = selection_.Select(control, options);
  for (const Unreadable& folder : unreadable)
    KeepTreeOf(folder.folder, folder.errorCode);
}

// A source folder that could not be read yields no files; the sync would then take its remote copy
// for deleted. That copy is kept instead, and where all folders share one remote folder nothing can
// be told apart, so the sync deletes nothing at all.
void FtpModeUpload::KeepTreeOf(const std::string& folder, int errorCode) {
  Warning("The source folder cannot be read: " + folder + " " + engine::ErrorCodeSuffix(errorCode));
  if (!sync_) return;
  if (!task_.SavePath) {
    syncDeletesNothing_ = true;
    return;
  }
  for (const engine::IncludeItem& item : selection_.Includes()) {
    if (!base::StartsWith(folder, item.baseFolder)) continue;
    const std::string relative = Folded(RemoteRelative(folder, item.baseFolder, task_));
    if (std::find(keptTrees_.begin(), keptTrees_.end(), relative) != keptTrees_.end()) continue;
    keptTrees_.push_back(relative);
    Warning("FTP SYNC: The source folder cannot be read, its copy stays in the archive: " +
            Absolute(relative));
  }
}

void FtpModeUpload::AddToSyncList(const std::string& relative) {
  syncList_.push_back(Folded(relative));
}

// A path stays when it begins some entry of the list, compared without regard to ASCII case: a
// server that folds case shows names in its own spelling, and keeping more is the safe side.
bool FtpModeUpload::Kept(const std::string& relative) const {
  const std::string key = Folded(relative);
  const auto found = std::lower_bound(syncList_.begin(), syncList_.end(), key);
  return found != syncList_.end() && base::StartsWith(*found, key);
}

bool FtpModeUpload::InKeptTree(const std::string& relative) const {
  const std::string key = Folded(relative);
  return std::any_of(keptTrees_.begin(), keptTrees_.end(),
                     [&key](const std::string& tree) { return base::StartsWith(key, tree); });
}

bool FtpModeUpload::EnterRemote(const std::string& relative) {
  const std::string target = Absolute(relative);
  if (current_ == target) return true;
  FtpClient& client = ftp_.Client();
  auto entered = client.Command("CWD " + target);
  if (entered && entered->Is(2)) {
    current_ = target;
    return true;
  }
  current_.clear();
  bool ok = false;
  if (entered && client.Connected()) {
    auto atBackup = client.Command("CWD " + backupAbsolute_);
    ok = atBackup && atBackup->Is(2);
    for (const std::string& part : base::Split(relative, '/')) {
      if (!ok || part.empty()) continue;
      (void)client.Command("MKD " + part);
      auto down = client.Command("CWD " + part);
      ok = down && down->Is(2);
    }
  }
  if (!ok) {
    Warning("The remote folder cannot be entered, its files are skipped: " + PrintableReplyText(target) +
            " [" + client.LastReplyText() + "]");
    return false;
  }
  current_ = target;
  return true;
}

bool FtpModeUpload::Unchanged(const engine::SourceEntry& file, const RemoteEntry* remote) const {
  // Only a size and a time the server stated in UTC can show that a file is there already; any
  // doubt uploads it again.
  if (remote == nullptr || remote->folder || !remote->size || *remote->size != file.size) return false;
  if (!remote->exactTime || remote->time == 0) return false;
  const base::TDateTime local = base::FromTimeT(static_cast<std::time_t>(file.mtimeNs / 1'000'000'000));
  return local <= remote->time + kTimeSlackDays;
}

Status FtpModeUpload::UploadFile(const engine::SourceEntry& file, const Listing& listing) {
  const std::string name(engine::NamePart(file.path));
  const RemoteEntry* remote = nullptr;
  for (const RemoteEntry& entry : listing.entries) {
    if (entry.name == name && !entry.folder) {
      remote = &entry;
      break;
    }
  }
  switch (run_.Action) {
    case engine::ZipAction::Update:
      if (Unchanged(file, remote)) return Status::Success();
      break;
    case engine::ZipAction::Replace:
      break;
    case engine::ZipAction::Freshen:
      if (remote == nullptr) return Status::Success();
      break;
  }
  ftp_.LastPosition = 0;
  task_.NextFileText = file.path;
  platform::FileInfo stateWhenRead;
  {
    engine::SourceFile in = engine::OpenSourceFile(run_, file.path);
    if (!in.IsOpen()) return Status::Success();
    stateWhenRead = in.Info();
  }
  if (Status sent = ftp_.FTPPutFile(file.path, name); !sent) return sent;
  ++uploaded_;
  // The mark is cleared for the state the file had when it was read, so a change made meanwhile
  // keeps it set and the next incremental run takes the file again.
  if (task_.ResetArchiveBitOnZip && file.kind == engine::EntryKind::File && file.archiveMarked)
    (void)platform::ClearArchiveAttribute(file.path, stateWhenRead);
  engine::OnEndZip(run_, file.path);
  task_.LastFileText = file.path;
  return Status::Success();
}

Status FtpModeUpload::WalkItem(std::size_t item) {
  const engine::IncludeItem& include = selection_.Includes()[item];
  const std::string& base = include.baseFolder;
  std::unordered_map<std::string, std::vector<std::size_t>> filesByFolder;
  for (std::size_t i = 0; i < selected_.files.size(); ++i) {
    if (selected_.files[i].item == item)
      filesByFolder[engine::FolderPart(selected_.files[i].path)].push_back(i);
  }
  std::unordered_set<std::string> seen;
  for (const std::string& folder : walkedFolders_) {
    if (task_.StopTask) return Status::Success();
    if (!base::StartsWith(folder, base) || (!selection_.ProcessSubfolders() && folder != base)) continue;
    if (!seen.insert(folder).second) continue;
    Info("Current folder: " + folder);
    const std::string relative = RemoteRelative(folder, base, task_);
    if (HasLineBreak(relative)) {
      Warning("A folder name with a line break cannot be sent to the server, the folder is skipped: " +
              PrintableReplyText(folder));
      if (sync_) keptTrees_.push_back(Folded(relative));
      continue;
    }
    const auto files = filesByFolder.find(folder);
    // The folder and every file it selects stay on the server, also those that are not sent.
    if (sync_) {
      AddToSyncList(relative);
      if (files != filesByFolder.end()) {
        for (const std::size_t index : files->second)
          AddToSyncList(relative + std::string(engine::NamePart(selected_.files[index].path)));
      }
    }
    if (!EnterRemote(relative)) {
      if (!ftp_.Client().Connected()) return Status::Failure(ECONNRESET, ftp_.Client().LastReplyText());
      if (sync_) keptTrees_.push_back(Folded(relative));
      continue;
    }
    Listing& listing = listings_[relative];
    if (!listing.entered) {
      listing.entered = true;
      auto entries = ftp_.Client().List();
      if (entries) listing.entries = std::move(*entries);
    }
    if (files == filesByFolder.end()) continue;
    for (const std::size_t index : files->second) {
      if (task_.StopTask) return Status::Success();
      const engine::SourceEntry& file = selected_.files[index];
      if (HasLineBreak(engine::NamePart(file.path))) {
        Warning("A file name with a line break cannot be sent to the server, the file is skipped: " +
                PrintableReplyText(file.path));
        continue;
      }
      if (Status uploaded = UploadFile(file, listing); !uploaded) return uploaded;
    }
  }
  return Status::Success();
}

Status FtpModeUpload::SyncFolder(const std::string& relative) {
  if (task_.StopTask) return Status::Success();
  FtpClient& client = ftp_.Client();
  const std::string path = Absolute(relative);
  auto entered = client.Command("CWD " + path);
  if (!entered) return entered.GetStatus();
  if (!entered->Is(2)) {
    Warning("FTP SYNC: The remote folder cannot be entered and is left as it is: " +
            PrintableReplyText(path) + " [" + client.LastReplyText() + "]");
    return Status::Success();
  }
  current_ = path;
  auto entries = client.List();
  if (!entries || !client.LastListingComplete()) {
    if (!client.Connected())
      return entries ? Status::Failure(ECONNRESET, client.LastReplyText()) : entries.GetStatus();
    Warning("FTP SYNC: The remote folder cannot be listed completely and is left as it is: " +
            PrintableReplyText(path));
    return Status::Success();
  }
  std::vector<std::string> subfolders;
  for (const RemoteEntry& entry : *entries) {
    const std::string& name = entry.name;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        HasLineBreak(name))
      continue;
    const bool folder = entry.folder && !entry.link;
    const std::string itemPath = relative + name + (folder ? "/" : "");
    if (folder && InKeptTree(itemPath)) continue;
    if (Kept(itemPath)) {
      if (folder) subfolders.push_back(itemPath);
      continue;
    }
    if (entry.otherType) continue;
    if (Status removed = ftp_.RemoveEntry(entry); !removed) {
      return Status::Failure(removed.Code(),
                             "The file cannot be deleted: " + PrintableReplyText(Absolute(itemPath)) + " [" +
                                 removed.Message() + "]");
    }
    Warning("FTPSYNC: File is not found in sources and removed from archive: " +
            PrintableReplyText(Absolute(itemPath)));
  }
  for (const std::string& subfolder : subfolders) {
    if (Status done = SyncFolder(subfolder); !done) return done;
  }
  return Status::Success();
}

Status FtpModeUpload::Rotate(const std::string& backupFolder) {
  const std::vector<std::string> parts = RemotePathParts(backupFolder);
  if (parts.empty()) {
    Warning("Old backups on the server are not deleted: the backup folder has no name of its own");
    return Status::Success();
  }
  auto back = ftp_.Client().Command("CWD " + baseAbsolute_);
  if (!back) return back.GetStatus();
  if (!back->Is(2)) return Status::Failure(EACCES, "Cannot return to " + baseAbsolute_);
  current_ = baseAbsolute_;
  return ftp_.FTPDeleteOldBackups(task_.FileMsk5_Prefix, "", task_.DeepFTP, parts.front(), task_.WhatDeepFTP);
}

FtpModeResult FtpModeUpload::UploadFoldersToFTP(const std::string& remoteBackupFolder) {
  FtpModeResult result;
  FtpClient& client = ftp_.Client();
  std::string backupFolder = remoteBackupFolder;
  base::ReplaceAll(backupFolder, "/", "\\");
  while (base::EndsWith(backupFolder, "\\"))
    backupFolder.pop_back();

  Status status;
  bool copied = true;
  try {
    if (task_.FTPConnectionType == 1) Info("Try to use implicit TLS/SSL");
    if (task_.FTPConnectionType == 2) Info("Try to use explicit TLS/SSL");
    status = Connect();
    if (status) {
      task_.StatusText1 = "Upload: ...";
      status = ftp_.FTPForceDir(backupFolder);
    }
    if (status) {
      const std::optional<std::string> here = client.CurrentFolder();
      if (!here) status = Status::Failure(EIO, "The remote folder is unknown");
      backupAbsolute_ = here.value_or("");
      current_ = backupAbsolute_;
    }
    if (status) {
      PrepareWalk();
      ftp_.TotalSize = selected_.totalBytes;
      ftp_.BytesSent = 0;
      ftp_.LastPosition = 0;
      task_.StatusText1 = "Upload: 0%";
      if (sync_) AddToSyncList("");
      for (std::size_t item = 0; item < selection_.Includes().size() && copied && !task_.StopTask; ++item) {
        Status walked = WalkItem(item);
        if (!walked) {
          copied = false;
          status = walked;
          break;
        }
        Info("Folder is uploaded: " + selection_.Includes()[item].baseFolder);
      }
    }
    if (status && sync_ && !task_.StopTask && !selected_.stopped) {
      Warning("FTP SYNC: Start to delete old files from archive: " + backupFolder);
      if (syncDeletesNothing_) {
        Warning("FTP SYNC: A source folder could not be read, so nothing is deleted from the archive");
      } else {
        std::sort(syncList_.begin(), syncList_.end());
        status = SyncFolder("");
      }
      if (status) Info("FTP SYNC: Deleteing old files from archive complete");
    }
    result.uploaded = uploaded_;
    if (status && (task_.StopTask || selected_.stopped)) status = Status::Failure(ECANCELED, kAborted);
    if (status && task_.DeepFTP > 0) status = Rotate(backupFolder);
  } catch (const std::exception& error) {
    status = Status::Failure(EIO, error.what());
  }
  if (status) {
    result.ok = true;
  } else {
    std::string message = client.Redacted(status.Message());
    if (task_.StopTask || status.Code() == ECANCELED) {
      message = kAborted;
    } else if (!copied) {
      message = std::string(kCopyFailed) + " " + message;
    }
    result.error = OneLine(message + " [" + client.LastReplyText() + "]");
  }
  client.Quit();
  return result;
}

engine::StepResult FtpModeStep(engine::RunContext& run, const FtpUploadOptions& options) {
  FtpModeUpload upload(run, options);
  const FtpModeResult result = upload.UploadFoldersToFTP(run.ZipName);
  if (!result.ok) run.ErrorText = result.error;
  return engine::StepResult{result.ok, result.uploaded};
}

}  // namespace zentrove::transfer
