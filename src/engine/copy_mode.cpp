#include "engine/copy_mode.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "base/text.h"
#include "engine/backup_safety.h"
#include "engine/destinations.h"
#include "engine/engine_ops.h"
#include "engine/locked_file.h"
#include "engine/run_control.h"
#include "engine/run_environment.h"
#include "log/log.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/scratch.h"

namespace zentrove::engine {
namespace {

using log::AddLogLine;
using log::LogLevel;

constexpr const char* kAborted = "The task has been aborted";
constexpr const char* kCopyError = "Copy error";

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The folder above a folder path that ends with "/": "/b/x/y/" -> "/b/x/".
std::string ParentFolder(const std::string& folder) {
  if (folder.size() < 2) return {};
  const std::size_t slash = folder.rfind('/', folder.size() - 2);
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

// The attribute value that the error texts show, in the Windows form: read-only 1, hidden 2,
// archive 32, or 128 (normal) when none of them.
std::uint32_t AttributeValue(const std::string& path, const platform::FileInfo& info) {
  std::uint32_t value = 0;
  if (info.readOnly) value |= 1;
  if (platform::IsHiddenName(path)) value |= 2;
  if (platform::IsArchiveAttributeSet(path)) value |= 32;
  return value == 0 ? 128 : value;
}

constexpr std::uint32_t kOwnerWrite = 0200;

}  // namespace

std::string CopyDestinationFolder(const std::string& backupFolder, const std::string& folder,
                                  const std::string& baseFolder, const core::TArhRecord& task) {
  std::string destination = WithTrailingSlash(WithoutTrailingSlash(backupFolder));
  if (!task.SavePath) return destination;
  std::string_view rest = folder;
  if (!task.StoreFullPathOnCopy && base::StartsWith(rest, baseFolder)) {
    rest.remove_prefix(baseFolder.size());
  } else if (rest.size() > 2 && rest[0] == '/' && rest[1] == '/' && rest[2] != '/') {
    rest.remove_prefix(2);  // "//server/share/dir/" keeps server and share
  }
  AppendFolderParts(destination, rest);
  return destination;
}

TCopyProcess::TCopyProcess(RunContext& run)
    : run_(run),
      task_(run.Task),
      sync_(run.Task.IfArhiveExistSync),
      backup_(WithTrailingSlash(WithoutTrailingSlash(run.ZipName))),
      selection_(SourceSelection::FromTask(run.Task)) {}

void TCopyProcess::Mark(const std::string& text, const char* marker) {
  marker_.assign(run_.ShownPath(text)).append(marker);
  task_.NextFileText = marker_;
}

int TCopyProcess::Execute() {
  // The total for the progress and the files to copy come from one walk of the sources.
  PrepareWalk();
  run_.TotalBytes = selected_.totalBytes;
  run_.BytesDone = 0;

  const std::string backupFolder = WithoutTrailingSlash(backup_);
  if (!IsExistingFolder(backupFolder)) (void)EnsureFolder(backupFolder);
  knownFolders_.insert(backup_);
  if (sync_) AddToSyncList(backup_, true);

  bool succeeded = true;
  if (!selected_.stopped) {
    for (std::size_t item = 0; item < selection_.Includes().size() && succeeded && !task_.StopTask; ++item) {
      succeeded = CopyProcess(item);
    }
  }

  if (sync_ && !task_.StopTask) {
    AddLogLine(LogLevel::Warning, task_.TaskNumber,
               "SYNC: Start to delete old files from archive: " + backupFolder);
    SyncDeleteMissing(backupFolder);
    AddLogLine(LogLevel::Information, task_.TaskNumber, "SYNC: Deleteing old files from archive complete");
  }
  task_.NextFileText = task_.NextFileText.get() + "Final [1]";
  keptFiles_.clear();
  keptFolders_.clear();
  task_.NextFileText = task_.NextFileText.get() + "Final [2]";
  task_.NextFileText = task_.NextFileText.get() + "Final [3]";
  if (task_.StopTask || selected_.stopped) throw std::runtime_error(kAborted);
  if (!succeeded) throw std::runtime_error(kCopyError);
  task_.NextFileText = task_.NextFileText.get() + "Final [4]";
  return copied_;
}

void TCopyProcess::PrepareWalk() {
  // Folders whose walk met an error of any kind; their files are partly or wholly unknown.
  std::vector<std::string> unseen;
  WalkControl control;
  control.stopRequested = [this] { return static_cast<bool>(task_.StopTask); };
  control.onFolder = [this](const std::string& folder) { walkedFolders_.push_back(folder); };
  control.onUnreadableFolder = [this, &unseen](const std::string& folder, int errorCode) {
    NoteLeftOut(run_, folder, errorCode);
    unseen.push_back(folder);
  };
  control.onUnreadableEntry = [this, &unseen](const std::string& path, int errorCode) {
    NoteLeftOut(run_, path, errorCode);
    unseen.push_back(FolderPart(path));
  };
  SelectOptions options;
  options.duplicates = Duplicates::Keep;
  options.allLinks = true;
  selected_ = selection_.Select(control, options);
  for (const std::string& folder : unseen)
    KeepTreeOf(folder);
}

// A source folder that could not be read whole contributes fewer files; with a synchronising copy
// the copies of the others would then look deleted and be removed. Its whole destination tree is
// kept instead.
void TCopyProcess::KeepTreeOf(const std::string& folder) {
  if (!sync_) return;
  for (const IncludeItem& item : selection_.Includes()) {
    if (!base::StartsWith(folder, item.baseFolder)) continue;
    const std::string destination = CopyDestinationFolder(backup_, folder, item.baseFolder, task_);
    if (std::find(keptTrees_.begin(), keptTrees_.end(), destination) != keptTrees_.end()) continue;
    keptTrees_.push_back(destination);
    AddToSyncList(destination, true);
    AddLogLine(LogLevel::Warning, task_.TaskNumber,
               "SYNC: The source folder cannot be read, its copy stays in the archive: " + destination);
  }
}

void TCopyProcess::AddToSyncList(const std::string& path, bool folder) {
  run_.SyncList.push_back(path);
  std::string parent = path;
  if (!folder) {
    keptFiles_.insert(path);
    parent = std::string(FolderPart(path));
  }
  // Every folder above a kept entry stays too.
  while (parent.size() >= backup_.size() && keptFolders_.insert(parent).second)
    parent = ParentFolder(parent);
}

bool TCopyProcess::CopyProcess(std::size_t item) {
  const IncludeItem& include = selection_.Includes()[item];
  const std::string& base = include.baseFolder;

  std::unordered_set<std::string> seen;
  for (const std::string& folder : walkedFolders_) {
    if (task_.StopTask) return true;
    if (!base::StartsWith(folder, base) || (!selection_.ProcessSubfolders() && folder != base)) continue;
    if (!seen.insert(folder).second) continue;
    Mark(folder, "CopyProcess [1]");
    Mark(folder, "CopyProcess [2]");
    const std::string destination = CopyDestinationFolder(backup_, folder, base, task_);
    if (task_.SavePath) Mark(folder, "CopyProcess [3]");
    if (task_.SavePath && task_.StoreEmptyFolders)
      (void)EnsureDestinationFolder(folder, destination, base, true);
    if (sync_) AddToSyncList(destination, true);
    Mark(folder, "CopyProcess [4]");
  }

  bool result = true;
  std::string sourceFolder;
  std::string destinationFolder;
  for (const SourceEntry& file : selected_.files) {
    if (file.item != item) continue;
    if (task_.StopTask || !result) break;
    const std::string_view name = NamePart(file.path);
    const std::string_view folder = std::string_view(file.path).substr(0, file.path.size() - name.size());
    const bool first = folder != sourceFolder;
    if (first) {
      sourceFolder.assign(folder);
      destinationFolder = CopyDestinationFolder(backup_, sourceFolder, base, task_);
    } else {
      Mark(file.path, "CopyProcess [9]");
    }
    Mark(file.path, first ? "CopyProcess [5]" : "CopyProcess [10]");
    Mark(file.path, first ? "CopyProcess [6]" : "CopyProcess [11]");
    currentBase_ = base;
    result = DoCopyFile(file, destinationFolder);
    if (!first) Mark(file.path, "CopyProcess [12]");
    if (sync_) AddToSyncList(destinationFolder + std::string(name), false);
  }
  return result;
}

bool TCopyProcess::DoCopyFile(const SourceEntry& source, const std::string& destinationFolder) {
  Mark(destinationFolder, "DoCopyFile [1]");
  const std::string destination = destinationFolder + std::string(NamePart(source.path));
  const auto sourceFolder = [&source] { return std::string(FolderPart(source.path)); };
  const platform::FileInfo existing = platform::Stat(destination);
  const bool exists = existing.exists;
  const int copiedBefore = copied_;
  bool result = true;
  switch (run_.Action) {
    case ZipAction::Update:
      Mark(destinationFolder, "DoCopyFile [2]");
      if (exists) {
        Mark(destinationFolder, "DoCopyFile [7]");
        bool same = false;
        if (IsLink(source.kind)) {
          same = existing.kind == platform::FileKind::Symlink &&
                 LinkTarget(destination) == LinkTarget(source.path);
        } else {
          same = existing.kind == platform::FileKind::File && existing.size == source.size &&
                 existing.mtimeNs == source.mtimeNs;
        }
        if (!same) {
          Mark(destinationFolder, "DoCopyFile [8]");
          result = CopyFileBody(source, destination, exists);
          Mark(destinationFolder, "DoCopyFile [9]");
        }
      } else {
        Mark(destinationFolder, "DoCopyFile [3]");
        if (!knownFolders_.contains(destinationFolder)) {
          Mark(destinationFolder, "DoCopyFile [4]");
          (void)EnsureDestinationFolder(sourceFolder(), destinationFolder, currentBase_, false);
        }
        Mark(destinationFolder, "DoCopyFile [5]");
        result = CopyFileBody(source, destination, exists);
        Mark(destinationFolder, "DoCopyFile [6]");
      }
      break;
    case ZipAction::Replace:
      if (!exists) (void)EnsureDestinationFolder(sourceFolder(), destinationFolder, currentBase_, false);
      result = CopyFileBody(source, destination, exists);
      break;
    case ZipAction::Freshen:
      if (exists) result = CopyFileBody(source, destination, exists);
      break;
  }
  // A copy that stays in a synchronised folder loses its read-only and archive attributes, so that
  // nothing stands in the way of replacing or deleting it later. Done here, where its state is
  // known, rather than by looking at every file again in the deletion pass.
  if (sync_ && exists && copied_ == copiedBefore && existing.kind == platform::FileKind::File) {
    if (existing.readOnly) (void)platform::SetMode(destination, existing.mode | kOwnerWrite);
    (void)platform::SetArchiveAttribute(destination);
  }
  Mark(destinationFolder, "DoCopyFile [10]");
  Mark(destinationFolder, "DoCopyFile [11]");
  return result;
}

bool TCopyProcess::EnsureDestinationFolder(const std::string& sourceFolder,
                                           const std::string& destinationFolder, const std::string& base,
                                           bool inCopyProcess) {
  if (knownFolders_.contains(destinationFolder)) return true;
  if (IsExistingFolder(destinationFolder)) {
    knownFolders_.insert(destinationFolder);
    return true;
  }
  const std::string lead = inCopyProcess ? "." : "";
  task_.NextFileText = lead + "Creating folder: " + run_.ShownPath(destinationFolder);

  // The missing folders from the top down; those that stand for a folder of the item's tree get
  // that folder's access rights.
  struct Level {
    std::string destination;
    std::string source;
  };
  std::vector<Level> missing;
  std::string destination = destinationFolder;
  std::string source = sourceFolder;
  while (destination.size() > backup_.size() && !knownFolders_.contains(destination) &&
         !IsExistingFolder(destination)) {
    missing.push_back({destination, base::StartsWith(source, base) ? source : std::string()});
    destination = ParentFolder(destination);
    source = ParentFolder(source);
  }
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
    const std::string path = WithoutTrailingSlash(level->destination);
    if (const platform::Status made = platform::CreateFolder(path); made) {
      if (!level->source.empty()) CopyAccessRightsOf(WithoutTrailingSlash(level->source), path, task_);
    } else if (made.Code() != EEXIST) {
      break;
    }
  }
  if (!IsExistingFolder(destinationFolder)) {
    AddLogLine(LogLevel::Warning, task_.TaskNumber,
               "Can not create destination folder: " + run_.ShownPath(destinationFolder));
    return false;
  }
  knownFolders_.insert(destinationFolder);
  task_.LastFileText = lead + "Creating folder is completed: " + run_.ShownPath(destinationFolder);
  return true;
}

bool TCopyProcess::SkipOrRaise(const std::string& destination, int errorCode, std::uint32_t attributes) {
  const std::string remainder = ErrorCodeSuffix(errorCode) + Quoted(run_.ShownPath(destination)) + " Attr:[" +
                                std::to_string(attributes) + "]";
  if (PathExists(destination)) throw std::runtime_error("Can not override destination file: " + remainder);
  // Only a name the file system calls too long may be skipped; any other failure would leave a
  // file out of the backup silently.
  if (SystemErrorCode(errorCode) == 206 && task_.ContinueAfterLongFile) {
    AddLogLine(LogLevel::Warning, task_.TaskNumber, "Can not create destination file: " + remainder);
    ++run_.LeftOut;
    return true;
  }
  throw std::runtime_error("Can not create destination file: " + remainder);
}

bool TCopyProcess::CopyFileBody(const SourceEntry& source, const std::string& destination,
                                std::optional<bool> destinationExists) {
  task_.NextFileText = source.path;
  if (IsLink(source.kind)) return CopyLinkBody(source, destination);
  SourceFile in = OpenSourceFile(run_, source.path);
  if (!in.IsOpen()) return true;
  const platform::FileInfo& info = in.Info();

  // The copy is never readable by more people than the source while it is being written.
  auto created =
      platform::ScratchWriter::Create(destination, platform::ScratchShape::Counted, info.mode & 0777);
  if (!created) return SkipOrRaise(destination, created.Code(), AttributeValue(source.path, info));
  platform::ScratchWriter& writer = *created;
  platform::File& out = writer.Output();

  const auto raiseWriteFailure = [&](int errorCode, std::uint64_t written) {
    writer.Abandon();
    const std::string text = ErrorCodeSuffix(errorCode) + Quoted(run_.ShownPath(destination)) + " NWD=[" +
                             std::to_string(written) + "]";
    if (destination.size() <= kLongDestinationPath)
      throw std::runtime_error("Not enough room to write archive_: " + text);
    throw std::runtime_error("Destination file name too long: " + text);
  };

  const std::size_t chunk = std::clamp<std::size_t>(static_cast<std::size_t>(info.size), 1, kCopyChunk);
  if (buffer_.size() < chunk) buffer_.resize(kCopyChunk);
  // The copy holds what the file held when it was opened, and takes that moment's time; a file
  // that grows meanwhile is copied again by the next run, as its time has changed.
  std::uint64_t remaining = info.size;
  // The kernel copies the chunks itself where it can, which spares one pass over the data; where it
  // cannot (another kind of file system, an old kernel), the chunks go through the buffer.
  bool kernelCopy = true;
  while (remaining > 0) {
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, remaining));
    if (kernelCopy) {
      const auto n = out.CopyFrom(in.Handle(), wanted);
      if (!n && (n.Code() == ENOSPC || n.Code() == EDQUOT || n.Code() == EFBIG))
        raiseWriteFailure(n.Code(), 0);
      if (!n || *n == 0) {
        kernelCopy = false;  // the buffer copy below tells a read failure from a write failure
        continue;
      }
      remaining -= *n;
      run_.BytesDone += *n;
      if (run_.TotalBytes != 0)
        ThrottleAfterPercent(run_, static_cast<int>(run_.BytesDone * 100 / run_.TotalBytes));
      continue;
    }
    const auto n = in.Handle().Read(buffer_.data(), wanted);
    if (!n) {
      writer.Abandon();
      throw std::runtime_error("Cannot read the source file: " + ErrorCodeSuffix(n.Code()) +
                               Quoted(source.path));
    }
    if (*n == 0) break;
    remaining -= *n;
    std::size_t written = 0;
    if (const platform::Status status = out.Write(buffer_.data(), *n, &written); !status)
      raiseWriteFailure(status.Code(), written);
    run_.BytesDone += *n;
    if (run_.TotalBytes != 0)
      ThrottleAfterPercent(run_, static_cast<int>(run_.BytesDone * 100 / run_.TotalBytes));
  }

  FinishCopiedFile(in.Handle(), out, info, task_);
  const bool replacing = destinationExists ? *destinationExists : platform::Stat(destination).exists;
  // The old copy is given up only for one that is on the disk, and so is the source itself.
  const platform::Flush flushFile =
      replacing || task_.DeleteFileAfterZip ? platform::Flush::Yes : platform::Flush::No;
  if (const platform::Status completed = writer.Complete(flushFile); !completed)
    raiseWriteFailure(completed.Code(), 0);
  const platform::Flush flushFolder = task_.DeleteFileAfterZip ? platform::Flush::Yes : platform::Flush::No;
  if (const platform::Status moved = writer.MoveInPlace(platform::Replace::Yes, flushFolder); !moved) {
    writer.Abandon();
    // The scratch name is kept short enough for any folder; only the final name can be too long.
    if (moved.Code() == ENAMETOOLONG)
      return SkipOrRaise(destination, moved.Code(), AttributeValue(source.path, info));
    throw std::runtime_error("Can not override destination file: " + ErrorCodeSuffix(moved.Code()) +
                             Quoted(run_.ShownPath(destination)) + " Attr:[" +
                             std::to_string(AttributeValue(source.path, info)) + "]");
  }
  // A fresh copy carries no archive mark; only its read-only attribute is left to lose.
  if (sync_ && info.readOnly) (void)platform::SetMode(destination, info.mode | kOwnerWrite);
  AfterCopy(source, info);
  return true;
}

