#include "engine/external_archiver.h"

#include <algorithm>
#include <any>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "base/text.h"
#include "core/config_folder.h"
#include "core/ini_file.h"
#include "core/options.h"
#include "core/user_interface.h"
#include "engine/engine_ops.h"
#include "engine/job_runner.h"
#include "engine/run_environment.h"
#include "engine/source_selection.h"
#include "engine/zip/zip_names.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/private_file.h"
#include "platform/process.h"

namespace zentrove::engine {
namespace {

using log::AddLogLine;
using log::LogLevel;

constexpr std::string_view kMaskedPassword = "*****";
// An archiver may ask for the password more than once: 7-Zip asks to open an encrypted archive it
// updates and again for the new data, others ask to confirm it.
constexpr int kPasswordInputRepeats = 4;

// Values from outside the configuration stand in the template as a marker byte and an index until
// the very end, so no later replacement can reach into them.
constexpr char kMarker = '\x01';
enum ValueIndex : std::size_t {
  kTempPath,
  kPassword,
  kPasswordFile,
  kZipName,
  kExcludeList,
  kIncludeList,
  kValueCount
};

std::string Marker(ValueIndex index) {
  return {kMarker, static_cast<char>('0' + index)};
}

const std::string& CompressionSwitch(const TExtArhInfo& config, int level) {
  switch (level) {
    case 0:
      return config.CompressStore;
    case 1:
      return config.CompressFastest;
    case 3:
      return config.CompressFaster;
    case 4:
      return config.CompressFast;
    case 7:
      return config.CompressSlow;
    case 8:
      return config.CompressSlower;
    case 9:
      return config.CompressSlowest;
    default:
      return config.CompressNormal;
  }
}

std::string PrioritySwitch(const TExtArhInfo& config, int priority) {
  switch (priority) {
    case 0:
      return config.PriorityIdle;
    case 1:
      return config.PriorityLowest;
    case 2:
      return config.PriorityLower;
    case 3:
      return config.PriorityNormal;
    case 4:
      return config.PriorityHiger;
    case 5:
      return config.PriorityHigest;
    default:
      return {};
  }
}

const std::string& ActionCommand(const TExtArhInfo& config, ZipAction action) {
  switch (action) {
    case ZipAction::Replace:
      return config.ReplaceCommand;
    case ZipAction::Freshen:
      return config.FreshCommand;
    case ZipAction::Update:
      break;
  }
  return config.UpdateCommand;
}

enum class Quoting { None, Single, Double };

// The splitter expands nothing, so only blanks, quotation marks and backslashes need care.
bool IsPlainWordByte(char c) {
  return std::strchr(" \t\n'\"\\", c) == nullptr;
}

// The value written so that the shell-rule splitter reads it back unchanged as part of the word it
// stands in.
std::string Quoted(std::string_view value, Quoting quoting) {
  std::string out;
  out.reserve(value.size() + 8);
  for (const char c : value) {
    switch (quoting) {
      case Quoting::None:
        if (c == '\n') {
          // A backslash before a newline would remove it.
          out += "'\n'";
        } else {
          if (!IsPlainWordByte(c)) out += '\\';
          out += c;
        }
        break;
      case Quoting::Double:
        if (c == '"' || c == '\\') out += '\\';
        out += c;
        break;
      case Quoting::Single:
        if (c == '\'') {
          out += "'\\''";
        } else {
          out += c;
        }
        break;
    }
  }
  return out;
}

bool IsMarkerAt(std::string_view text, std::size_t i) {
  return i + 1 < text.size() && text[i] == kMarker && text[i + 1] >= '0' &&
         static_cast<std::size_t>(text[i + 1] - '0') < kValueCount;
}

// Replaces the markers, following the quotation state of the text as the splitter will see it. The
// text is split after the command, so a quotation the command leaves open goes on in the parameters.
std::string InsertValues(std::string_view text, const std::array<std::string, kValueCount>& values,
                         Quoting& quoting) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (IsMarkerAt(text, i)) {
      out += Quoted(values[static_cast<std::size_t>(text[i + 1] - '0')], quoting);
      ++i;
      continue;
    }
    const bool hasNext = i + 1 < text.size();
    if (c == '\\' && IsMarkerAt(text, i + 1) && quoting != Quoting::Single) {
      // The splitter would pair this backslash with the value's first character; it stays a
      // backslash of its own instead.
      out += "\\\\";
      continue;
    }
    out += c;
    switch (quoting) {
      case Quoting::None:
        if (c == '\\' && hasNext) {
          out += text[++i];
        } else if (c == '\'') {
          quoting = Quoting::Single;
        } else if (c == '"') {
          quoting = Quoting::Double;
        }
        break;
      case Quoting::Single:
        if (c == '\'') quoting = Quoting::None;
        break;
      case Quoting::Double:
        if (c == '\\' && hasNext && std::strchr("\"\\$`\n", text[i + 1]) != nullptr) {
          out += text[++i];
        } else if (c == '"') {
          quoting = Quoting::None;
        }
        break;
    }
  }
  return out;
}

