#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/datetime.h"
#include "base/shared_value.h"

namespace zentrove::core {

// Length limits of the text fields, in characters (code points of UTF-8 text).
namespace limits {
inline constexpr std::size_t kDescription = 100;
inline constexpr std::size_t kText255 = 255;
inline constexpr std::size_t kText250 = 250;
inline constexpr std::size_t kText100 = 100;
inline constexpr std::size_t kText40 = 40;
inline constexpr std::size_t kUnlimited = 0;
}  // namespace limits

// The stored values of ArhPeriod_PeriodID. A damaged file may hold any other number, which no kind
// matches.
enum class ScheduleKind : int {
  EveryNDays = 0,
  Weekly = 1,
  Monthly = 2,
  Once = 3,
  AtStart = 4,
  AtStartEveryNDays = 5,
  AfterTask = 6,
  FolderChange = 7,
};

enum class BackupMode : int { Archive = 0, Copy = 1, Ftp = 2 };

// The answers of the locked-file prompt that a task may take as its default.
inline constexpr int kPsArchiveAll = 10;
inline constexpr int kPsSkipLocked = 9;
inline constexpr int kPsAbortTask = 3;

// One backup task: its settings, named like the keys of the task list file, and the state of its
// current and last run. Fields that the main thread and a running worker both use are Shared.
struct TArhRecord {
  int TaskNumber = 0;
  std::string SourceOld;
  std::string FileSourceMask;
  std::string FileSourceExcludeMask;
  bool ProcessSubfolders = true;
  std::string Target;
  std::string FileMsk_Prefix;
  std::string FileMsk_ArhDateFormat;
  base::TDateTime ArhPeriod_BeginTime = 0;
  int ArhPeriod_PeriodID = 0;
  int ArhPeriod_EveryDay = 1;
  int ArhPeriod_EveryWeek = 1;
  std::array<bool, 7> DayOfWeek{};  // element 0 is Sunday
  int ArhPeriod_EveryMonth = 1;
  std::array<bool, 31> DayOfMonth{};
  std::array<bool, 12> MonthOfYear{};  // element 0 is January
  base::TDateTime ArhPeriod_OneDate = 0;
  bool ArhPeriod_IsRepeat = false;
  int ArhPeriod_EveryMin = 0;
  int ArhPeriod_PeriodLong = 0;
  base::Shared<base::TDateTime> LastArh = 0;
  base::Shared<base::TDateTime> NextArh = 0;
  int DeleteWhenArhivMoreThan = 0;
  base::Shared<bool> IsActive = false;
  base::TDateTime ArhStartDate = 0;
  bool isEnd = false;
  base::TDateTime ArhEndDate = 0;
  std::string Description;
  std::string BeforeRun;
  std::string AfterRun;
  bool ifNotArhImmidiately = false;
  base::Shared<bool> IsStarted = false;
  base::Shared<bool> IsEdited = false;
  base::Shared<bool> StopTask = false;
  base::Shared<bool> PauseTask = false;
  base::Shared<int> PercentDone = 0;
  std::string Target2;
  std::string Target3;
  std::string Target4;
  int Deep2 = 0;
  int Deep3 = 0;
  int Deep4 = 0;
  std::string UserName;
  std::string UserPassword;
  int WhatDeep1 = 0;
  int WhatDeep2 = 0;
  int WhatDeep3 = 0;
  int WhatDeep4 = 0;
  std::string FileMsk2_Prefix;
  std::string FileMsk2_ArhDateFormat;
  std::string FileMsk3_Prefix;
  std::string FileMsk3_ArhDateFormat;
  std::string FileMsk4_Prefix;
  std::string FileMsk4_ArhDateFormat;
  std::string BeforeRunDir;
  std::string AfterRunDir;
  std::string BeforeRunParam;
  std::string AfterRunParam;
  int BeforeRunWait = 0;
  int AfterRunWait = 0;
  int BeforeRunWindow = 1;
  int AfterRunWindow = 1;
  bool ResetArchiveBitOnZip = true;
  bool SkipIfArchiveBitNotSet = false;
  bool IsError = false;
  base::Shared<bool> WasError = false;
  int Action = 1;
  int RepeatMin = 1;
  bool IfArhiveExistDeleteOld = true;
  int IfArhiveExistAction = 0;
  bool IfArhiveExistSync = false;
  base::Shared<bool> AutoStart = false;
  int CompressMetod = 6;
  bool ExecuteZip = true;
  bool UseInnerZip = true;
  std::string UseExtArh;
  std::string RunIfExists;
  std::string RunIfNotExists;
  std::string Password;
  std::string BeforePromt;
  std::string RunIfExistsErrorPromt;
  std::string RunIfNotExistsErrorPromt;
  bool ShowIfAuto = false;
  int ExecuteAfter = 0;
  base::TDateTime ExecuteAfterTimeout = 0;
  int ExecuteAfterKind = 0;
  std::uint8_t ZipPriority = 3;
  int StopOnPercent = 0;
  int StopOnAfterFile = 0;
  bool StopOnlyCPULoad = false;
  int StopCPUPercent = 100;
  bool DeleteFileAfterZip = false;
  base::SharedText StatusText1;
  std::string FileMsk5_Prefix;
  std::string FileMsk5_ArhDateFormat;
  std::string PortTxt = "21";
  std::string HostTxt;
  std::string UserTxt = "anonymous";
  std::string PassTxt;
  bool UseProxy = false;
  std::string ProxyServer;
  std::string ProxyPort;
  std::string DirTxt;
  bool CopyToFtp = false;
  base::Shared<bool> SourceChanged = false;
  base::Shared<bool> Monitoring = false;
  bool fnFileName = true;
  bool fnDirName = true;
  bool fnAttributes = false;
  bool fnSize = true;
  bool fnLastWrite = true;
  bool fnLastAccess = false;
  bool fnCreation = true;
  bool fnSecurity = true;
  bool CheckDial = false;
  bool RasHangUp = false;
  std::string RASDial;
  base::Shared<bool> DialOk = true;
  bool SendEMail = false;
  std::string SendAddress;
  std::string SendSubj;
  bool SendLog = false;
  bool SendCurLog = false;
  bool SendZip = false;
  base::SharedText StatusText2;
  int SE_When = 1;
  bool SendNet = false;
  int NS_When = 1;
  std::string NetSend_user;
  int RunBeforWaiting = 0;
  int RunAfterWaiting = 0;
  base::SharedText StatusText3;
  int ArchiveOrCopy = 0;
  bool SavePath = true;
  int DeepFTP = 0;
  int WhatDeepFTP = 0;
  int NoticeBeforPeriod = 0;
  bool NB_NETSEND = false;
  bool NB_ShowWindow = false;
  std::string NB_NetSend_User;
  std::string NB_NetSend_Str;
  std::string NB_ShowWindow_Str;
  base::Shared<bool> NB_AlreadyShow = false;
  bool StoreEmptyFolders = false;
  bool CopyAccessRights = true;
  bool StoreFullPathOnCopy = true;
  bool PromtShare = true;
  int PSDefaultAction = kPsArchiveAll;
  base::SharedText NextFileText;
  base::SharedText LastFileText;
  // Files finished by the current or last run and their bytes, for progress shown outside the grid.
  base::Shared<std::uint64_t> FilesDone = 0;
  base::Shared<std::uint64_t> BytesDone = 0;
  bool FTPPassive = false;
  bool ContinueAfterLongFile = false;
  bool OemConvert = true;
  bool IncrementalNoFileFoundIsError = false;
  bool DontOverwriteIfExists2 = false;
  bool DontOverwriteIfExists3 = false;
  bool DontOverwriteIfExists4 = false;
  int EncryptStrength = 0;
  int FTPConnectionType = 0;
  bool ToCheckArchive = false;
  bool ApplyDeepBefore = false;
  int Shut_what = 0;
  int Shut_When = 0;
  bool ShowInQuickRun = true;
  bool SaveFullLog = false;
  std::string SaveFullLogFolder;
  int WriteLogOnPercent = 0;
};

// The program options that give new tasks their defaults.
struct NewTaskDefaults {
  int CompressionMethod = 6;
  std::uint8_t ZipPriority = 3;
  bool PromtShare = true;
  int PSDefaultAction = kPsArchiveAll;
};

inline constexpr std::string_view kPlaceholderFtpHost = "ftp.example.com";
inline constexpr std::string_view kPlaceholderFtpEmail = "user@example.com";

inline ScheduleKind ScheduleKindOf(const TArhRecord& task) {
  return static_cast<ScheduleKind>(task.ArhPeriod_PeriodID);
}

// A task with the defaults of the New command and task number 0; the caller gives it its number.
std::unique_ptr<TArhRecord> NewTaskRecord(const NewTaskDefaults& defaults = {});
// Copies every field, cutting texts to their limits, so the copy shares nothing with the source.
void CopyTaskRecord(const TArhRecord& source, TArhRecord& destination);
// Cuts every limited text field of the task to its limit.
void CutTaskTexts(TArhRecord& task);
// Tasks are owned by unique_ptr; releasing one is DisposeTaskRecord.
inline void DisposeTaskRecord(std::unique_ptr<TArhRecord>& task) {
  task.reset();
}

// What the grid's progress column shows for a running task.
std::string ProgressText(const TArhRecord& task);

}  // namespace zentrove::core
