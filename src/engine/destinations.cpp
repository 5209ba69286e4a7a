#include "engine/destinations.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/clock.h"
#include "base/regional_format.h"
#include "base/text.h"
#include "core/options.h"
#include "engine/archive_naming.h"
#include "engine/backup_safety.h"
#include "engine/engine_ops.h"
#include "engine/locked_file.h"
#include "engine/run_control.h"
#include "engine/source_selection.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/scratch.h"

namespace zentrove::engine {
namespace {

using log::AddLogLine;
using log::LogLevel;

constexpr std::size_t kExtraCopyChunk = 61440;

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// Flushes the scratch copy to disk before it replaces anything: a single file by itself, a tree by
// flushing its whole file system.
bool FlushCopy(const std::string& path, bool folder) {
  if (folder) return IsExistingFolder(path) && platform::SyncFileSystem(path).Ok();
  auto file = platform::File::Open(path);
  return file && file->Sync().Ok();
}

std::string ConnectionErrorText(const std::string& folder) {
  return "Failed to connect to " + ShareOfPath(folder) +
         " . Please make sure that user name and password are correct";
}

struct ExtraFolder {
  const std::string& folder;
  const std::string& prefix;
  const std::string& dateFormat;
  int unit;
  int depth;
  bool dontOverwrite;
  Destination destination;
};

void CopyToExtraFolder(RunContext& run, const ExtraFolder& extra, StepResult& result) {
  core::TArhRecord& task = run.Task;
  const int number = task.TaskNumber;
  const std::string folder = WithoutTrailingSlash(extra.folder);
  const auto fail = [&] {
    const std::string text = "Cannot copy archive to " + Quoted(extra.folder);
    AddLogLine(LogLevel::Error, number, text);
    run.ErrorText = text;
    result = StepResult{false, 0};
  };
  try {
    const std::string destination =
        WithoutTrailingSlash(ArchiveName(task, extra.destination, run.Extension, base::NowLocal()));
    if (!IsExistingFolder(folder) && !EnsureFolder(folder) &&
        !ConnectShare(folder, task.UserName, task.UserPassword)) {
      AddLogLine(LogLevel::Error, number, ConnectionErrorText(folder));
    }
    if (extra.dontOverwrite && PathExists(destination)) {
      AddLogLine(LogLevel::Warning, number,
                 "Copying to additional folder was canceled according to setting - archive already exists: " +
                     Quoted(destination));
      return;
    }
    const auto rotate = [&] {
      RotateOldBackups(folder, extra.prefix, run.Extension, extra.dateFormat, destination, number, extra.unit,
                       extra.depth, BackupKindOf(task));
    };
    RemoveLeftoverScratch(FolderPart(destination), extra.prefix, number);
    if (task.ApplyDeepBefore) rotate();
    if (!CopyArchiveTo(WithoutTrailingSlash(run.ZipName), destination, run)) {
      fail();
      return;
    }
    AddLogLine(LogLevel::Information, number, "Archive was copied to folder " + Quoted(extra.folder));
    if (!task.ApplyDeepBefore) rotate();
  } catch (...) {
    fail();
  }
}

// Newest first; times are kept at two-second resolution, so backups made close together tie, and
// then the later name (dated names sort by time) counts as the newer.
bool IsNewerBackup(const ListRec& a, const ListRec& b) {
  return a.time != b.time ? a.time > b.time : a.name > b.name;
}

// The newest archive that records a full backup; none when no candidate records one.
std::optional<ListRec> NewestFullArchive(const std::string& folder, std::vector<ListRec> candidates) {
  std::sort(candidates.begin(), candidates.end(), IsNewerBackup);
  for (const ListRec& candidate : candidates) {
    if (RecordedBackupKind(folder + "/" + candidate.name) == BackupKind::Full) return candidate;
  }
  return std::nullopt;
}

}  // namespace

std::uint64_t TreeSize(const std::string& folder) {
  std::uint64_t total = 0;
  auto entries = platform::ListFolder(folder);
  if (!entries) return 0;
  for (const platform::FolderEntry& entry : *entries) {
    const std::string path = folder + "/" + entry.name;
    if (entry.kind == platform::FileKind::Folder) {
      total += TreeSize(path);
    } else if (entry.kind == platform::FileKind::File) {
      total += platform::Stat(path).size;
    }
  }
  return total;
}

// ---------------------------------------------------------------------------------------------
// Shared pieces

void FinishCopiedFile(const platform::File& source, platform::File& copy,
                      const platform::FileInfo& sourceInfo, const core::TArhRecord& task) {
  if (task.CopyAccessRights) {
    // The same rights as CopyAccessRightsOf gives, through the open files: a copy of many small
    // files spends most of its time in such calls, and the paths need not be looked up again.
    if (const platform::Status copied = platform::CopyAclOfOpen(source, copy); !copied) {
      AddLogLine(LogLevel::Warning, task.TaskNumber,
                 "Copy Access Rights Error:" + platform::ErrnoText(copied.Code()) + ":" + source.Path());
    }
  } else if (sourceInfo.readOnly) {
    if (const platform::FileInfo own = copy.Info(); own.exists) (void)copy.SetMode(own.mode & 07555);
  }
  (void)copy.SetTimes(sourceInfo.mtimeNs, platform::kKeepTime);
}

std::string LinkTarget(const std::string& path) {
  return platform::ReadLink(path).ValueOr(std::string());
}

bool CopySymlink(const std::string& source, const std::string& destination) {
  const platform::FileInfo info = platform::Stat(source);
  if (info.kind != platform::FileKind::Symlink) {
    errno = info.exists ? EINVAL : info.errorCode;
    return false;
  }
  const std::string target = LinkTarget(source);
  if (target.empty()) return false;
  const std::string scratch =
      platform::ScratchPathFor(destination, platform::ScratchShape::Counted, platform::NextScratchCounter());
  (void)platform::RemoveFile(scratch);
  platform::Status status = platform::CreateSymlink(target, scratch);
  if (status) {
    (void)platform::SetFileTimes(scratch, info.mtimeNs, platform::kKeepTime);
    status = platform::MoveScratchInPlace(scratch, destination, platform::Replace::Yes, platform::Flush::No);
    if (!status) (void)platform::RemoveFile(scratch);
  }
  errno = status.Code();
  return status.Ok();
}

// ---------------------------------------------------------------------------------------------
// Copies to extra folders

std::string ScratchNameOf(const std::string& destination) {
  return platform::ScratchPathFor(destination, platform::ScratchShape::ReplacedExtension);
}

bool CopyFileData(RunContext& run, const std::string& source, const std::string& destination) {
  core::TArhRecord& task = run.Task;
  task.NextFileText = source;
  if (platform::Stat(source).kind == platform::FileKind::Symlink) {
    const bool copied = CopySymlink(source, destination);
    if (copied) task.LastFileText = source;
    return copied;
  }
  SourceFile in = OpenSourceFile(run, source);
  if (!in.IsOpen()) return true;

  const platform::FileInfo existing = platform::Stat(destination);
  if (existing.exists) {
    if (existing.kind == platform::FileKind::File) (void)platform::LoseAllAttributes(destination);
    if (!platform::RemoveFile(destination)) return false;
  }
  platform::OpenOptions options;
  options.access = platform::Access::Write;
  options.creation = platform::Creation::CreateOrTruncate;
  options.links = platform::Links::DontFollow;
  options.mode = in.Info().mode & 0777;
  auto out = platform::File::Open(destination, options);
  if (!out) return false;
  std::vector<char> buffer(
      std::clamp<std::size_t>(static_cast<std::size_t>(in.Info().size), 1, kExtraCopyChunk));
  bool copied = true;
  std::uint64_t remaining = in.Info().size;
  while (remaining > 0) {
    const auto n = in.Handle().Read(buffer.data(), std::min<std::uint64_t>(buffer.size(), remaining));
    if (!n || *n == 0) {
      copied = n.Ok();
      break;
    }
    remaining -= *n;
    if (!out->Write(buffer.data(), *n)) {
      copied = false;
      break;
    }
    run.BytesDone += *n;
    if (run.TotalBytes != 0)
      ThrottleAfterPercent(run, static_cast<int>(run.BytesDone * 100 / run.TotalBytes));
  }
  if (copied) FinishCopiedFile(in.Handle(), *out, in.Info(), task);
  if (!out->Close()) copied = false;
  if (!copied) {
    (void)platform::RemoveFile(destination);
    return false;
  }
  task.LastFileText = source;
  return PathExists(destination);
}

bool CopyTree(RunContext& run, const std::string& sourceFolder, const std::string& destinationFolder) {
  const std::string destination = WithoutTrailingSlash(destinationFolder);
  if (!IsExistingFolder(destination)) {
    if (!EnsureFolder(destination)) return false;
    CopyAccessRightsOf(WithoutTrailingSlash(sourceFolder), destination, run.Task);
  }
  auto entries = platform::ListFolder(WithoutTrailingSlash(sourceFolder));
  if (!entries) return false;
  for (const platform::FolderEntry& entry : *entries) {
    const std::string from = sourceFolder + entry.name;
    const std::string to = destination + "/" + entry.name;
    bool copied = true;
    switch (entry.kind) {
      case platform::FileKind::Folder:
        copied = CopyTree(run, from + "/", to + "/");
        break;
      case platform::FileKind::File:
      case platform::FileKind::Symlink:
        copied = CopyFileData(run, from, to);
        break;
      default:
        break;
    }
    if (!copied) return false;
  }
  return true;
}

bool CopyArchiveTo(const std::string& source, const std::string& destination, RunContext& run) {
  const std::string from = WithoutTrailingSlash(source);
  const std::string to = WithoutTrailingSlash(destination);
  AddLogLine(LogLevel::Information, run.Task.TaskNumber,
             "Starting copy process to directory:  " + Quoted(to));
  const std::string scratch = ScratchNameOf(to);
  try {
    run.Task.PercentDone = 0;
    run.BytesDone = 0;
    const std::string folder = FolderPart(to);
    if (!folder.empty() && !IsExistingFolder(folder)) (void)EnsureFolder(folder);
    // Leftovers of an interrupted copy: an unfinished scratch copy goes, and an old backup folder
    // that was moved aside but not yet replaced comes back.
    if (!RemoveOwnScratch(scratch)) return false;
    if (!PathExists(to) && IsExistingFolder(AsideNameOf(to))) (void)platform::Rename(AsideNameOf(to), to);

    const bool isFolder = IsExistingFolder(from);
    bool copied = false;
    if (isFolder) {
      run.TotalBytes = TreeSize(from);
      copied = CreateScratchFolder(scratch).Ok() && CopyTree(run, from + "/", scratch + "/");
    } else {
      run.TotalBytes = platform::StatFollow(from).size;
      copied = CopyFileData(run, from, scratch);
    }
    copied = copied && PathExists(scratch) && FlushCopy(scratch, isFolder);
    if (copied) {
      copied =
          isFolder
              ? ReplaceFolder(scratch, to, OldCopy::Delete, run.Task.TaskNumber).Ok()
              : platform::MoveScratchInPlace(scratch, to, platform::Replace::Yes, platform::Flush::No).Ok();
    }
    if (!copied) {
      (void)RemoveOwnScratch(scratch);
      return false;
    }
    if (isFolder) (void)platform::RemoveFile(to + "/" + kScratchFolderMark);
    (void)platform::SyncFolder(folder);
    return true;
  } catch (...) {
    return false;
  }
}

StepResult CopyToExtraFolders(RunContext& run, StepResult current) {
  const core::TArhRecord& task = run.Task;
  const ExtraFolder extras[] = {
      {task.Target2, task.FileMsk2_Prefix, task.FileMsk2_ArhDateFormat, task.WhatDeep2, task.Deep2,
       task.DontOverwriteIfExists2, Destination::Extra2},
      {task.Target3, task.FileMsk3_Prefix, task.FileMsk3_ArhDateFormat, task.WhatDeep3, task.Deep3,
       task.DontOverwriteIfExists3, Destination::Extra3},
      {task.Target4, task.FileMsk4_Prefix, task.FileMsk4_ArhDateFormat, task.WhatDeep4, task.Deep4,
       task.DontOverwriteIfExists4, Destination::Extra4},
  };
  for (const ExtraFolder& extra : extras) {
    if (!extra.folder.empty()) CopyToExtraFolder(run, extra, current);
  }
  return current;
}

// ---------------------------------------------------------------------------------------------
// Rotation

RotationPattern RotationPatternOf(const std::string& folder, const std::string& prefix,
                                  const std::string& extension, const std::string& dateFormat,
                                  const std::string& newestPath) {
  RotationPattern pattern;
  pattern.extension = extension;
  const bool dated =
      prefix.find_first_of("\\/") != std::string::npos || dateFormat.find('\\') != std::string::npos;
  if (!dated) {
    pattern.searchFolder = WithoutTrailingSlash(folder);
    pattern.stem = prefix;
    return pattern;
  }
  const std::string newest = WithoutTrailingSlash(newestPath);
  pattern.searchFolder = WithoutTrailingSlash(FolderPart(newest));
  std::string unexpanded = prefix + dateFormat + extension;
  std::replace(unexpanded.begin(), unexpanded.begin() + static_cast<std::ptrdiff_t>(prefix.size()), '/',
               '\\');
  const std::size_t separator = unexpanded.rfind('\\');
  const std::string lastPart = separator == std::string::npos ? unexpanded : unexpanded.substr(separator + 1);
  const std::string_view name = NamePart(newest);
  std::size_t common = 0;
  while (common < lastPart.size() && common < name.size() && lastPart[common] == name[common] &&
         lastPart[common] != '.') {
    ++common;
  }
  pattern.stem = lastPart.substr(0, common);
  return pattern;
}

bool MatchesRotationPattern(const RotationPattern& pattern, const std::string& name) {
  const std::string_view text = name;
  return text.size() >= pattern.stem.size() + pattern.extension.size() &&
         base::EqualsNoCase(text.substr(0, pattern.stem.size()), pattern.stem) &&
         base::EqualsNoCase(text.substr(text.size() - pattern.extension.size()), pattern.extension);
}

std::vector<ListRec> FindBackups(const RotationPattern& pattern) {
  std::vector<ListRec> found;
  auto entries = platform::ListFolder(pattern.searchFolder);
  if (!entries) return found;
  for (const platform::FolderEntry& entry : *entries) {
    // Scratch copies of unfinished runs and folders moved aside are never complete backups.
    if (!MatchesRotationPattern(pattern, entry.name) || platform::IsScratchName(entry.name) ||
        base::EndsWith(entry.name, ".~old")) {
      continue;
    }
    const platform::FileInfo info = platform::Stat(pattern.searchFolder + "/" + entry.name);
    if (!info.exists) continue;
    found.push_back({entry.name, FileTimeToLocal(info.mtimeNs)});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const ListRec& a, const ListRec& b) { return a.time > b.time; });
  return found;
}

