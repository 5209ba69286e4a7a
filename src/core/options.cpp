#include "core/options.h"

#include <cerrno>
#include <mutex>
#include <utility>

#include "base/text.h"
#include "core/password_scramble.h"
#include "core/task_file_format.h"

namespace zentrove::core {
namespace {

// Reads the values of one section in the forms of the options file.
class OptionsReader {
 public:
  OptionsReader(const ProfileLookup& lookup, std::string_view section) : lookup_(lookup), section_(section) {}

  // True only for exactly "1"; "2" and "true" are false too.
  void FlagText(std::string_view key, bool& value) const {
    if (auto text = lookup_(section_, key)) value = *text == "1";
  }
  void Bool(std::string_view key, bool& value) const {
    if (auto text = lookup_(section_, key)) value = ReadProfileBool(*text, value);
  }
  void Integer(std::string_view key, std::int32_t& value) const {
    if (auto text = lookup_(section_, key)) value = ReadProfileInteger(*text, value);
  }
  void Text(std::string_view key, std::string& value) const {
    if (auto text = lookup_(section_, key)) value = std::move(*text);
  }
  std::optional<std::string> Raw(std::string_view key) const { return lookup_(section_, key); }

 private:
  const ProfileLookup& lookup_;
  std::string_view section_;
};

// Writes values into the memory copy of the file; Commit puts what was written on the disk.
class OptionsWriter {
 public:
  OptionsWriter(IniFile& file, std::string_view section) : file_(file), section_(section) {}

  void Flag(std::string_view key, bool value) { file_.WriteString(section_, key, FormatProfileBool(value)); }
  void Integer(std::string_view key, std::int32_t value) {
    file_.WriteString(section_, key, std::to_string(value));
  }
  void Text(std::string_view key, std::string_view value) { file_.WriteString(section_, key, value); }

  platform::Status Commit() {
    std::string reason;
    if (file_.Flush(&reason)) return platform::Status::Success();
    return platform::Status::Failure(EIO, "Unable to write to " + file_.Path());
  }

 private:
  IniFile& file_;
  std::string_view section_;
};

ProfileLookup LookupIn(const IniFile& file) {
  return [&file](std::string_view section, std::string_view key) { return file.Find(section, key); };
}

// The keys of section WindowState in their writing order, G1 to G10 after them.
struct WindowKey {
  std::string_view name;
  std::int32_t WindowGeometry::*field;
};
constexpr WindowKey kWindowKeys[] = {
    {"Left", &WindowGeometry::Left},   {"Top", &WindowGeometry::Top},     {"Height", &WindowGeometry::Height},
    {"Width", &WindowGeometry::Width}, {"State", &WindowGeometry::State}, {"SPos", &WindowGeometry::SPos},
};

std::string ColumnKey(std::size_t index) {
  return "G" + std::to_string(index + 1);
}

void ReadWindowState(const OptionsReader& in, WindowGeometry& window) {
  for (const WindowKey& key : kWindowKeys)
    in.Integer(key.name, window.*key.field);
  for (std::size_t i = 0; i < window.G.size(); ++i)
    in.Integer(ColumnKey(i), window.G[i]);
}

void ReadMainBlock(const OptionsReader& in, const OptionsReader& windowIn, ProgramOptions& o) {
  in.FlagText("ShowLogo", o.ShowLogo);
  in.FlagText("WriteToEventLog", o.WriteToEventLog);
  in.FlagText("RunOnStartUp", o.RunOnStartUp);
  in.FlagText("DeleteinRecucledBin", o.DeleteinRecucledBin);
  in.Integer("TrashLimitPercent", o.TrashLimitPercent);
  in.FlagText("DisableDeepWhenNoPrefix", o.DisableDeepWhenNoPrefix);
  in.FlagText("ExitIfNoTasks", o.ExitIfNoTasks);
  in.FlagText("EnableSound", o.EnableSound);
  in.FlagText("ExitWithoutDlg", o.ExitWithoutDlg);
  in.FlagText("PromtDelete", o.PromtDelete);
  in.FlagText("PromtExecute", o.PromtExecute);
  in.FlagText("PromtInterrupt", o.PromtInterrupt);
  in.FlagText("PromtAllexecute", o.PromtAllexecute);
  in.Bool("PromtShare", o.PromtShare);
  in.Integer("PSDefaultAction", o.PSDefaultAction);
  in.FlagText("ExitIfTodayNoTasks", o.ExitIfTodayNoTasks);
  in.Text("SMTPHost", o.SMTPHost);
  in.Text("SMTPPort", o.SMTPPort);
  in.Text("SMTPUser", o.SMTPUser);
  in.Text("SMTPUserName", o.SMTPUserName);
  in.Text("SMTPUserAddress", o.SMTPUserAddress);
  in.Integer("SMTPConnectionType", o.SMTPConnectionType);
  in.Bool("SMTPUseProxy", o.SMTPUseProxy);
  in.Text("SMTPProxy", o.SMTPProxy);
  in.Text("SMTPProxyPort", o.SMTPProxyPort);
  in.Text("TempPath", o.TempPath);
  if (auto stored = in.Raw("PopUpPassword")) o.PopUpPassword = DecodeAccessPassword(*stored);
  if (auto stored = in.Raw("SMTPPassword")) o.SMTPPassword = UnscrambleSmtpPassword(*stored);
  in.FlagText("OutError", o.OutError);
  in.FlagText("OutWarnings", o.OutWarnings);
  in.FlagText("OutInfo", o.OutInfo);
  in.Integer("ColorError", o.ColorError);
  in.Integer("ColorWarnings", o.ColorWarnings);
  in.Integer("ColorInfo", o.ColorInfo);
  in.Integer("CompressionMethod", o.CompressionMethod);
  in.Integer("MaxLogCount", o.MaxLogCount);
  in.Integer("MaxLog", o.MaxLog);
  in.Bool("ShowTryIcon", o.ShowTryIcon);
  ReadWindowState(windowIn, o.Window);
  in.Integer("ZipPriority", o.ZipPriority);
  if (!IsValidZipPriority(o.ZipPriority)) o.ZipPriority = 3;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>((high << 4) | low));
  }
  return bytes;
}

