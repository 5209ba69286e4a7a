#include "engine/zip_step.h"

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/text.h"
#include "core/options.h"
#include "engine/backup_safety.h"
#include "engine/engine_ops.h"
#include "engine/locked_file.h"
#include "engine/run_control.h"
#include "engine/run_environment.h"
#include "engine/source_selection.h"
#include "engine/zip/zip_reader.h"
#include "engine/zip/zip_writer.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/scratch.h"

namespace zentrove::engine {
namespace {

using log::AddLogLine;
using log::LogLevel;

constexpr const char* kCheckErrorText = "ZIP archive CHECK ERROR";
// A damaged archive may hold any number of bad entries; the log names the first few.
constexpr int kMaxReportedBadEntries = 20;

zip::EncryptStrength StrengthOf(int value) {
  switch (value) {
    case 1:
      return zip::EncryptStrength::esAES128;
    case 2:
      return zip::EncryptStrength::esAES192;
    case 3:
      return zip::EncryptStrength::esAES256;
    default:
      return zip::EncryptStrength::esPKStandard;
  }
}

// The sources in the order the writer stores them, with what the walk saw of each, so the marks
// and deletions after the archive is complete concern the state that was archived.
// A run may hold a million of these at once, so each path is kept once, in its source, and the
// state is kept only when the marks are cleared or the files deleted after the archive is made.
struct SeenState {
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;
  EntryKind kind = EntryKind::File;
};

struct SourcePlan {
  std::vector<zip::ZipSource> sources;
  std::vector<SeenState> states;
  bool stopped = false;