base::TDateTime RotationLimit(base::TDateTime now, int unit, int depth) {
  if (unit == static_cast<int>(DepthUnit::Days)) return now - depth;
  if (unit != static_cast<int>(DepthUnit::Months)) return 0;
  const base::DateParts date = base::DecodeDate(now);
  const int months = date.year * 12 + (date.month - 1) - depth;
  const int year = months >= 0 ? months / 12 : -((-months + 11) / 12);
  const int month = months - year * 12 + 1;
  const int day = std::min(date.day, base::DaysInMonth(year, month));
  return base::EncodeDate(year, month, day) + base::TimeOf(now);
}

std::vector<ListRec> ChooseRotationVictims(std::vector<ListRec> candidates, const std::string& keepName,
                                           base::TDateTime now, int unit, int depth) {
  std::vector<ListRec> victims;
  if (depth <= 0) return victims;
  // Of backups whose times tie, the one just made is the newest.
  std::sort(candidates.begin(), candidates.end(), [&keepName](const ListRec& a, const ListRec& b) {
    if (a.time == b.time && (a.name == keepName) != (b.name == keepName)) return a.name == keepName;
    return IsNewerBackup(a, b);
  });
  const base::TDateTime limit = RotationLimit(now, unit, depth);
  std::size_t position = 0;
  for (ListRec& candidate : candidates) {
    if (candidate.time == 0) continue;
    const bool tooMany =
        unit == static_cast<int>(DepthUnit::Archives) && position >= static_cast<std::size_t>(depth);
    const bool tooOld = limit != 0 && candidate.time < limit;
    ++position;
    if ((tooMany || tooOld) && candidate.name != keepName) victims.push_back(std::move(candidate));
  }
  return victims;
}

