#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/task_record.h"
#include "platform/result.h"

namespace zentrove::core {

// ---- Conversions between stored values and what the controls show ----

// A duration in seconds shown with a unit list ("seconds", "Minutes").
enum class DurationUnit { Seconds = 0, Minutes = 1 };
struct DurationValue {
  int value = 0;
  DurationUnit unit = DurationUnit::Seconds;
  bool operator==(const DurationValue&) const = default;
};
// A value above 0 that is a multiple of 60 shows as minutes, every other one as seconds.
DurationValue DurationForDisplay(int seconds);
int DurationSeconds(DurationValue shown);

// The repeat interval: minutes, or hours when the stored minutes are a multiple of 60.
enum class RepeatUnit { Minutes = 0, Hours = 1 };
struct RepeatValue {
  int value = 0;
  RepeatUnit unit = RepeatUnit::Minutes;
  bool operator==(const RepeatValue&) const = default;
};
RepeatValue RepeatForDisplay(int everyMinutes);
int RepeatMinutes(RepeatValue shown);

// "Compression level": list index 0 to 7 for the stored levels 0, 1, 3, 4, 6, 7, 8, 9; any other stored
// level shows index 0.
int CompressionIndexOf(int storedLevel);
int CompressionLevelAt(int index);

// The locked-file default: index 0, 1, 2 for 10, 9, 3; any other stored value shows index 0.
int LockedFileActionIndexOf(int storedAction);
int LockedFileActionAt(int index);

// "Kind of Backup": index 0 to 3 for (ResetArchiveBitOnZip, SkipIfArchiveBitNotSet) (1,0), (1,1),
// (0,1), (0,0).
int BackupKindIndexOf(bool resetArchiveBit, bool skipIfNotSet);
void SetBackupKind(int index, TArhRecord& task);

// "If destination archive with the same name already exists".
enum class ExistingArchiveChoice { DeleteOld = 0, Action = 1, Synchronize = 2 };

inline constexpr int kFullBackup = 0;
inline constexpr int kIncrementalBackup = 1;
inline constexpr int kDifferentialBackup = 2;
inline constexpr int kFullBackupKeepMark = 3;

// The window-mode captions of "Start in window"; the after-program's list has one more, empty entry.
const std::vector<std::string>& StartWindowCaptions();
// The date formats offered for archive names; the FTP list leaves out the last, folder format.
const std::vector<std::string>& DateFormatChoices();

inline constexpr std::string_view kSynchronizeMessage =
    "Synchronization is available only for \"Copy files\" and \"Upload to FTP\" modes with FULL BACKUP kind "
    "of backup.";
inline constexpr std::string_view kExternalArchiverWarning =
    "Warning! At first use of the external archiver set a correct path \r\nto the executable file of the "
    "external archive. \r\n Use External Archiver's Configuration Editor \r\n(Options->Edit Configurations "
    "of "
    "External Archivers)";
inline constexpr std::string_view kRunAfterItselfMessage = "Run after: The task can not refer to itself";
inline constexpr std::string_view kInvalidRunAfterMessage = "Run after: Invalid task number";
inline constexpr std::string_view kNoSourceMessage = "Enter source folder";
inline constexpr std::string_view kNoTargetMessage = "Enter archive folder";
inline constexpr std::string_view kNoWeekdayMessage = "Select day(s) of week.";
inline constexpr std::string_view kNoMonthMessage = "Enter months";

// The "Task " box of "Run After" as a whole number, when it is one (blanks around it allowed).
std::optional<int> RunAfterNumber(std::string_view text);
// Leaving the "Task " box: the message to show when it names the task itself, otherwise empty.
std::string_view RunAfterLeftMessage(std::string_view text, int ownTaskNumber);

// The FTP folder as stored: trimmed, and one leading "/" or "\" removed.
std::string StoredFtpFolder(std::string_view typed);

// The editor's "Edit" button of a program: only batch files (.bat, .cmd in any case) are opened.
bool IsEditableProgram(std::string_view path);

// ---- The task editor's page tree ----

struct PageNode {
  std::string caption;
  std::vector<std::string> children;
  bool operator==(const PageNode&) const = default;
};
std::vector<PageNode> EditorPageTree(bool programsOnly, BackupMode mode);

// ---- The form ----

// What the task editor's controls hold. The controls that bind a field one to one (tick boxes, texts,
// lists in the order of their enumeration) write straight into `task`; the members below stand for the
// controls whose value is converted or whose field is stored only under a condition.
struct TaskFormValues {
  TArhRecord task;