std::mutex g_currentMutex;
std::shared_ptr<const ProgramOptions> g_current = std::make_shared<const ProgramOptions>();

}  // namespace

NewTaskDefaults ProgramOptions::TaskDefaults() const {
  NewTaskDefaults defaults;
  defaults.CompressionMethod = IsValidCompressionMethod(CompressionMethod) ? CompressionMethod : 6;
  defaults.ZipPriority = static_cast<std::uint8_t>(IsValidZipPriority(ZipPriority) ? ZipPriority : 3);
  defaults.PromtShare = PromtShare;
  defaults.PSDefaultAction = PSDefaultAction;
  return defaults;
}

log::LogSettings ProgramOptions::LogSettings() const {
  log::LogSettings settings;
  settings.OutError = OutError;
  settings.OutWarnings = OutWarnings;
  settings.OutInfo = OutInfo;
  settings.ColorError = ColorError;
  settings.ColorWarnings = ColorWarnings;
  settings.ColorInfo = ColorInfo;
  settings.MaxLogCount = MaxLogCount;
  settings.MaxLog = MaxLog;
  settings.WriteToEventLog = WriteToEventLog;
  return settings;
}

bool IsValidCompressionMethod(std::int32_t value) {
  switch (value) {
    case 0:
    case 1:
    case 3:
    case 4:
    case 6:
    case 7:
    case 8:
    case 9:
      return true;
    default:
      return false;
  }
}

bool IsValidZipPriority(std::int32_t value) {
  return value >= 0 && value <= 5;
}

WindowPlacement PlacementToApply(const WindowGeometry& geometry) {
  const auto applied = [](std::int32_t value) -> std::optional<std::int32_t> {
    if (value < 0) return std::nullopt;
    return value;
  };
  WindowPlacement placement;
  placement.UseStoredPosition = geometry.Left >= 0;
  placement.Left = applied(geometry.Left);
  placement.Top = applied(geometry.Top);
  placement.Height = applied(geometry.Height);
  placement.Width = applied(geometry.Width);
  if (geometry.State == 0 || geometry.State == 2) placement.State = geometry.State;
  placement.SPos = applied(geometry.SPos);
  for (std::size_t i = 0; i < geometry.G.size(); ++i)
    placement.ColumnWidths[i] = applied(geometry.G[i]);
  return placement;
}

