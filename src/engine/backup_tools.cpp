#include "engine/backup_tools.h"

#include <algorithm>
#include <cerrno>

#include "base/clock.h"
#include "base/text.h"
#include "engine/archive_naming.h"
#include "engine/copy_mode.h"
#include "engine/destinations.h"
#include "engine/engine_ops.h"
#include "engine/external_archiver.h"
#include "engine/source_selection.h"
#include "engine/zip/zip_reader.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/scratch.h"

namespace zentrove::engine {
namespace {

constexpr int kCopyMode = 1;
constexpr int kFtpMode = 2;
constexpr std::size_t kCopyChunkSize = 65536;

std::string ExtensionPart(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return {};
  return path.substr(dot);
}

// A pattern names a stored path from its end, so "sub/*" or "report.txt" need not spell out the
// folders a full-path backup stores above them.
bool MatchesRestorePattern(const std::string& pattern, const std::string& name) {
  return MatchesMask(pattern, name) || MatchesMask("*/" + pattern, name);
}

struct DestinationFolder {
  std::string label;
  std::string folder;
  std::string prefix;
  std::string dateFormat;
  Destination destination;
};

// The copies from a second tree walk: the relative paths of every file, link and folder below
// `folder`, folders before what they hold.
void WalkTree(const std::string& folder, const std::string& relative,
              std::vector<std::pair<std::string, platform::FileKind>>& out) {
  auto entries = platform::ListFolder(folder + relative);
  if (!entries) return;
  std::sort(entries->begin(), entries->end(),
            [](const platform::FolderEntry& a, const platform::FolderEntry& b) { return a.name < b.name; });
  for (const platform::FolderEntry& entry : *entries) {
    const std::string path = relative.empty() ? entry.name : relative + "/" + entry.name;
    out.emplace_back(path, entry.kind);
    if (entry.kind == platform::FileKind::Folder) WalkTree(folder, path, out);
  }
}

void RestoreCopiedFile(const std::string& from, const std::string& to, const platform::FileInfo& info,
                       const RestoreRequest& request, zip::ExtractedEntry& result) {
  auto source = platform::File::Open(from);
  if (!source) {
    result.Message = source.Message();
    return;
  }
  auto writer = platform::ScratchWriter::Create(to, platform::ScratchShape::Counted, 0600);
  if (!writer) {
    result.Message = writer.Message();
    return;
  }
  std::vector<char> buffer(kCopyChunkSize);
  for (;;) {
    if (request.cancelFlag != nullptr && request.cancelFlag->load()) {
      result.Message = "stopped";
      return;
    }
    auto read = source->Read(buffer.data(), buffer.size());
    if (!read) {
      result.Message = read.Message();
      return;
    }
    if (*read == 0) break;
    if (const platform::Status written = writer->Output().Write(buffer.data(), *read); !written) {
      result.Message = written.Message();
      return;
    }
  }
  platform::Status committed = writer->Output().SetMode(info.mode & 0777);
  if (committed) {
    committed =
        writer->Commit(request.existing == zip::ExistingFiles::Overwrite ? platform::Replace::Yes
                                                                         : platform::Replace::OnlyWhenFree);
  }
  if (!committed) {
    result.Status = committed.Code() == EEXIST ? zip::ExtractStatus::Kept : zip::ExtractStatus::Failed;
    result.Message = committed.Code() == EEXIST ? "exists; not overwritten" : committed.Message();
    return;
  }
  (void)platform::SetFileTimes(to, info.mtimeNs, platform::kKeepTime);
  result.Size = info.size;
  result.Status = zip::ExtractStatus::Restored;
}

zip::ExtractReport RestoreCopyFolder(const std::string& backup, const RestoreRequest& request) {
  zip::ExtractReport report;
  const std::string source = platform::WithTrailingSlash(backup);
  const std::string target = platform::WithTrailingSlash(request.folder);
  std::vector<std::pair<std::string, platform::FileKind>> tree;
  WalkTree(source, "", tree);
  for (const auto& item : tree) {
    const platform::FileKind kind = item.second;
    // A named copy, since a lambda below takes it and Clang 14 cannot capture a structured binding.
    const std::string& relative = item.first;
    if (kind == platform::FileKind::Folder) {
      (void)EnsureFolder(target + relative);
      continue;
    }
    if (!request.patterns.empty() &&
        std::none_of(request.patterns.begin(), request.patterns.end(),
                     [&](const std::string& mask) { return MatchesRestorePattern(mask, relative); })) {
      continue;
    }
    zip::ExtractedEntry result;
    result.Name = relative;
    const std::string to = target + relative;
    const platform::FileInfo there = platform::Stat(to);
    const platform::FileInfo info = platform::Stat(source + relative);
    if (there.exists &&
        (there.kind == platform::FileKind::Folder || request.existing == zip::ExistingFiles::Keep)) {
      result.Status = zip::ExtractStatus::Kept;
      result.Message = "exists; not overwritten";
    } else if (!EnsureFolder(platform::WithoutTrailingSlash(to.substr(0, to.rfind('/'))))) {
      result.Message = "the folder cannot be created";
    } else if (kind == platform::FileKind::Symlink) {
      const platform::Status made = zip::PlaceSymlink(LinkTarget(source + relative), to, request.existing);
      result.Status = made ? zip::ExtractStatus::Restored : zip::ExtractStatus::Failed;
      result.Message = made.Message();
      if (made) (void)platform::SetFileTimes(to, info.mtimeNs, platform::kKeepTime);
    } else if (kind == platform::FileKind::File) {
      RestoreCopiedFile(source + relative, to, info, request, result);
    } else {
      result.Status = zip::ExtractStatus::Refused;
      result.Message = "not a file, folder or link";
    }
    report.Entries.push_back(std::move(result));
  }
  return report;
}

VerifyResult VerifyCopyFolder(const core::TArhRecord& task, const std::string& backup) {
  VerifyResult verdict;
  core::TArhRecord every;
  core::CopyTaskRecord(task, every);
  every.SkipIfArchiveBitNotSet = false;
  const SourceSelection selection = SourceSelection::FromTask(every);
  const SelectedSources selected = selection.Select();
  const bool full = !task.SkipIfArchiveBitNotSet;
  const std::string backupFolder = platform::WithTrailingSlash(backup);
  for (const SourceEntry& file : selected.files) {
    const std::size_t slash = file.path.rfind('/');
    const std::string folder = file.path.substr(0, slash + 1);
    const std::string copy =
        CopyDestinationFolder(backupFolder, folder, selection.Includes()[file.item].baseFolder, task) +
        file.path.substr(slash + 1);
    const platform::FileInfo info = platform::Stat(copy);
    if (!info.exists) {
      if (!full) continue;
      verdict.damage = copy + ": missing (source " + file.path + ")";
      return verdict;
    }
    ++verdict.checked;
    if (file.kind == EntryKind::LinkToFile) continue;
    if (info.size != file.size) {
      verdict.damage = copy + ": size " + std::to_string(info.size) + " differs from the source's " +
                       std::to_string(file.size);
      return verdict;
    }
    if (info.mtimeNs / 1000000000 != file.mtimeNs / 1000000000) {
      verdict.damage = copy + ": time differs from the source's";
      return verdict;
    }
  }
  verdict.sound = true;
  return verdict;
}

}  // namespace

std::string BackupExtensionOf(const core::TArhRecord& task) {
  if (task.ArchiveOrCopy == kCopyMode || task.ArchiveOrCopy == kFtpMode) return {};
  if (task.UseInnerZip) return ".zip";
  return "." + LoadArchiverConfig(task.UseExtArh, task.TaskNumber).Ext;
}

std::vector<BackupItem> ListBackups(const core::TArhRecord& task) {
  std::vector<BackupItem> items;
  if (task.ArchiveOrCopy == kFtpMode) return items;
  const std::string extension = BackupExtensionOf(task);
  const base::TDateTime now = base::NowLocal();
  const DestinationFolder destinations[] = {
      {"main", task.Target, task.FileMsk_Prefix, task.FileMsk_ArhDateFormat, Destination::Main},
      {"extra 1", task.Target2, task.FileMsk2_Prefix, task.FileMsk2_ArhDateFormat, Destination::Extra2},
      {"extra 2", task.Target3, task.FileMsk3_Prefix, task.FileMsk3_ArhDateFormat, Destination::Extra3},
      {"extra 3", task.Target4, task.FileMsk4_Prefix, task.FileMsk4_ArhDateFormat, Destination::Extra4}};
  for (const DestinationFolder& destination : destinations) {
    if (destination.folder.empty()) continue;
    const std::string folder = platform::WithoutTrailingSlash(destination.folder);
    const std::string newest = ArchiveName(task, destination.destination, extension, now);
    const RotationPattern pattern =
        RotationPatternOf(folder, destination.prefix, extension, destination.dateFormat, newest);
    // With neither a prefix nor a date format a copy-mode backup is the folder itself.
    const bool folderIsBackup = task.ArchiveOrCopy == kCopyMode && pattern.stem.empty() && extension.empty();
    std::vector<ListRec> found;
    if (folderIsBackup) {
      const platform::FileInfo info = platform::Stat(folder);
      if (info.exists) found.push_back({"", FileTimeToLocal(info.mtimeNs)});
    } else {
      found = FindBackups(pattern);
    }
    for (const ListRec& rec : found) {
      BackupItem item;
      item.path = rec.name.empty() ? folder : pattern.searchFolder + "/" + rec.name;
      item.destination = destination.label;
      item.time = rec.time;
      const platform::FileInfo info = platform::Stat(item.path);
      item.isFolder = info.kind == platform::FileKind::Folder;
      item.size = item.isFolder ? TreeSize(item.path) : info.size;
      // Archives record the kind they were made as in their comment; others stay unknown.
      if (!item.isFolder) item.kind = RecordedBackupKind(item.path).value_or(BackupKind::Unknown);
      items.push_back(std::move(item));
    }
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const BackupItem& a, const BackupItem& b) { return a.time > b.time; });
  return items;
}