bool TCopyProcess::CopyLinkBody(const SourceEntry& source, const std::string& destination) {
  const platform::FileInfo info = platform::Stat(source.path);
  if (info.kind != platform::FileKind::Symlink) {
    AddLogLine(LogLevel::Warning, task_.TaskNumber,
               "The file " + source.path + " no longer exists. The file is skipped");
    return true;
  }
  if (!CopySymlink(source.path, destination)) {
    const int failure = errno;
    return SkipOrRaise(destination, failure, AttributeValue(source.path, info));
  }
  AfterCopy(source, info);
  return true;
}

void TCopyProcess::AfterCopy(const SourceEntry& source, const platform::FileInfo& stateWhenRead) {
  ++copied_;
  // A link is copied as a link: what it points to has not been backed up by this copy.
  if (task_.ResetArchiveBitOnZip && source.kind == EntryKind::File) {
    (void)platform::ClearArchiveAttribute(source.path, stateWhenRead);
  }
  OnEndZip(run_, source.path, stateWhenRead.size);
  if (task_.DeleteFileAfterZip) {
    const platform::FileInfo now = platform::Stat(source.path);
    using platform::FileKind;
    const bool unchanged = now.exists && now.size == stateWhenRead.size &&
                           now.mtimeNs == stateWhenRead.mtimeNs &&
                           (now.kind == FileKind::Symlink) == (stateWhenRead.kind == FileKind::Symlink);
    if (unchanged) {
      (void)DiscardPath(source.path);
    } else {
      AddLogLine(LogLevel::Warning, task_.TaskNumber,
                 "The file " + source.path + " changed while it was copied and is not deleted");
    }
  }
  task_.LastFileText = source.path;
}