void RotateOldBackups(const std::string& folder, const std::string& prefix, const std::string& extension,
                      const std::string& dateFormat, const std::string& newestPath, int taskNumber, int unit,
                      int depth, BackupKind kind) {
  if (depth <= 0) return;
  try {
    const RotationPattern pattern = RotationPatternOf(folder, prefix, extension, dateFormat, newestPath);
    const std::string newest = WithoutTrailingSlash(newestPath);
    if (base::StartsWith(pattern.searchFolder + "/", newest + "/")) {
      AddLogLine(LogLevel::Warning, taskNumber,
                 "Old backups are not deleted: the backup " + newest +
                     " is the folder they are searched in, so its own files would be taken for old backups");
      return;
    }
    std::vector<ListRec> candidates = FindBackups(pattern);
    const std::string keepName = base::StartsWith(newest, pattern.searchFolder + "/")
                                     ? newest.substr(pattern.searchFolder.size() + 1)
                                     : "";
    const bool toTrash = core::CurrentOptions()->DeleteinRecucledBin;
    const std::vector<ListRec> victims =
        ChooseRotationVictims(candidates, keepName, base::NowLocal(), unit, depth);
    // An incremental or differential archive needs the full one before it.
    std::optional<ListRec> newestFull;
    if (kind != BackupKind::Full && !victims.empty())
      newestFull = NewestFullArchive(pattern.searchFolder, std::move(candidates));
    for (const ListRec& victim : victims) {
      const std::string path = pattern.searchFolder + "/" + victim.name;
      if (newestFull && !IsNewerBackup(*newestFull, victim)) {
        AddLogLine(LogLevel::Information, taskNumber,
                   "The archive " + path +
                       " is kept, because newer incremental or differential archives depend on it");
        continue;
      }
      const std::string remainder =
          path + "(" + base::FormatDateTime(victim.time) + ")" + (toTrash ? "[in Recycled Bin]" : "");
      if (DiscardBackup(path, taskNumber)) {
        AddLogLine(LogLevel::Warning, taskNumber, "File was deleted " + remainder);
      } else {
        AddLogLine(LogLevel::Error, taskNumber, "The file cannot be deleted " + remainder);
      }
    }
  } catch (...) {
  }
}

StepResult RotateMainFolder(RunContext& run, StepResult current) {
  const core::TArhRecord& task = run.Task;
  RotateOldBackups(WithoutTrailingSlash(task.Target), task.FileMsk_Prefix, run.Extension,
                   task.FileMsk_ArhDateFormat, run.ZipName, task.TaskNumber, task.WhatDeep1,
                   task.DeleteWhenArhivMoreThan, BackupKindOf(task));
  return current;
}

}  // namespace zentrove::engine