  SourceEntry EntryAt(std::size_t index) const {
    SourceEntry entry;
    entry.path = sources[index].DiskPath;
    entry.kind = states[index].kind;
    entry.size = states[index].size;
    entry.mtimeNs = states[index].mtimeNs;
    return entry;
  }
};

// With `early`, the files of a new archive start on their way to the archive as they are listed.
SourcePlan PlanSources(RunContext& run, zip::ZipWriter* early) {
  core::TArhRecord& task = run.Task;
  const SourceSelection selection = SourceSelection::FromTask(task);
  const std::vector<std::string> sourceFolders =
      run.SourceFolders.empty() ? selection.SourceFolders() : run.SourceFolders;
  const StoredPathRule rule = StoredPathRuleOf(task);

  WalkControl control;
  control.stopRequested = [&task] { return static_cast<bool>(task.StopTask); };
  control.onFolder = [&task](const std::string& folder) {
    task.LastFileText = task.NextFileText.get();
    task.NextFileText = "Rec: " + folder;
  };
  control.onUnreadableFolder = [&run](const std::string& folder, int errorCode) {
    NoteLeftOut(run, folder, errorCode);
  };
  control.onUnreadableEntry = [&run](const std::string& path, int errorCode) {
    NoteLeftOut(run, path, errorCode);
  };
  if (early != nullptr) {
    control.onFile = [early](const SourceEntry& file) {
      if (file.kind == EntryKind::File) early->StartEarly(file.path, file.size);
    };
  }
  SelectOptions options;
  options.collectFolders = task.StoreEmptyFolders;
  options.allLinks = true;
  SelectedSources selected = selection.Select(control, options);

  SourcePlan plan;
  plan.stopped = selected.stopped;
  plan.sources.reserve(selected.folders.size() + selected.files.size());
  const bool keepStates = task.ResetArchiveBitOnZip || task.DeleteFileAfterZip;
  if (keepStates) plan.states.reserve(selected.folders.size() + selected.files.size());
  // Two include items may walk the same folders; each folder entry is stored once.
  std::unordered_set<std::string> folderNames;
  for (SourceEntry& folder : selected.folders) {
    std::string name = StoredFolder(folder.path, sourceFolders, rule);
    if (name.empty() || !folderNames.insert(name).second) continue;
    zip::ZipSource source{std::move(folder.path), std::move(name), true};
    source.SeenSize = 0;  // a folder entry holds no data, and the walk found the folder
    plan.sources.push_back(std::move(source));
    if (keepStates) plan.states.push_back(SeenState{folder.size, folder.mtimeNs, folder.kind});
  }
  folderNames = {};
  selected.folders = {};
  for (SourceEntry& file : selected.files) {
    std::string name = StoredPath(file.path, sourceFolders, rule);
    zip::ZipSource source{std::move(file.path), std::move(name), false, IsLink(file.kind)};
    // A link to a file was measured by its target, while the archive stores the link's own text.
    if (file.kind != EntryKind::LinkToFile) source.SeenSize = file.size;
    plan.sources.push_back(std::move(source));
    if (keepStates) plan.states.push_back(SeenState{file.size, file.mtimeNs, file.kind});
  }
  selected.files = {};
  // Such a name is stored byte for byte, and every reader decodes it its own way.
  for (const zip::ZipSource& source : plan.sources) {
    if (!base::IsValidUtf8(source.EntryName)) {
      AddLogLine(LogLevel::Warning, task.TaskNumber,
                 "The file name is not valid UTF-8 and archive readers may show it differently: " +
                     base::EscapeBytes(source.DiskPath));
    }
  }
  return plan;
}

// The writer tries every file in the normal mode first; the run's answers decide what follows.
zip::SkipAnswer AnswerLockedFile(RunContext& run, const std::string& file, zip::OpenMode mode) {
  if (mode == zip::OpenMode::omShareDenyWrite && run.ShareAll) return zip::SkipAnswer::PackShared;
  // The writer keeps a "pack it anyway" answer for the one file it was given for, so the mode it
  // reports is the one that counts, whatever an earlier file left in the run.
  run.OpenMode =
      mode == zip::OpenMode::omShareDenyNone ? FileOpenMode::ShareDenyNone : FileOpenMode::ShareDenyWrite;
  const LockedFileDecision decision = HandleLockedFile(run, file);
  if (run.Task.StopTask || run.Cancelled) return zip::SkipAnswer::Abort;
  if (decision == LockedFileDecision::Skip) return zip::SkipAnswer::Skip;
  return run.OpenMode == FileOpenMode::ShareDenyNone ? zip::SkipAnswer::PackShared : zip::SkipAnswer::Retry;
}

bool IsFolderPath(const std::string& path) {
  return !path.empty() && path.back() == '/';
}

zip::ZipHooks HooksFor(RunContext& run) {
  core::TArhRecord& task = run.Task;
  const int number = task.TaskNumber;
  zip::ZipHooks hooks;
  hooks.OnStartZipInfo = [number](std::uint64_t count, std::uint64_t bytes) {
    try {
      AddLogLine(LogLevel::Information, number, ZipStartInfoText(count, bytes));
    } catch (...) {
    }
  };
  hooks.OnStartZip = [&task](const std::string& file, std::string&) {
    try {
      task.NextFileText = file;
    } catch (...) {
    }
  };
  hooks.OnEndZip = [&run](const std::string& file, std::uint64_t bytes) {
    if (IsFolderPath(file)) {
      try {
        run.Task.LastFileText = file;
      } catch (...) {
      }
      return;
    }
    OnEndZip(run, file, bytes);
  };
  hooks.OnTotalPercentDone = [&run](int percent) { ThrottleAfterPercent(run, percent); };
  hooks.OnSkippingFile = [&run](const std::string& file, zip::SkipReason, zip::OpenMode mode) {
    try {
      return AnswerLockedFile(run, file, mode);
    } catch (...) {
      return zip::SkipAnswer::Skip;
    }
  };
  hooks.OnSourceLeftOut = [&run](const std::string& file, int errorCode) {
    try {
      SkipUnusableSource(run, file, errorCode);
    } catch (...) {
    }
  };
  hooks.OnHandleMessage = [number](int id, const std::string& text, const std::string& detail) {
    try {
      AddLogLine(LogLevel::Warning, number, ZipMessageText(id, text, detail));
    } catch (...) {
    }
  };
  hooks.CancelFlag = &run.Cancelled;
  hooks.IsCancelled = [&task] { return static_cast<bool>(task.StopTask); };
  return hooks;
}

// Moves the finished archive to its final name without replacing anything that appeared there
// meanwhile; the archive under the temporary name would be deleted by the next run.
bool MoveToFinalName(const std::string& from, const std::string& to) {
  const platform::Status moved =
      platform::MoveScratchInPlace(from, to, platform::Replace::OnlyWhenFree, platform::Flush::No);
  if (!moved) errno = moved.Code();
  return moved.Ok();
}

// The files (not folders) the writer added, as indices into the plan.
std::vector<std::size_t> AddedFiles(const SourcePlan& plan, const zip::ZipResult& result) {
  std::vector<std::size_t> files;
  files.reserve(result.Added.size());
  for (const std::size_t index : result.Added) {
    if (index < plan.sources.size() && !plan.sources[index].IsFolder) files.push_back(index);
  }
  return files;
}

// The marks record the state each file had when it was selected, so a file that changed while it
// was being archived still counts as changed.
void ClearArchiveMarks(const core::TArhRecord& task, const SourcePlan& plan,
                       const std::vector<std::size_t>& added) {
  for (const std::size_t index : added) {
    const SourceEntry file = plan.EntryAt(index);
    // A link is stored as a link: what it points to has not been backed up.
    if (IsLink(file.kind)) continue;
    platform::FileInfo state;
    state.exists = true;
    state.size = file.size;
    state.mtimeNs = file.mtimeNs;
    const platform::Status cleared = platform::ClearArchiveAttribute(file.path, state);
    if (!cleared) {
      AddLogLine(LogLevel::Warning, task.TaskNumber,
                 "The archive attribute cannot be cleared: " + cleared.Message());
    }
  }
}

void DeleteSources(const core::TArhRecord& task, const std::vector<SourceEntry>& files) {
  const int number = task.TaskNumber;
  const DeleteReport report = DeleteArchivedSources(files);
  for (const DeleteFailure& failure : report.failures) {
    if (failure.errorCode == 0) {
      AddLogLine(LogLevel::Warning, number,
                 "The file " + failure.path + " has changed since it was archived and is not deleted");
    } else {
      AddLogLine(LogLevel::Error, number,
                 "The file cannot be deleted : " + failure.path + " " + ErrorCodeSuffix(failure.errorCode));
    }
  }
  AddLogLine(LogLevel::Information, number, std::to_string(report.deleted) + " source files were deleted");
}

void KeepSources(const core::TArhRecord& task, const SourcePlan& plan) {
  if (!task.DeleteFileAfterZip || plan.sources.empty()) return;
  AddLogLine(LogLevel::Warning, task.TaskNumber,
             "The source files are not deleted, because the archive was not completed");
}

int ErrorIdOf(const zip::ZipError& error) {
  switch (error.Code) {
    case zip::ZipErrorCode::NotAZip:
      return zip::kMsgNotAValidZip;
    case zip::ZipErrorCode::Incomplete:
      return zip::kMsgIncompleteZip;
    default:
      return zip::kMsgZipError;
  }
}

}  // namespace

zip::ZipAction WriterActionOf(ZipAction action) {
  switch (action) {
    case ZipAction::Replace:
      return zip::ZipAction::zaReplace;
    case ZipAction::Freshen:
      return zip::ZipAction::zaFreshen;
    case ZipAction::Update:
      break;
  }
  return zip::ZipAction::zaUpdate;
}

zip::ZipSettings ZipSettingsOf(const core::TArhRecord& task, ZipAction action, const std::string& tempPath) {
  zip::ZipSettings settings;
  settings.PackLevel = task.CompressMetod < 0 ? 0 : task.CompressMetod > 9 ? 9 : task.CompressMetod;
  if (!task.Password.empty()) {
    settings.Password = task.Password;
    settings.EncryptStrength = StrengthOf(task.EncryptStrength);
  }
  settings.OEMConvert = task.OemConvert;
  settings.ZipAction = WriterActionOf(action);
  settings.TempPath = tempPath;
  return settings;
}

std::string TemporaryArchiveName(const std::string& finalName, int taskNumber) {
  return platform::ScratchPathFor(finalName, platform::ScratchShape::Numbered,
                                  static_cast<unsigned>(taskNumber));
}

std::string ZipStartInfoText(std::uint64_t fileCount, std::uint64_t totalBytes) {
  return "ZIP start: Files=" + std::to_string(fileCount) +
         " TotalKBBytes=" + std::to_string(totalBytes / 1024);
}

std::string ZipMessageText(int id, const std::string& text, const std::string& detail) {
  return (text.empty() ? zip::MessageText(id) : text) + "[" + detail + "]";
}

ArchiveCheck CheckArchive(RunContext& run, const std::string& path) {
  core::TArhRecord& task = run.Task;
  const int number = task.TaskNumber;
  AddLogLine(LogLevel::Information, number, "ZIP archive check START");
  task.PercentDone = 0;
  run.Refresh();

  zip::ArchiveTestOptions options;
  options.Password = task.Password;
  options.OnTotalPercentDone = [&run](int percent) { ThrottleAfterPercent(run, percent); };
  options.CancelFlag = &run.Cancelled;
  options.IsCancelled = [&task] { return static_cast<bool>(task.StopTask); };
  zip::ArchiveTestResult result;
  try {
    result = zip::TestArchive(path, options);
  } catch (const std::exception& e) {
    result = zip::ArchiveTestResult{};
    result.OpenError = zip::ZipError{zip::ZipErrorCode::Io, e.what()};
  }
  if (result.Cancelled || task.StopTask) return ArchiveCheck::Stopped;
  if (result.Ok) {
    AddLogLine(LogLevel::Information, number, "Check OK");
    return ArchiveCheck::Passed;
  }
  if (result.OpenError) {
    AddLogLine(LogLevel::Warning, number,
               ZipMessageText(ErrorIdOf(result.OpenError), result.OpenError.Message, path));
  }
  int reported = 0;
  for (const zip::EntryTestResult& entry : result.Entries) {
    if (entry.Ok || reported++ >= kMaxReportedBadEntries) continue;
    AddLogLine(LogLevel::Warning, number,
               ZipMessageText(ErrorIdOf(entry.Error), entry.Error.Message, entry.Name));
  }
  AddLogLine(LogLevel::Error, number, "Check ERROR");
  return ArchiveCheck::Failed;
}

StepResult RunZipStep(RunContext& run) {
  core::TArhRecord& task = run.Task;
  const int number = task.TaskNumber;
  const std::string finalName = run.ZipName;

  // An existing archive is updated in place; the writer replaces it only once the new one is
  // complete. A new one is written under a temporary name, so a half-made archive never carries
  // the name of a finished backup; a name that is a scratch name already (an archive that is to
  // replace the old one) is written as it stands.
  const bool inPlace = PathExists(finalName);
  const bool direct = !inPlace && platform::IsScratchName(NamePart(finalName));
  const platform::FileInfo before = inPlace ? platform::StatFollow(finalName) : platform::FileInfo{};
  if (!inPlace && !direct) {
    const std::string temporary = TemporaryArchiveName(finalName, number);
    if (!ClearScratchName(run, temporary)) return StepResult{false, 0};
    run.ZipName = temporary;
  }

  task.NextFileText = "Start ZIP";
  zip::ZipSettings settings = ZipSettingsOf(task, run.Action, OptionsOf(run)->TempPath);
  settings.Comment = BackupKindComment(BackupKindOf(task));
  zip::ZipWriter writer(settings, HooksFor(run));
  // A new archive takes every file listed, so their compression need not wait for the whole list.
  const SourcePlan plan = PlanSources(run, inPlace ? nullptr : &writer);
  if (plan.stopped || task.StopTask) return StepResult{false, 0};

  const zip::ZipResult result = writer.Write(run.ZipName, plan.sources);
  task.NextFileText = "End ZIP";
  if (!result.Ok) {
    KeepSources(task, plan);
    if (result.Cancelled || task.StopTask) return StepResult{false, 0};
    throw std::runtime_error(result.ErrorText);
  }
  const std::vector<std::size_t> added = AddedFiles(plan, result);
  int r = static_cast<int>(added.size());
  bool s = IsExistingFile(run.ZipName);

  bool checked = true;
  if (task.ToCheckArchive && !task.StopTask) {
    const ArchiveCheck check = CheckArchive(run, run.ZipName);
    checked = check == ArchiveCheck::Passed;
    s = checked;
    if (!checked) r = 0;
    if (check == ArchiveCheck::Failed) run.ErrorText = kCheckErrorText;
  }

  if (task.StopTask) {
    // The temporary archive stays; the next run of the task deletes it before it writes.
    KeepSources(task, plan);
    return StepResult{s, r};
  }

  if (!inPlace && !direct) {
    if (IsExistingFile(run.ZipName) && !MoveToFinalName(run.ZipName, finalName)) {
      const std::string text = "The archive file cannot be renamed to " + finalName + " " + ErrorCodeSuffix();
      AddLogLine(LogLevel::Error, number, text);
      run.ErrorText = text;
      KeepSources(task, plan);
      return StepResult{false, 0};
    }
    run.ZipName = finalName;
  } else if (before.exists) {
    const platform::FileInfo after = platform::StatFollow(finalName);
    if (after.exists && after.mode != before.mode) (void)platform::SetMode(finalName, before.mode);
  }

  if (!s || !checked) {
    if (!added.empty()) KeepSources(task, plan);
    return StepResult{s, r};
  }
  // Only now is every added file safe in the finished archive under its final name.
  if (task.ResetArchiveBitOnZip) ClearArchiveMarks(task, plan, added);
  if (task.DeleteFileAfterZip && !added.empty()) {
    std::vector<SourceEntry> files;
    files.reserve(added.size());
    for (const std::size_t index : added)
      files.push_back(plan.EntryAt(index));
    DeleteSources(task, files);
  }
  return StepResult{s, r};
}

void RegisterZipStep(RunEnvironment& environment) {
  environment.SetBackupStep(BackupStepKind::BuiltInZip, RunZipStep);
}

}  // namespace zentrove::engine