VerifyResult VerifyBackup(const core::TArhRecord& task, const std::string& backupPath) {
  const platform::FileInfo info = platform::Stat(backupPath);
  VerifyResult verdict;
  if (!info.exists) {
    verdict.damage = backupPath + ": missing";
    return verdict;
  }
  if (info.kind == platform::FileKind::Folder) return VerifyCopyFolder(task, backupPath);
  if (!base::EqualsNoCase(ExtensionPart(backupPath), ".zip")) {
    verdict.damage = backupPath + ": only ZIP archives and copy-mode folders can be tested";
    return verdict;
  }
  zip::ArchiveTestOptions options;
  options.Password = task.Password;
  options.Threads = 1;
  const zip::ArchiveTestResult result = zip::TestArchive(backupPath, options);
  verdict.checked = result.Entries.size();
  if (result.OpenError) {
    verdict.damage = backupPath + ": " + result.OpenError.Message;
    return verdict;
  }
  for (const zip::EntryTestResult& entry : result.Entries) {
    if (entry.Ok) continue;
    verdict.damage = entry.Name + ": " + entry.Error.Message;
    return verdict;
  }
  verdict.sound = result.Ok;
  if (!verdict.sound) verdict.damage = backupPath + ": the test did not finish";
  return verdict;
}

RestoreResult RestoreBackup(const core::TArhRecord& task, const RestoreRequest& request) {
  RestoreResult restored;
  if (!EnsureFolder(request.folder)) {
    restored.openError = request.folder + ": the folder cannot be created";
    return restored;
  }
  if (platform::Stat(request.backupPath).kind == platform::FileKind::Folder) {
    restored.report = RestoreCopyFolder(request.backupPath, request);
    return restored;
  }
  zip::ZipError error;
  const std::unique_ptr<zip::ZipReader> reader = zip::ZipReader::Open(request.backupPath, error);
  if (!reader) {
    restored.openError = request.backupPath + ": " + error.Message;
    return restored;
  }
  zip::ExtractRequest extract;
  extract.Folder = request.folder;
  extract.Password = task.Password;
  extract.Existing = request.existing;
  extract.CancelFlag = request.cancelFlag;
  if (!request.patterns.empty()) {
    extract.Select = [&request](const std::string& name) {
      return std::any_of(request.patterns.begin(), request.patterns.end(),
                         [&name](const std::string& mask) { return MatchesRestorePattern(mask, name); });
    };
  }
  restored.report = zip::ExtractArchive(*reader, extract);
  return restored;
}

}  // namespace zentrove::engine