std::string WithoutQuotationMarks(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
  return text;
}

void WriteListFile(const std::string& path, const std::vector<std::string>& items, int listCodePage) {
  // A list that cannot be written completely still goes to the archiver, which then reports what
  // it could not find.
  try {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << ListFileText(items, listCodePage);
  } catch (...) {
  }
}

bool HasItems(const std::vector<std::string>& items) {
  return std::any_of(items.begin(), items.end(), [](const std::string& item) { return !item.empty(); });
}

bool ProgramClosing(const RunContext& run) {
  const RunHooks hooks = HooksOf(run);
  return hooks.ProgramClosing && hooks.ProgramClosing();
}

}  // namespace

TExtArhInfo LoadArchiverConfig(const std::string& name, int taskNumber) {
  return LoadArchiverConfig(core::ConfigFolder(), name, taskNumber);
}

TExtArhInfo LoadArchiverConfig(const std::string& configFolder, const std::string& name, int taskNumber) {
  const std::string path = ArchiverConfigPath(configFolder, name);
  const auto text = platform::ReadWholeFile(path);
  if (!text.Ok()) {
    AddLogLine(
        LogLevel::Error, taskNumber,
        "Error reading the archiver configuration file" + name + std::string(kArchiverConfigExtension));
    return {};
  }
  return ParseArchiverConfig(*text);
}

std::vector<std::string> ArchiverNames(const std::string& configFolder) {
  std::vector<std::string> names;
  const auto entries = platform::ListFolder(configFolder);
  if (!entries.Ok()) return names;
  const std::size_t extensionLength = kArchiverConfigExtension.size();
  for (const platform::FolderEntry& entry : *entries) {
    if (entry.name.size() <= extensionLength) continue;
    if (!base::EqualsNoCase(std::string_view(entry.name).substr(entry.name.size() - extensionLength),
                            kArchiverConfigExtension)) {
      continue;
    }
    if (!IsExistingFile(configFolder + entry.name)) continue;
    names.push_back(entry.name.substr(0, entry.name.size() - extensionLength));
  }
  std::sort(names.begin(), names.end());
  return names;
}

ArchiverTemplateValues TemplateValuesOf(const RunContext& run, const std::string& includeListPath,
                                        const std::string& excludeListPath) {
  const core::TArhRecord& task = run.Task;
  const auto options = OptionsOf(run);
  ArchiverTemplateValues values;
  values.action = run.Action;
  values.processSubfolders = task.ProcessSubfolders;
  values.compressMetod = task.CompressMetod;
  values.tempPath = options->TempPath;
  values.password = task.Password;
  values.resetArchiveBit = task.ResetArchiveBitOnZip;
  values.copyAccessRights = task.CopyAccessRights;
  values.deleteAfterArchiving = task.DeleteFileAfterZip;
  values.onlyArchiveMarked = task.SkipIfArchiveBitNotSet;
  values.zipName = run.ZipName;
  values.zipPriority = options->ZipPriority;
  values.includeListPath = includeListPath;
  values.excludeListPath = excludeListPath;
  return values;
}

std::string PasswordSwitchOf(const TExtArhInfo& config, const ArchiverTemplateValues& values) {
  if (values.password.empty()) return {};
  return config.PasswordInputSw.empty() ? config.PasswordSw : config.PasswordInputSw;
}

bool NeedsPasswordFile(const TExtArhInfo& config, const ArchiverTemplateValues& values) {
  return base::FindNoCase(PasswordSwitchOf(config, values), "[PasswordFile]") != std::string::npos;
}