std::string OptionsFilePath(const std::string& configFolder) {
  return configFolder + std::string(kOptionsFileName);
}

IniFile OpenOptionsFile(const std::string& configFolder) {
  IniFile file(OptionsFilePath(configFolder), FilePrivacy::OwnerOnly);
  // A file that cannot be read gives the defaults, as a missing one does.
  (void)file.Load();
  return file;
}

EarlyOptions ReadEarlyOptions(const std::string& optionsFilePath) {
  EarlyOptions early;
  try {
    IniFile file(optionsFilePath);
    if (!file.Load()) return early;
    early.ShowLogo = file.ReadString(kOptionsSection, "ShowLogo", "1") == "1";
    if (auto language = file.Find(kOptionsSection, "Language"))
      early.Language = ReadProfileInteger(*language, 0);
  } catch (...) {
    return EarlyOptions{};
  }
  return early;
}

ProgramOptions LoadOptions(const IniFile& file) {
  return LoadOptions(LookupIn(file));
}

ProgramOptions LoadOptions(const ProfileLookup& lookup) {
  ProgramOptions options;
  const OptionsReader in(lookup, kOptionsSection);
  const OptionsReader windowIn(lookup, kWindowStateSection);
  try {
    in.Integer("IsItEnglishBuild", options.IsItEnglishBuild);
    in.Bool("ShowTips", options.ShowTips);
    in.Integer("FormScale", options.FormScale);
    // The start-up reads the language early; reading it here too keeps it through a Save.
    in.Integer("Language", options.Language);
  } catch (...) {
    // The interface keys keep their defaults.
  }
  try {
    ReadMainBlock(in, windowIn, options);
  } catch (...) {
    // The keys not yet read keep their defaults.
  }
  if (!IsValidCompressionMethod(options.CompressionMethod)) options.CompressionMethod = 6;
  return options;
}

SortOrder LoadSortOrder(const IniFile& file) {
  SortOrder order;
  const ProfileLookup lookup = LookupIn(file);
  const OptionsReader in(lookup, kOptionsSection);
  in.Bool("Sort", order.Sort);
  in.Integer("Col", order.Col);
  in.Bool("SUP", order.SUP);
  return order;
}

platform::Status SaveOptions(IniFile& file, const ProgramOptions& o, const AutostartUpdate& autostart) {
  // The keys go to a copy of the file in memory, and the copy reaches the disk in one crash-safe
  // replacement. Only then does it take the place of the program's copy, so a failed save leaves the
  // file on the disk and in memory exactly as it was, without some keys written and others not.
  IniFile edited = file;
  OptionsWriter out(edited, kOptionsSection);
  out.Integer("FormScale", o.FormScale);
  out.Integer("Language", o.Language);
  out.Text("PopUpPassword", EncodeAccessPassword(o.PopUpPassword));
  out.Text("SMTPPassword", ScrambleSmtpPassword(o.SMTPPassword));
  out.Text("SMTPHost", o.SMTPHost);
  out.Text("SMTPPort", o.SMTPPort);
  out.Text("SMTPUser", o.SMTPUser);
  out.Text("SMTPUserName", o.SMTPUserName);
  out.Text("SMTPUserAddress", o.SMTPUserAddress);
  out.Integer("SMTPConnectionType", o.SMTPConnectionType);
  out.Flag("SMTPUseProxy", o.SMTPUseProxy);
  out.Text("SMTPProxy", o.SMTPProxy);
  out.Text("SMTPProxyPort", o.SMTPProxyPort);
  out.Flag("RunOnStartUp", o.RunOnStartUp);
  out.Flag("ShowLogo", o.ShowLogo);
  out.Flag("WriteToEventLog", o.WriteToEventLog);
  out.Flag("ShowTryIcon", o.ShowTryIcon);
  out.Flag("DeleteinRecucledBin", o.DeleteinRecucledBin);
  // Written only when changed, so that the file keeps the keys other programs know.
  if (o.TrashLimitPercent != ProgramOptions{}.TrashLimitPercent)
    out.Integer("TrashLimitPercent", o.TrashLimitPercent);
  out.Flag("DisableDeepWhenNoPrefix", o.DisableDeepWhenNoPrefix);
  out.Flag("ExitIfNoTasks", o.ExitIfNoTasks);
  out.Flag("Enablesound", o.EnableSound);
  out.Flag("PromtDelete", o.PromtDelete);
  out.Flag("PromtExecute", o.PromtExecute);
  out.Flag("PromtInterrupt", o.PromtInterrupt);
  out.Flag("PromtAllexecute", o.PromtAllexecute);
  out.Flag("PromtShare", o.PromtShare);
  out.Integer("PSDefaultAction", o.PSDefaultAction);
  out.Flag("ExitWithoutDlg", o.ExitWithoutDlg);
  out.Flag("ExitIfTodayNoTasks", o.ExitIfTodayNoTasks);
  out.Integer("MaxLogCount", o.MaxLogCount);
  out.Integer("MaxLog", o.MaxLog);
  out.Text("TempPath", o.TempPath);
  out.Flag("OutError", o.OutError);
  out.Flag("OutWarnings", o.OutWarnings);
  out.Flag("OutInfo", o.OutInfo);
  out.Integer("ColorError", o.ColorError);
  out.Integer("ColorWarnings", o.ColorWarnings);
  out.Integer("ColorInfo", o.ColorInfo);
  out.Integer("CompressionMethod", o.CompressionMethod);
  out.Integer("ZipPriority", o.ZipPriority);
  if (auto status = out.Commit(); !status) return status;
  file = std::move(edited);

  if (autostart) {
    try {
      autostart(o.RunOnStartUp);
    } catch (...) {
      // The options are saved whether or not the autostart entry could be changed.
    }
  }
  return platform::Status::Success();
}

