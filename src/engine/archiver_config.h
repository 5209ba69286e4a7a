#pragma once

// The configuration file of an external archiver (name + ".EMC" in the configuration folder): one
// section "Options" whose keys say how the archiver is started and how the task's settings read in
// its language, and the document the external archiver editor works on.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ini_file.h"
#include "platform/result.h"

namespace zentrove::engine {

inline constexpr std::string_view kArchiverConfigExtension = ".EMC";
inline constexpr std::string_view kArchiverConfigSection = "Options";

// One archiver configuration, the keys of section "Options" of its file.
struct TExtArhInfo {
  std::string Ext;
  std::string Command;
  std::string ParamStr;
  std::string ReplaceCommand;
  std::string FreshCommand;
  std::string UpdateCommand;
  std::string RecurseSw;
  std::string NoRecurseSw;
  std::string IncludeSw;
  std::string ExcludeSw;
  std::string CompressStore;
  std::string CompressFastest;
  std::string CompressFaster;
  std::string CompressFast;
  std::string CompressNormal;
  std::string CompressSlow;
  std::string CompressSlower;
  std::string CompressSlowest;
  std::string SetTmpDir;
  std::string AddWithArchiveAttr;
  std::string ClearArchiveAttr;
  std::string PriorityIdle;
  std::string PriorityLowest;
  std::string PriorityLower;
  std::string PriorityNormal;
  std::string PriorityHiger;
  std::string PriorityHigest;
  std::string PasswordSw;
  // The password switch for an archiver that reads the password from its standard input; the run
  // writes it there. When set it takes the place of PasswordSw, which archivers that cannot read it
  // need and older versions of the program still use.
  std::string PasswordInputSw;
  std::string DeleteOriginalFile;
  std::string SaveNTFSRights;
  int ListCodePage = 0;  // 0 list files in UTF-8, 1 in the OEM code page
  std::string Comment;

  bool operator==(const TExtArhInfo&) const = default;
};

// The keys in the order of the file; `text` is null for ListCodePage, the one number.
struct ArchiverConfigKey {
  std::string_view name;
  std::string TExtArhInfo::*text;
};
const std::vector<ArchiverConfigKey>& ArchiverConfigKeys();

// The configuration held in a profile, or in the text of a configuration file; missing keys are
// empty.
TExtArhInfo ReadArchiverConfig(const core::IniFile& file);
TExtArhInfo ParseArchiverConfig(std::string_view text);
// configFolder + name + ".EMC".
std::string ArchiverConfigPath(const std::string& configFolder, const std::string& name);

// The values of a new configuration: a parameter template that names every switch, and the list,
// folder and password switches holding their placeholders.
TExtArhInfo StartingArchiverConfig();
// The path a configuration is saved under: ".emc" is added when the file name holds no ".".
std::string WithArchiverConfigExtension(const std::string& path);

// The file the external archiver editor works on: the values of its boxes and, once a file has been
// opened or saved, that file with every line the editor does not know, which a save keeps as it is.
class ArchiverConfigDocument {
 public:
  ArchiverConfigDocument();

  TExtArhInfo values;

  // The current file, or none.
  const std::optional<std::string>& CurrentFile() const { return currentFile_; }
  // "Configuration file" + " " + path, or "Configuration file is not open".
  std::string Caption() const;

  // Reads the file into the values; a file that does not exist gives empty values. A file that
  // cannot be read, or that is no configuration at all (binary or huge), leaves no current file and
  // the starting values, so a later save never writes over what could not be read.
  [[nodiscard]] platform::Status Open(const std::string& path);
  // No current file, the starting values.
  void Clear();
  // Writes every key into the current file crash-safely, each value in quotation marks; keys and
  // lines the editor does not know stay as they are. EINVAL without a current file.
  [[nodiscard]] platform::Status Save();
  // Makes `path` the current file, replaced by this document: the lines of the file opened before
  // and the values. On failure the current file stays as it was.
  [[nodiscard]] platform::Status SaveAs(const std::string& path);

 private:
  void WriteValues(core::IniFile& file) const;

  std::optional<std::string> currentFile_;
  core::IniFile file_;
};

}  // namespace zentrove::engine