ArchiverParameters FillArchiverTemplate(const TExtArhInfo& config, const ArchiverTemplateValues& values) {
  std::string text = config.ParamStr;
  const auto replace = [&text](std::string_view macro, std::string_view value) {
    text = base::ReplaceAllNoCase(text, macro, value);
  };
  const auto inner = [](const std::string& sw, std::string_view macro, ValueIndex index) {
    return base::ReplaceAllNoCase(sw, macro, Marker(index));
  };
  replace("[ArhCommand]", ActionCommand(config, values.action));
  replace("[RecurseSw]", values.processSubfolders ? config.RecurseSw : config.NoRecurseSw);
  replace("[CompressLevel]", CompressionSwitch(config, values.compressMetod));
  replace("[TmpDirSW]",
          values.tempPath.empty() ? std::string() : inner(config.SetTmpDir, "[TmpDir]", kTempPath));
  const std::string passwordSwitch = PasswordSwitchOf(config, values);
  const bool passwordNamed = base::FindNoCase(text, "[PasswordSW]") != std::string::npos;
  replace("[PasswordSW]",
          inner(inner(passwordSwitch, "[Password]", kPassword), "[PasswordFile]", kPasswordFile));
  replace("[ClearArchiveAttr]", values.resetArchiveBit ? config.ClearArchiveAttr : std::string());
  replace("[SaveNTFSRights]", values.copyAccessRights ? config.SaveNTFSRights : std::string());
  replace("[DeleteOriginalFile]", values.deleteAfterArchiving ? config.DeleteOriginalFile : std::string());
  replace("[AddWithArchiveAttr]", values.onlyArchiveMarked ? config.AddWithArchiveAttr : std::string());
  replace("[ArchiveName]", Marker(kZipName));
  replace("[Priority]", PrioritySwitch(config, values.zipPriority));
  replace("[ExcludeSw]", values.excludeListPath.empty()
                             ? std::string()
                             : inner(config.ExcludeSw, "[ExcludeFilesList]", kExcludeList));
  replace("[IncludeSW]", values.includeListPath.empty()
                             ? std::string()
                             : inner(config.IncludeSw, "[IncludeFilesList]", kIncludeList));

  std::array<std::string, kValueCount> inserted{values.tempPath,         values.password,
                                                values.passwordFilePath, values.zipName,
                                                values.excludeListPath,  values.includeListPath};
  ArchiverParameters parameters;
  if (passwordNamed && !passwordSwitch.empty() && !config.PasswordInputSw.empty()) {
    for (int i = 0; i < kPasswordInputRepeats; ++i)
      parameters.passwordInput += values.password + "\n";
  }
  Quoting afterCommand = Quoting::None;
  (void)InsertValues(config.Command + " ", {}, afterCommand);
  Quoting quoting = afterCommand;
  parameters.text = InsertValues(text, inserted, quoting);
  inserted[kPassword] = kMaskedPassword;
  quoting = afterCommand;
  parameters.shown = InsertValues(text, inserted, quoting);
  return parameters;
}

std::string ListFilePath(const std::string& zipName, std::string_view extension) {
  const std::size_t nameStart = FolderPart(zipName).size();
  const std::size_t dot = zipName.rfind('.');
  const std::size_t end = dot == std::string::npos || dot < nameStart ? zipName.size() : dot;
  return zipName.substr(0, end) + std::string(extension);
}

std::string ListFileText(const std::vector<std::string>& items, int listCodePage) {
  std::unique_ptr<zip::names::OemConverter> oem;
  if (listCodePage == 1) oem = std::make_unique<zip::names::OemConverter>(zip::names::DefaultOemCodePage());
  std::string text;
  for (const std::string& item : items) {
    if (item.empty()) continue;
    // An item without a folder stands as it is: a "/" in front would make it name the root of the
    // file system, not a file in any folder.
    std::string line = AllFilesMaskToStar(item);
    if (oem) {
      if (auto converted = oem->FromUtf8(line)) line = std::move(*converted);
    }
    text += line;
    text += "\r\n";
  }
  return text;
}

