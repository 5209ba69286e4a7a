#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/ini_file.h"
#include "core/task_record.h"
#include "log/log.h"
#include "platform/result.h"

namespace zentrove::core {

inline constexpr std::string_view kOptionsFileName = "Zentrove.ini";
inline constexpr std::string_view kOptionsSection = "Options";
inline constexpr std::string_view kWindowStateSection = "WindowState";

// The main window's geometry as the Exit command stored it; -1 means nothing stored.
struct WindowGeometry {
  std::int32_t Left = -1;
  std::int32_t Top = -1;
  std::int32_t Height = -1;
  std::int32_t Width = -1;
  std::int32_t State = -1;  // 0 normal, 1 minimised, 2 maximised
  std::int32_t SPos = -1;   // height of the log pane
  std::array<std::int32_t, 10> G{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};  // G1 to G10

  bool operator==(const WindowGeometry&) const = default;
};

// What the front end applies of the stored geometry: values below 0 are not applied, and of the
// states only normal and maximised are.
struct WindowPlacement {
  // A stored Left of 0 or more moves the window from its default position to the stored one.
  bool UseStoredPosition = false;
  std::optional<std::int32_t> Left;
  std::optional<std::int32_t> Top;
  std::optional<std::int32_t> Height;
  std::optional<std::int32_t> Width;
  std::optional<std::int32_t> State;
  std::optional<std::int32_t> SPos;
  std::array<std::optional<std::int32_t>, 10> ColumnWidths;
};
WindowPlacement PlacementToApply(const WindowGeometry& geometry);

// The grid's sort keys.
struct SortOrder {
  bool Sort = false;
  std::int32_t Col = 1;
  bool SUP = true;

  bool operator==(const SortOrder&) const = default;
};

// The settings of Zentrove.ini, named like their keys. Flag texts and bools are both held as bool;
// they differ only in how the file's text is read.
struct ProgramOptions {
  bool ShowLogo = true;
  std::int32_t Language = 0;
  std::int32_t IsItEnglishBuild = 0;
  bool ShowTips = true;
  std::int32_t FormScale = 100;
  bool ShowTryIcon = true;
  bool RunOnStartUp = false;
  bool WriteToEventLog = true;
  bool ExitIfNoTasks = false;
  bool ExitIfTodayNoTasks = false;
  bool ExitWithoutDlg = false;
  bool EnableSound = false;
  bool DeleteinRecucledBin = true;
  // The share of a trash's file system that backups this program moved there may take, in percent;
  // beyond it the oldest are purged. 0 for no limit.
  std::int32_t TrashLimitPercent = 10;
  bool DisableDeepWhenNoPrefix = true;
  bool PromtDelete = true;
  bool PromtExecute = true;
  bool PromtInterrupt = true;
  bool PromtAllexecute = true;
  bool PromtShare = true;
  std::int32_t PSDefaultAction = kPsArchiveAll;
  std::int32_t CompressionMethod = 6;
  std::int32_t ZipPriority = 3;
  std::string TempPath;
  std::string PopUpPassword;  // in clear; empty: no password is asked
  std::string SMTPHost;
  std::string SMTPPort = "25";
  std::string SMTPUser;
  std::string SMTPPassword;  // in clear
  std::string SMTPUserName;
  std::string SMTPUserAddress;
  std::int32_t SMTPConnectionType = 0;
  bool SMTPUseProxy = false;
  std::string SMTPProxy;
  std::string SMTPProxyPort;
  bool OutError = true;
  bool OutWarnings = true;
  bool OutInfo = true;
  std::int32_t ColorError = 255;
  std::int32_t ColorWarnings = 16711680;
  std::int32_t ColorInfo = 0;
  std::int32_t MaxLogCount = 500;
  std::int32_t MaxLog = 1000;
  SortOrder Sorting;
  WindowGeometry Window;

  bool operator==(const ProgramOptions&) const = default;

  NewTaskDefaults TaskDefaults() const;
  log::LogSettings LogSettings() const;
  bool HasAccessPassword() const { return !PopUpPassword.empty(); }
};

// The compression levels a new task may get; any other value read becomes 6.
bool IsValidCompressionMethod(std::int32_t value);
// Archiver priorities 0 to 5; any other value read becomes 3.
bool IsValidZipPriority(std::int32_t value);

// Zentrove.ini holds passwords, so the program opens it readable by its owner only.
std::string OptionsFilePath(const std::string& configFolder);
IniFile OpenOptionsFile(const std::string& configFolder);

// The two keys read before any window exists, from a short-lived reading of the file. When the file
// cannot be read the logo is shown.
struct EarlyOptions {
  bool ShowLogo = true;
  std::int32_t Language = 0;
};
EarlyOptions ReadEarlyOptions(const std::string& optionsFilePath);

// Looks up one key; nullopt when it is missing. LoadOptions reads the program's IniFile through it,
// tests through lookups of their own.
using ProfileLookup =
    std::function<std::optional<std::string>(std::string_view section, std::string_view key)>;

// Every value at its default, then both sections in the loading order. A failure in the main block
// leaves the keys not yet read at their defaults. The sort keys are read separately, after the task
// list, by LoadSortOrder.
ProgramOptions LoadOptions(const IniFile& file);
ProgramOptions LoadOptions(const ProfileLookup& lookup);
SortOrder LoadSortOrder(const IniFile& file);

// Updates the autostart entry from RunOnStartUp once the keys are on the disk; failures inside it
// are ignored.
using AutostartUpdate = std::function<void(bool runOnStartUp)>;

// Writes the keys of the options window in the saving order and puts them on the disk in one
// crash-safe replacement of the file. On a failure the error is "Unable to write to " + the file's
// path, and `file` (its memory copy and its pending writes) and the file on the disk stay as they
// were; the autostart entry is then left alone.
platform::Status SaveOptions(IniFile& file, const ProgramOptions& options,
                             const AutostartUpdate& autostart = {});
// Sort, Col and SUP (written as "Sup").
platform::Status SaveSortOrder(IniFile& file, const SortOrder& order);
// Failures are ignored.
void SaveShowTips(IniFile& file, bool showTips);
void SaveWindowState(IniFile& file, const WindowGeometry& geometry);

// The stored forms of the two passwords. The scrambled access password may hold any byte (NUL, CR
// and LF included), so it is written as "hex:" followed by two lower-case hexadecimal digits per
// byte; a value without that form is taken as the scrambled bytes themselves, as older files hold
// them. An empty password is stored empty.
std::string EncodeAccessPassword(std::string_view password);
std::string DecodeAccessPassword(std::string_view stored);
inline constexpr std::string_view kAccessPasswordHexMarker = "hex:";
// The case-insensitive comparison of an entered access password (ASCII letters only fold).
bool AccessPasswordMatches(const ProgramOptions& options, std::string_view entered);

// The options in force for the whole process. Readers on any thread get a consistent snapshot that
// stays valid while the options window replaces the options; setting them also applies the log's
// settings.
std::shared_ptr<const ProgramOptions> CurrentOptions();
void SetCurrentOptions(ProgramOptions options);

}  // namespace zentrove::core