  bool programsOnly = false;
  int backupKind = kFullBackup;
  bool useExternalArchiver = false;
  std::string externalArchiver;
  ExistingArchiveChoice existingArchive = ExistingArchiveChoice::DeleteOld;
  int existingArchiveAction = 0;

  RepeatValue repeatEvery;
  int periodHours = 0;
  int periodMinutes = 0;
  std::string runAfterTask;
  DurationValue beforeRunWait;
  DurationValue afterRunWait;
  DurationValue runBeforeWaiting;
  DurationValue runAfterWaiting;
  DurationValue noticeBefore;

  int compressionIndex = 4;
  int lockedFileActionIndex = 0;
  std::string networkPassword;
  std::string networkPasswordConfirmation;
  std::string archivePassword;
  std::string archivePasswordConfirmation;

  bool shutdown = false;
  int shutdownWhatIndex = 0;  // "Shutdown", "Restart", "Log off"

  std::string mailBody;
};

// What is enabled or shown, decided from the values.
struct TaskFormAvailability {
  // Schedule groups by kind.
  bool daysGroup = false;
  bool weeksGroup = false;
  bool monthsGroup = false;
  bool onceGroup = false;
  bool timeoutGroup = false;
  bool runAfterGroup = false;
  bool changeGroup = false;
  bool startTime = false;
  bool repeat = false;
  bool repeatControls = false;
  bool missedRunGroup = false;
  bool startDate = false;
  bool endDateTick = false;
  bool endDate = false;
  bool repeatMinutes = false;  // "Repeat in" N "minutes"
  // Mode and programs-only.
  bool backupMode = false;
  bool backupKind = false;
  bool compression = false;
  bool archivePassword = false;
  bool attachArchive = false;
  bool externalArchiverTick = false;
  bool externalArchiverList = false;
  bool uploadToFtpTick = false;
  bool checkArchive = false;
  bool synchronize = false;
  // Groups behind a tick box.
  bool ftpGroup = false;
  bool proxy = false;
  bool cpuPercent = false;
  bool fullLogFolder = false;
  bool mailGroup = false;
  bool netSendAfter = false;
  bool netSendBefore = false;
  bool dialGroup = false;
  bool shutdownGroup = false;
  // Depth of the main folder, the three extra folders and FTP.
  bool mainDepth = false;
  bool extraDepth[3] = {false, false, false};
  bool ftpDepth = false;
};

// The task editor's model: loads a task into the controls' values, applies the couplings as the user
// changes them, checks OK and stores the values back. The Qt pages bind their controls to `values` and
// call the matching On... method after a change.
class TaskForm {
 public:
  struct Settings {
    bool disableDeepWhenNoPrefix = true;
    std::string taskFilePath;  // N.bdy lives beside it; empty: no body file is read or written
  };

  TaskForm(const TArhRecord& task, Settings settings);

  TaskFormValues values;

  TaskFormAvailability Availability() const;

  // Couplings. Those that may change "Synchronize" return the information message to show, if any.
  void OnScheduleKindChanged();
  std::string_view OnBackupModeChanged();
  std::string_view OnBackupKindChanged();
  void OnProgramsOnlyChanged();
  void OnMainPrefixChanged();
  void OnMainDateFormatChanged();
  // Applies the depth rule to every destination after any prefix changed.
  void OnPrefixChanged();
  void OnMainFolderChanged();
  void OnSaveFullLogChanged();

  // The eleven OK checks in order: the first failing one's message, or empty when all pass.
  std::string_view Check() const;
  // OK: runs the checks; when they pass, stores every binding into `task` and saves the e-mail text
  // (only while e-mail is ticked). A failed check leaves `task` and the text file unchanged and
  // returns its message as the refusal. A text that cannot be saved does not undo the stored task:
  // the window reports it and the task's settings are not lost.
  struct StoreResult {
    std::string refusal;
    platform::Status bodySaved;
  };
  [[nodiscard]] StoreResult Store(TArhRecord& task) const;

 private:
  std::string_view ReevaluateSynchronize();
  void ApplyDepthRule();

  Settings settings_;
  int taskNumber_;
};

// The e-mail text of a task (N.bdy beside the task file), empty when it has none.
std::string LoadBodyTemplate(const std::string& taskFilePath, int taskNumber);
[[nodiscard]] platform::Status SaveBodyTemplate(const std::string& taskFilePath, int taskNumber,
                                                std::string_view text);

}  // namespace zentrove::core
