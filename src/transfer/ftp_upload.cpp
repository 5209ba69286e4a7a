#include "transfer/ftp_upload.h"

#include <cerrno>
#include <fstream>
#include <thread>

#include "base/clock.h"
#include "base/text.h"
#include "engine/archive_naming.h"
#include "engine/destinations.h"
#include "engine/source_selection.h"
#include "log/log.h"
#include "platform/files.h"

namespace zentrove::transfer {
namespace {

using log::AddLogLine;
using log::LogLevel;
using platform::Status;
using std::chrono::milliseconds;

constexpr milliseconds kPausePoll{100};

int PortOf(const std::string& text, int fallback) {
  const std::string trimmed(base::TrimBlanks(text));
  if (trimmed.empty() || trimmed.find_first_not_of("0123456789") != std::string::npos || trimmed.size() > 5) {
    return fallback;
  }
  return std::stoi(trimmed);
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

std::string FolderPart(const std::string& remoteName) {
  const std::size_t slash = remoteName.rfind('/');
  return slash == std::string::npos ? std::string() : remoteName.substr(0, slash);
}

std::string LeafPart(const std::string& remoteName) {
  const std::size_t slash = remoteName.rfind('/');
  return slash == std::string::npos ? remoteName : remoteName.substr(slash + 1);
}

std::string WithoutFirstLineBreak(std::string text) {
  if (const std::size_t at = text.find("\r\n"); at != std::string::npos) text.erase(at, 2);
  base::ReplaceAll(text, "\r", " ");
  base::ReplaceAll(text, "\n", " ");
  return text;
}

}  // namespace

FtpSettings FtpSettingsOf(const core::TArhRecord& task, const FtpUploadOptions& options) {
  FtpSettings settings;
  settings.host = std::string(base::TrimBlanks(task.HostTxt));
  settings.port = PortOf(task.PortTxt, 21);
  settings.user = task.UserTxt;
  settings.password = task.PassTxt;
  settings.passive = task.FTPPassive;
  settings.security = task.FTPConnectionType == 1   ? FtpSecurity::Implicit
                      : task.FTPConnectionType == 2 ? FtpSecurity::Explicit
                                                    : FtpSecurity::Plain;
  settings.useProxy = task.UseProxy;
  settings.proxyHost = std::string(base::TrimBlanks(task.ProxyServer));
  settings.proxyPort = PortOf(task.ProxyPort, 21);
  settings.timeouts = options.timeouts;
  settings.tls = options.tls;
  return settings;
}

std::string RemoteScratchName(const std::string& remoteName) {
  return remoteName + ".~tm";
}

TZentroNMFTP::TZentroNMFTP(core::TArhRecord& task, FtpUploadOptions options, std::function<void()> refreshRow)
    : task_(task),
      options_(std::move(options)),
      refreshRow_(std::move(refreshRow)),
      client_(
          FtpSettingsOf(task, options_),
          [this](FtpLogKind kind, const std::string& line) {
            if (kind == FtpLogKind::Warning) {
              Warning(line);
            } else {
              Info(line);
            }
          },
          [this] { return Stopped(); }) {}

void TZentroNMFTP::Info(const std::string& text) const {
  AddLogLine(LogLevel::Information, task_.TaskNumber, client_.Redacted(text));
}

void TZentroNMFTP::Warning(const std::string& text) const {
  AddLogLine(LogLevel::Warning, task_.TaskNumber, client_.Redacted(text));
}

void TZentroNMFTP::Error(const std::string& text) const {
  AddLogLine(LogLevel::Error, task_.TaskNumber, client_.Redacted(text));
}

bool TZentroNMFTP::Stopped() const {
  return task_.StopTask;
}

void TZentroNMFTP::SetBinary() {
  auto reply = client_.Command("TYPE I");
  binary_ = reply && reply->Is(2);
}

Status TZentroNMFTP::FTPForceDir(const std::string& path) {
  for (const std::string& part : RemotePathParts(path)) {
    auto made = client_.Command("MKD " + part);
    if (!made) return made.GetStatus();
    auto entered = client_.Command("CWD " + part);
    if (!entered) return entered.GetStatus();
    if (!entered->Is(2)) {
      return Status::Failure(EACCES, "Cannot change to the remote folder " + PrintableReplyText(part) + ": " +
                                         client_.LastReplyText());
    }
  }
  return Status::Success();
}

Status TZentroNMFTP::Progress(std::uint64_t position) {
  const auto now = static_cast<std::int64_t>(position);
  auto last = static_cast<std::int64_t>(LastPosition);
  if ((now < 0) != (last < 0)) last = now;
  BytesSent += static_cast<std::uint64_t>(now > last ? now - last : last - now);
  LastPosition = position;
  if (TotalSize > 0) {
    task_.StatusText1 = "Upload: " + std::to_string(BytesSent * 100 / TotalSize) + "%";
    if (refreshRow_) refreshRow_();
  }
  bool repainted = false;
  while (!task_.StopTask && task_.PauseTask) {
    std::this_thread::sleep_for(kPausePoll);
    if (!repainted && refreshRow_) refreshRow_();
    repainted = true;
  }
  if (task_.StopTask) return Status::Failure(ECANCELED, "FTP Abort");
  return Status::Success();
}

Status TZentroNMFTP::FTPPutFile(const std::string& localFile, const std::string& remoteName) {
  LastPosition = 0;
  task_.NextFileText = localFile;
  if (ArchiveMode()) Info("PUT: " + localFile);
  if (HasLineBreak(localFile) || HasLineBreak(remoteName)) {
    const std::string text =
        "A file name with a line break cannot be sent to the server: " + PrintableReplyText(localFile);
    Error(text);
    return Status::Failure(EINVAL, text);
  }
  if (!binary_) {
    SetBinary();
    if (!binary_) Warning("TransferType for file set to Binary: " + client_.LastReplyText());
  }
  const platform::FileInfo info = platform::StatFollow(localFile);
  if (info.kind != platform::FileKind::File) {
    return Status::Failure(ENOENT, "The file " + localFile + " cannot be read");
  }
  const std::uint64_t localSize = info.size;
  std::string target = renameRefused_ ? remoteName : RemoteScratchName(remoteName);
  bool createdHere = false;
  bool resume = false;
  Status outcome;
  int attempt = 1;
  while (attempt <= options_.attempts) {
    if (attempt > 1) {
      Warning(resume ? "Server supports upload resume. Try to resume file upload: " + remoteName
                     : "Server DOESN'T support upload resume. Try to upload file from begin: " + remoteName);
    }
    std::ifstream in(localFile, std::ios::binary);
    if (!in) return Status::Failure(EIO, "The file " + localFile + " cannot be read");
    std::uint64_t offset = 0;
    // Only a file this loop created can be continued; what else the server holds under the name
    // is no part of this upload.
    if (resume && createdHere) {
      const std::optional<std::uint64_t> held = client_.Size(target);
      if (held && *held <= localSize) offset = *held;
    }
    Status sent;
    if (offset < localSize || offset == 0) {
      in.seekg(static_cast<std::streamoff>(offset));
      LastPosition = offset;
      const StoreMode mode = offset == 0      ? StoreMode::Store
                             : appendRefused_ ? StoreMode::Restart
                                              : StoreMode::Append;
      if (mode == StoreMode::Store) createdHere = true;
      sent = client_.Store(target, in, offset, mode,
                           [this](std::uint64_t position) { return Progress(position); });
      const int refusal = client_.LastReply().code;
      if (mode == StoreMode::Append && !sent && (refusal == 500 || refusal == 502 || refusal == 504)) {
        appendRefused_ = true;
      }
    }
    if (sent && client_.Connected()) {
      const std::optional<std::uint64_t> held = client_.Size(target);
      if (!held && !sizeUnsupported_ && client_.Connected() && client_.LastReply().Is(5) &&
          client_.LastReply().code != 550) {
        sizeUnsupported_ = true;
        Warning("The server cannot tell the size of a file (" + client_.LastReplyText() +
                "); uploaded files are not checked");
      }
      if (!sizeUnsupported_ && (!held || *held != localSize)) {
        sent = Status::Failure(
            EIO, "The server holds " + (held ? std::to_string(*held) : std::string("an unknown")) +
                     " bytes of " + remoteName + " instead of " + std::to_string(localSize));
      }
    }
    if (sent && client_.Connected() && target != remoteName) {
      auto from = client_.Command("RNFR " + target);
      if (from && from->code == 350) {
        auto to = client_.Command("RNTO " + remoteName);
        if (!to || !to->Is(2))
          sent = Status::Failure(EIO, "The uploaded file cannot be renamed to " + remoteName);
      } else if (from && from->Is(5)) {
        Warning("The server does not rename files (" + client_.LastReplyText() + "); " + remoteName +
                " is uploaded under its final name");
        (void)client_.Command("DELE " + target);
        renameRefused_ = true;
        target = remoteName;
        createdHere = false;
        resume = false;
        continue;
      } else {
        sent = from ? Status::Failure(EIO, "The uploaded file cannot be renamed to " + remoteName)
                    : from.GetStatus();
      }
    }
    if (sent && client_.Connected()) {
      outcome = Status::Success();
      break;
    }
    outcome = sent ? Status::Failure(ECONNRESET, client_.LastReplyText()) : sent;
    if (Stopped() || outcome.Code() == ECANCELED) {
      Warning("FTP Abort");
      outcome = Status::Failure(ECANCELED, "FTP Abort");
      break;
    }
    if (!sent) {
      const auto until = std::chrono::steady_clock::now() + options_.retryWait;
      while (std::chrono::steady_clock::now() < until && !Stopped())
        std::this_thread::sleep_for(kPausePoll / 2);
    }
    if (attempt == options_.attempts) {
      const std::string reply = client_.LastReplyText();
      outcome = Status::Failure(outcome.Code(), reply.empty() ? outcome.Message() : reply);
      break;
    }
    Warning("Connection is aborted by server: " + client_.LastReplyText());
    FTPReconnect();
    resume = client_.Connected() && client_.ResumeSupported();
    ++attempt;
  }
  if (!outcome) {
    // Best effort: a broken scratch file is of no use to anybody.
    if (target != remoteName && client_.Connected()) (void)client_.Command("DELE " + target);
    return outcome;
  }
  if (ArchiveMode()) Info("Ok: " + localFile);
  task_.LastFileText = localFile;
  return Status::Success();
}

Status TZentroNMFTP::FTPPutFolder(const std::string& localFolder, const std::string& remoteName,
                                  const std::string& parentRemote) {
  const std::optional<std::string> parentAbsolute = client_.CurrentFolder();
  if (!parentAbsolute)
    return Status::Failure(EIO, "The remote folder is unknown: " + client_.LastReplyText());
  if (ArchiveMode()) Info("CHDIR: " + remoteName);
  Status result = FTPForceDir(remoteName);
  if (result) {
    treePath_ = parentRemote.empty() ? remoteName : parentRemote + "/" + remoteName;
    if (ArchiveMode()) Info(client_.LastReplyText());
    auto entries = platform::ListFolder(localFolder);
    if (!entries) result = entries.GetStatus();
    for (const platform::FolderEntry& entry : entries ? *entries : std::vector<platform::FolderEntry>{}) {
      if (Stopped()) {
        result = Status::Failure(ECANCELED, "FTP Abort");
        break;
      }
      const std::string path = localFolder + "/" + entry.name;
      if (entry.kind == platform::FileKind::Folder) {
        result = FTPPutFolder(path, entry.name, treePath_);
      } else if (entry.kind == platform::FileKind::File) {
        result = FTPPutFile(path, entry.name);
      }
      if (!result) break;
    }
  }
  Info("Current Dir: " + localFolder + "/");
  if (ArchiveMode()) Info("CHDIR UP: " + remoteName);
  // Back by the absolute path: a CDUP count goes wrong when a part was not entered.
  if (client_.Connected()) {
    auto back = client_.Command("CWD " + *parentAbsolute);
    if (result && back && !back->Is(2))
      result = Status::Failure(EACCES, "Cannot return to " + *parentAbsolute);
  }
  if (ArchiveMode()) Info("CHDIR UP OK: " + remoteName);
  treePath_ = parentRemote;
  return result;
}

void TZentroNMFTP::FTPReconnect() {
  Info("Try to reconnect...");
  client_.Quit();
  binary_ = false;
  if (!client_.Connect()) return;
  if (ReconnectFolder) {
    const std::string folder = ReconnectFolder();
    Info("CHDIR " + folder);
    auto entered = client_.Command("CWD " + folder);
    if (entered && entered->Is(2)) SetBinary();
    return;
  }
  if (!task_.DirTxt.empty()) {
    Info("CHDIR " + task_.DirTxt);
    if (!FTPForceDir(task_.DirTxt)) return;
  }
  if (!remoteFolder_.empty() && !FTPForceDir(remoteFolder_)) return;
  if (!treePath_.empty()) {
    Info("CHDIR " + treePath_);
    if (!FTPForceDir(treePath_)) return;
  }
  SetBinary();
}

Status TZentroNMFTP::RemoveEntry(const RemoteEntry& entry) {
  // A link is removed itself, never followed: what it points to is not this backup.
  if (!entry.folder || entry.link) {
    auto deleted = client_.Command("DELE " + entry.name);
    if (!deleted) return deleted.GetStatus();
    if (!deleted->Is(2)) return Status::Failure(EACCES, client_.LastReplyText());
    return Status::Success();
  }
  const std::optional<std::string> here = client_.CurrentFolder();
  if (!here) return Status::Failure(EIO, "The remote folder is unknown: " + client_.LastReplyText());
  auto entered = client_.Command("CWD " + entry.name);
  if (!entered) return entered.GetStatus();
  if (!entered->Is(2)) return Status::Failure(EACCES, client_.LastReplyText());
  Status result;
  auto inside = client_.List();
  if (!inside) result = inside.GetStatus();
  for (const RemoteEntry& child : inside ? *inside : std::vector<RemoteEntry>{}) {
    if (child.name.find('/') != std::string::npos) continue;
    result = RemoveEntry(child);
    if (!result) break;
  }
  auto back = client_.Command("CWD " + *here);
  if (!back) return back.GetStatus();
  if (!back->Is(2)) return Status::Failure(EACCES, "Cannot return to " + *here);
  if (!result) return result;
  auto removed = client_.Command("RMD " + entry.name);
  if (!removed) return removed.GetStatus();
  if (!removed->Is(2)) return Status::Failure(EACCES, client_.LastReplyText());
  return Status::Success();
}

Status TZentroNMFTP::FTPRemoveItem(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return Status::Success();
  auto entries = client_.List();
  if (!entries) return entries.GetStatus();
  for (const RemoteEntry& entry : *entries) {
    if (entry.name == name) return RemoveEntry(entry);
  }
  return Status::Success();
}

Status TZentroNMFTP::FTPDeleteOldBackups(const std::string& prefix, const std::string& extension, int depth,
                                         const std::string& remoteName, int unit) {
  if (depth <= 0) return Status::Success();
  const std::string mask = dateMakesFolders_ ? "*" + extension : prefix + "*" + extension;
  if (mask == "*") {
    Warning("Old backups on the server are not deleted: the backup name has no fixed part to tell them by");
    return Status::Success();
  }
  auto entries = client_.List();
  if (!entries) return entries.GetStatus();
  const bool wantFolders = task_.ArchiveOrCopy != 0;
  std::vector<engine::ListRec> candidates;
  for (const RemoteEntry& entry : *entries) {
    if (entry.link || entry.folder != wantFolders) continue;
    if (entry.name != remoteName && !engine::MatchesMask(mask, entry.name)) continue;
    candidates.push_back({entry.name, entry.time});
  }
  const auto victims =
      engine::ChooseRotationVictims(std::move(candidates), remoteName, base::NowLocal(), unit, depth);
  for (const engine::ListRec& victim : victims) {
    const std::string shown = victim.name + "(" + log::LogDateTimeText(victim.time) + ")";
    if (Status removed = FTPRemoveItem(victim.name); removed) {
      Warning("File was deleted " + shown);
    } else {
      if (!client_.Connected()) return removed;
      Error("The file cannot be deleted " + shown + " [" + client_.LastReplyText() + "][" +
            removed.Message() + "]");
    }
  }
  return Status::Success();
}

Status TZentroNMFTP::ConnectAndEnter(bool reconnect) {
  if (Status connected = client_.Connect(); !connected) return connected;
  if (reconnect) Warning(client_.LastReplyText());
  if (!task_.DirTxt.empty()) {
    if (Status entered = FTPForceDir(task_.DirTxt); !entered) return entered;
    Info("Successful change of directory: " + task_.DirTxt);
  }
  return Status::Success();
}

FtpUploadResult TZentroNMFTP::Upload(const std::string& localPath, const std::string& extension) {
  FtpUploadResult result;
  const base::TDateTime now = base::NowLocal();
  Status status;
  try {
    if (task_.FTPConnectionType == 1) Info("Try to use implicit TLS/SSL");
    if (task_.FTPConnectionType == 2) Info("Try to use explicit TLS/SSL");
    status = client_.Connect();
    if (status) {
      Info(client_.LastReplyText());
      Info("Successfully connected");
      if (!task_.DirTxt.empty()) {
        status = FTPForceDir(task_.DirTxt);
        if (status) Info("Successful change of directory: " + task_.DirTxt);
      }
    }
    std::string remoteName = engine::FtpArchiveName(task_, extension, now);
    while (base::EndsWith(remoteName, "/"))
      remoteName.pop_back();
    std::string format = task_.FileMsk5_ArhDateFormat;
    base::ReplaceAll(format, "/", "\\");
    dateMakesFolders_ = engine::FormatArchiveDate(format, now).find('\\') != std::string::npos;
    remoteFolder_ = FolderPart(remoteName);
    const std::string leaf = LeafPart(remoteName);
    if (status) {
      task_.StatusText1 = "Upload: ...";
      SetBinary();
      if (!binary_) Warning("TransferType set Binary: " + client_.LastReplyText());
      BytesSent = 0;
      LastPosition = 0;
      task_.StatusText1 = "Upload: 0%";
      status = FTPForceDir(remoteFolder_);
    }
    if (status) {
      const platform::FileInfo info = platform::StatFollow(localPath);
      if (info.kind == platform::FileKind::File) {
        TotalSize = info.size;
        status = FTPPutFile(localPath, leaf);
      } else {
        TotalSize = engine::TreeSize(localPath);
        status = FTPPutFolder(localPath, leaf, "");
      }
    }
    if (status) {
      Info(client_.LastReplyText());
      if (task_.DeepFTP > 0) {
        const std::string ext = extension;
        Info("LIST");
        Info(client_.LastReplyText());
        Info("Start deleting old backups");
        Status rotated =
            FTPDeleteOldBackups(task_.FileMsk5_Prefix, ext, task_.DeepFTP, leaf, task_.WhatDeepFTP);
        Info(client_.LastReplyText());
        if (!rotated) {
          Warning(client_.LastReplyText());
          client_.Disconnect();
          Warning("Re-connect...");
          binary_ = false;
          rotated = ConnectAndEnter(true);
          if (rotated) rotated = FTPForceDir(remoteFolder_);
          if (rotated) {
            SetBinary();
            Info("LIST");
            Info("Start deleting old backups");
            rotated = FTPDeleteOldBackups(task_.FileMsk5_Prefix, ext, task_.DeepFTP, leaf, task_.WhatDeepFTP);
            Info(client_.LastReplyText());
          }
        }
        status = rotated;
      }
    }
  } catch (const std::exception& error) {
    status = Status::Failure(EIO, error.what());
  }
  if (status) {
    result.ok = true;
  } else {
    const std::string message = client_.Redacted(status.Message());
    Info(message + "[" + client_.LastReplyText() + "]");
    result.error = WithoutFirstLineBreak(message);
  }
  client_.Quit();
  return result;
}

FtpUploadResult UploadToFTP(const std::string& localPath, core::TArhRecord& task,
                            const std::string& extension, const FtpUploadOptions& options,
                            const std::function<void()>& refreshRow) {
  TZentroNMFTP client(task, options, refreshRow);
  return client.Upload(localPath, extension);
}

}  // namespace zentrove::transfer
