#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/backup_steps.h"
#include "engine/run_context.h"
#include "engine/source_selection.h"
#include "platform/files.h"

namespace zentrove::engine {

class RunEnvironment;

// Registers the copy mode's backup step and the distribution steps of this part of the engine: the
// copies to the extra folders and the rotation of the main folder. Called once at start-up.
void RegisterCopyAndDestinationSteps(RunEnvironment& environment);

// The longest destination path for which a failed write is reported as a full disk rather than as
// a name that is too long.
inline constexpr std::size_t kLongDestinationPath = 250;
// The chunk size of the copy mode's file copy.
inline constexpr std::size_t kCopyChunk = 36864;

// The destination folder (ending with "/") of a source folder (ending with "/") under the include
// item whose walk starts at `baseFolder`:
// - SavePath off: the backup folder itself;
// - SavePath on, StoreFullPathOnCopy off: the backup folder + the folder below the base folder;
// - SavePath on, StoreFullPathOnCopy on: the backup folder + the folder without its leading "/"; a
//   network folder "//server/share/dir/" keeps its server and share: backup/server/share/dir/.
// "." and ".." parts are dropped, so no destination lies outside the backup folder.
std::string CopyDestinationFolder(const std::string& backupFolder, const std::string& folder,
                                  const std::string& baseFolder, const core::TArhRecord& task);

// One run of the copy mode: copies the selected files into the backup folder (the run's ZipName),
// with their attributes, modification times and, with CopyAccessRights, their access rights; the
// writer's action decides what happens to files that are there already, and a synchronising copy
// deletes afterwards what no longer exists in the sources. Every file is written under a scratch
// name in its folder and renamed over the old copy only when it is complete, so a crash, a full
// disk or a failing source never costs the copy made by an earlier run.
class TCopyProcess {
 public:
  explicit TCopyProcess(RunContext& run);

  // The whole copy run: returns the number of files copied; throws std::runtime_error "The task
  // has been aborted" after a stop and "Copy error" after a failed file. A file that cannot be
  // written throws its own error text (the job runner makes it the run's error with the last and
  // next file).
  int Execute();

  // Copies what one include item selects (its folders and files, in walk order); false when a file
  // failed.
  bool CopyProcess(std::size_t item);
  // One selected file into its destination folder, by the writer's action; true when it was copied
  // or nothing had to be done.
  bool DoCopyFile(const SourceEntry& source, const std::string& destinationFolder);
  // The copy itself; throws when the destination cannot be created or written.
  // The caller may say whether the destination exists, which it has looked at already.
  bool CopyFileBody(const SourceEntry& source, const std::string& destination,
                    std::optional<bool> destinationExists = std::nullopt);
  // Deletes from the backup folder what the synchronisation list does not hold.
  void SyncDeleteMissing(const std::string& backupFolder);

  int CopiedFiles() const { return copied_; }

 private:
  void PrepareWalk();
  void KeepTreeOf(const std::string& unreadableFolder);
  void AddToSyncList(const std::string& path, bool folder);
  bool EnsureDestinationFolder(const std::string& sourceFolder, const std::string& destinationFolder,
                               const std::string& base, bool inCopyProcess);
  bool CopyLinkBody(const SourceEntry& source, const std::string& destination);
  void AfterCopy(const SourceEntry& source, const platform::FileInfo& stateWhenRead);
  // A destination that cannot be created: true (skipped, with a warning) for a name that is too
  // long when ContinueAfterLongFile is on; otherwise throws.
  bool SkipOrRaise(const std::string& destination, int errorCode, std::uint32_t attributes);
  void SyncFolder(const std::string& folder);
  bool Kept(const std::string& path, bool folder) const;
  void Mark(const std::string& text, const char* marker);

  RunContext& run_;
  core::TArhRecord& task_;
  bool sync_ = false;
  std::string backup_;  // the backup folder with a trailing "/"
  SourceSelection selection_;
  SelectedSources selected_;
  std::vector<std::string> walkedFolders_;
  // Destination folders that exist (made or seen by this run), so each is looked at once.
  std::unordered_set<std::string> knownFolders_;
  // The synchronisation list as sets: kept files, kept folders with all their parents, and whole
  // trees kept because their sources could not be read.
  std::unordered_set<std::string> keptFiles_;
  std::unordered_set<std::string> keptFolders_;
  std::vector<std::string> keptTrees_;
  std::string currentBase_;  // the base folder of the include item being copied
  std::vector<char> buffer_;
  std::string marker_;
  int copied_ = 0;
};

// The copy mode's backup step.
StepResult CopyModeStep(RunContext& run);

}  // namespace zentrove::engine