platform::Status SaveSortOrder(IniFile& file, const SortOrder& order) {
  OptionsWriter out(file, kOptionsSection);
  out.Flag("Sort", order.Sort);
  out.Integer("Col", order.Col);
  out.Flag("Sup", order.SUP);
  return out.Commit();
}

void SaveShowTips(IniFile& file, bool showTips) {
  OptionsWriter out(file, kOptionsSection);
  out.Flag("ShowTips", showTips);
  (void)out.Commit();
}

void SaveWindowState(IniFile& file, const WindowGeometry& geometry) {
  OptionsWriter out(file, kWindowStateSection);
  for (const WindowKey& key : kWindowKeys)
    out.Integer(key.name, geometry.*key.field);
  for (std::size_t i = 0; i < geometry.G.size(); ++i)
    out.Integer(ColumnKey(i), geometry.G[i]);
  (void)out.Commit();
}

std::string EncodeAccessPassword(std::string_view password) {
  if (password.empty()) return {};
  static constexpr char kDigits[] = "0123456789abcdef";
  const std::string scrambled = ScrambleAccessPassword(password);
  std::string stored(kAccessPasswordHexMarker);
  for (const char c : scrambled) {
    const auto byte = static_cast<unsigned char>(c);
    stored.push_back(kDigits[byte >> 4]);
    stored.push_back(kDigits[byte & 15]);
  }
  return stored;
}

std::string DecodeAccessPassword(std::string_view stored) {
  if (base::StartsWith(stored, kAccessPasswordHexMarker)) {
    if (auto bytes = FromHex(stored.substr(kAccessPasswordHexMarker.size())))
      return ScrambleAccessPassword(*bytes);
  }
  return ScrambleAccessPassword(stored);
}

bool AccessPasswordMatches(const ProgramOptions& options, std::string_view entered) {
  return !options.HasAccessPassword() || base::EqualsNoCase(options.PopUpPassword, entered);
}

std::shared_ptr<const ProgramOptions> CurrentOptions() {
  std::lock_guard lock(g_currentMutex);
  return g_current;
}

void SetCurrentOptions(ProgramOptions options) {
  const log::LogSettings settings = options.LogSettings();
  auto snapshot = std::make_shared<const ProgramOptions>(std::move(options));
  {
    std::lock_guard lock(g_currentMutex);
    g_current = std::move(snapshot);
  }
  log::SetLogSettings(settings);
}

}  // namespace zentrove::core
