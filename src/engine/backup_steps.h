#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace zentrove::engine {

// The outcome of a run's backup step: s is true when the step produced its archive (or destination
// folder, or upload); r counts what it did (files added, files copied, files uploaded, 1 for an
// archive an external archiver wrote), 0 when nothing was done or the step failed.
struct StepResult {
  bool s = false;
  int r = 0;
};

// The backup step of each mode. The job runner picks one by the task's ArchiveOrCopy and UseInnerZip.
enum class BackupStepKind {
  BuiltInZip,        // archive mode with UseInnerZip on
  ExternalArchiver,  // archive mode with UseInnerZip off
  Copy,              // copy mode
  FtpMode,           // "Upload to FTP" mode
};

// Runs the backup step on the run's worker thread. It may throw: an exception ends the step and
// becomes the run's error text with the last and next file. How the runner reads the result:
// - BuiltInZip: s and r as returned (the step tests its archive and renames it itself);
// - ExternalArchiver and Copy: r as returned; s is whether ZipName exists afterwards (a file for the
//   external archiver), so the step need not set it;
// - FtpMode: s and r as returned; on failure the step leaves the reason in ErrorText, from which the
//   runner makes the run's error line and text.
using BackupStep = std::function<StepResult(RunContext& run)>;

// Optional preparation, called while the run sets up its working state, before the archive is named.
// The external archiver loads its configuration here, sets run.Extension to "." + Ext and may keep
// the configuration in run.ModeState.
using PrepareStep = std::function<void(RunContext& run)>;

// The steps after a successful backup step, in the order the runner calls them.
enum class DistributionStepKind {
  ExtraFolders,  // copies to Target2, Target3 and Target4 with their rotation
  FtpUpload,     // UploadToFTP of the archive, or of the backup folder in copy mode
  MainRotation,  // rotation of the main folder
};

// Called with the result so far; returns the result after the step. A failure returns s = false and
// r = 0 and leaves its text in ErrorText. ExtraFolders logs its own lines; for FtpUpload the runner
// writes the start, success and failure lines around the call, the step only leaves the reason in
// ErrorText. MainRotation normally returns the result unchanged.
using DistributionStep = std::function<StepResult(RunContext& run, StepResult current)>;

// The error of a run that needs a step this build does not have, for example "The built-in ZIP
// archiver is not available in this build". Such a run fails; it never reports success.
std::string MissingStepText(BackupStepKind kind);
std::string MissingStepText(DistributionStepKind kind);

// The step kind a task's settings select.
BackupStepKind BackupStepKindOf(const core::TArhRecord& task);

}  // namespace zentrove::engine