bool TCopyProcess::Kept(const std::string& path, bool folder) const {
  return folder ? keptFolders_.contains(path) : keptFiles_.contains(path);
}

void TCopyProcess::SyncDeleteMissing(const std::string& backupFolder) {
  SyncFolder(WithTrailingSlash(WithoutTrailingSlash(backupFolder)));
}

void TCopyProcess::SyncFolder(const std::string& folder) {
  for (const std::string& tree : keptTrees_) {
    if (base::StartsWith(folder, tree)) return;
  }
  const auto removed = [this](const std::string& path) {
    AddLogLine(LogLevel::Warning, task_.TaskNumber,
               "SYNC: File is not found in sources and removed from archive: " + path);
  };
  if (!Kept(folder, true)) {
    if (DeleteFileOrTree(folder)) removed(folder);
    return;
  }
  auto entries = platform::ListFolder(WithoutTrailingSlash(folder));
  if (!entries) {
    AddLogLine(LogLevel::Error, 0,
               "The file cannot be deleted : " + folder + " [" +
                   std::to_string(SystemErrorCode(entries.Code())) + "]");
    return;
  }
  for (const platform::FolderEntry& entry : *entries) {
    const std::string path = folder + entry.name;
    if (entry.kind == platform::FileKind::Folder) {
      SyncFolder(path + "/");
      continue;
    }
    if (Kept(path, false) || (folder == backup_ && entry.name == kScratchFolderMark)) continue;
    if (DeleteFileOrTree(path)) removed(path);
  }
}

StepResult CopyModeStep(RunContext& run) {
  TCopyProcess process(run);
  const int copied = process.Execute();
  return StepResult{true, copied};
}

void RegisterCopyAndDestinationSteps(RunEnvironment& environment) {
  environment.SetBackupStep(BackupStepKind::Copy, CopyModeStep);
  environment.SetDistributionStep(DistributionStepKind::ExtraFolders, CopyToExtraFolders);
  environment.SetDistributionStep(DistributionStepKind::MainRotation, RotateMainFolder);
}

}  // namespace zentrove::engine