int ExternalArchiveRun(RunContext& run, const TExtArhInfo& config) {
  core::TArhRecord& task = run.Task;
  const int number = task.TaskNumber;

  const std::string excludePath =
      HasItems(run.ExcludeItems) ? ListFilePath(run.ZipName, kExcludeListExtension) : std::string();
  const std::string includePath =
      HasItems(run.IncludeItems) ? ListFilePath(run.ZipName, kIncludeListExtension) : std::string();
  ArchiverTemplateValues values = TemplateValuesOf(run, includePath, excludePath);
  // Removed when the run leaves this function, however it ends.
  platform::PrivateFile passwordFile;
  if (NeedsPasswordFile(config, values)) {
    auto created = platform::PrivateFile::Create("zentrove-password", values.password);
    if (!created) {
      AddLogLine(
          LogLevel::Error, number,
          "The file for the password of the external archiver cannot be created: " + created.Message());
      return 0;
    }
    passwordFile = std::move(*created);
    values.passwordFilePath = passwordFile.Path();
  }
  ArchiverParameters parameters;
  try {
    parameters = FillArchiverTemplate(config, values);
  } catch (...) {
  }
  if (!excludePath.empty()) WriteListFile(excludePath, run.ExcludeItems, config.ListCodePage);
  if (!includePath.empty()) WriteListFile(includePath, run.IncludeItems, config.ListCodePage);
  const auto removeLists = [&excludePath, &includePath] {
    if (!excludePath.empty()) std::remove(excludePath.c_str());
    if (!includePath.empty()) std::remove(includePath.c_str());
  };

  if (PathExists(run.ZipName)) {
    AddLogLine(LogLevel::Warning, number,
               "The archive file has been found before execution with an external archive");
  } else {
    AddLogLine(LogLevel::Information, number,
               "The archive file was not found before the beginning of archiving");
  }
  const std::string shownLine = config.Command + " " + parameters.shown;
  AddLogLine(LogLevel::Information, number, "Executing external archiver: " + shownLine);
  // The masked line differs only where the password went in; the system shows every command line to
  // every local user.
  if (parameters.PasswordOnCommandLine()) {
    AddLogLine(LogLevel::Warning, number,
               "The external archiver gets the password on its command line, where every local user "
               "can see it");
  }

  int result = 0;
  bool started = false;
  try {
    auto words = platform::SplitCommandLine(config.Command + " " + parameters.text);
    if (words.Ok() && !words->empty()) {
      const std::string program = words->front();
      const std::vector<std::string> arguments(words->begin() + 1, words->end());
      const int showWindow = core::CurrentUserInterface().IsHeadless() ? 0 : 5;
      auto process =
          platform::StartProcess(program, arguments, FolderPart(WithoutQuotationMarks(config.Command)),
                                 showWindow, parameters.passwordInput);
      if (process.Ok()) {
        started = true;
        task.PercentDone = 0;
        task.StatusText1 = "";
        task.StatusText2 = "";
        task.StatusText3 = "";
        run.Refresh();
        const auto start = std::chrono::steady_clock::now();
        while (!process->WaitFor(std::chrono::milliseconds(1000))) {
          // The program is ending: the archiver is left to finish on its own.
          if (ProgramClosing(run)) return 0;
          const auto elapsed =
              std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
          task.PercentDone = static_cast<int>(elapsed.count());
          run.Refresh();
        }
        const int code = process->ExitCode().value_or(-1);
        run.ExitCode = static_cast<std::uint32_t>(code);
        if (code != 0) {
          AddLogLine(LogLevel::Error, number,
                     "Attention! The external archiver returned the error code:" + std::to_string(code));
        } else {
          AddLogLine(LogLevel::Information, number, "External archiver return code :" + std::to_string(code));
        }
        if (IsExistingFile(run.ZipName)) {
          AddLogLine(LogLevel::Information, number,
                     "The archive file has been found after execution with external archiver: " +
                         FileDescription(run.ZipName));
          result = 1;
        } else {
          AddLogLine(LogLevel::Error, number, "The archive file was not created by external archiver");
        }
      }
    }
  } catch (...) {
    started = false;
    result = 0;
  }
  if (!started) {
    AddLogLine(LogLevel::Error, number,
               "Error occured while attempting to execute the external archiver " + shownLine +
                   ". Please specify the correct path to the EXE file");
  }
  removeLists();
  return result;
}

void RegisterExternalArchiverStep(RunEnvironment& environment) {
  environment.SetPrepareStep(BackupStepKind::ExternalArchiver, [](RunContext& run) {
    TExtArhInfo config = LoadArchiverConfig(run.Task.UseExtArh, run.Task.TaskNumber);
    run.Extension = "." + config.Ext;
    run.ModeState = std::move(config);
  });
  environment.SetBackupStep(BackupStepKind::ExternalArchiver, [](RunContext& run) {
    if (const auto* config = std::any_cast<TExtArhInfo>(&run.ModeState)) {
      return StepResult{false, ExternalArchiveRun(run, *config)};
    }
    return StepResult{false,
                      ExternalArchiveRun(run, LoadArchiverConfig(run.Task.UseExtArh, run.Task.TaskNumber))};
  });
}

}  // namespace zentrove::engine
