#include "engine/archiver_config.h"

#include <cerrno>
#include <cstdint>

#include "base/text.h"
#include "engine/source_selection.h"
#include "platform/files.h"

namespace zentrove::engine {
namespace {

using platform::Status;

// Far more than any configuration holds; a bigger file was chosen by mistake, and reading it whole
// would only cost memory.
constexpr std::uint64_t kMaxConfigBytes = 1024 * 1024;

const std::string kNotOpenCaption = "Configuration file is not open";

}  // namespace

const std::vector<ArchiverConfigKey>& ArchiverConfigKeys() {
  static const std::vector<ArchiverConfigKey> keys = {
      {"Ext", &TExtArhInfo::Ext},
      {"Command", &TExtArhInfo::Command},
      {"ParamStr", &TExtArhInfo::ParamStr},
      {"ReplaceCommand", &TExtArhInfo::ReplaceCommand},
      {"FreshCommand", &TExtArhInfo::FreshCommand},
      {"UpdateCommand", &TExtArhInfo::UpdateCommand},
      {"RecurseSw", &TExtArhInfo::RecurseSw},
      {"NoRecurseSw", &TExtArhInfo::NoRecurseSw},
      {"IncludeSw", &TExtArhInfo::IncludeSw},
      {"ExcludeSw", &TExtArhInfo::ExcludeSw},
      {"CompressStore", &TExtArhInfo::CompressStore},
      {"CompressFastest", &TExtArhInfo::CompressFastest},
      {"CompressFaster", &TExtArhInfo::CompressFaster},
      {"CompressFast", &TExtArhInfo::CompressFast},
      {"CompressNormal", &TExtArhInfo::CompressNormal},
      {"CompressSlow", &TExtArhInfo::CompressSlow},
      {"CompressSlower", &TExtArhInfo::CompressSlower},
      {"CompressSlowest", &TExtArhInfo::CompressSlowest},
      {"SetTmpDir", &TExtArhInfo::SetTmpDir},
      {"AddWithArchiveAttr", &TExtArhInfo::AddWithArchiveAttr},
      {"ClearArchiveAttr", &TExtArhInfo::ClearArchiveAttr},
      {"PriorityIdle", &TExtArhInfo::PriorityIdle},
      {"PriorityLowest", &TExtArhInfo::PriorityLowest},
      {"PriorityLower", &TExtArhInfo::PriorityLower},
      {"PriorityNormal", &TExtArhInfo::PriorityNormal},
      {"PriorityHiger", &TExtArhInfo::PriorityHiger},
      {"PriorityHigest", &TExtArhInfo::PriorityHigest},
      {"PasswordSw", &TExtArhInfo::PasswordSw},
      {"PasswordInputSw", &TExtArhInfo::PasswordInputSw},
      {"DeleteOriginalFile", &TExtArhInfo::DeleteOriginalFile},
      {"SaveNTFSRights", &TExtArhInfo::SaveNTFSRights},
      {"ListCodePage", nullptr},
      {"Comment", &TExtArhInfo::Comment},
  };
  return keys;
}

TExtArhInfo ReadArchiverConfig(const core::IniFile& file) {
  TExtArhInfo config;
  for (const ArchiverConfigKey& key : ArchiverConfigKeys()) {
    const std::string value = file.ReadString(kArchiverConfigSection, key.name, "");
    if (key.text != nullptr) {
      config.*key.text = value;
    } else {
      config.ListCodePage = base::TrimBlanks(value) == "1" ? 1 : 0;
    }
  }
  return config;
}

TExtArhInfo ParseArchiverConfig(std::string_view text) {
  core::IniFile file("");
  file.LoadText(text);
  return ReadArchiverConfig(file);
}

std::string ArchiverConfigPath(const std::string& configFolder, const std::string& name) {
  return configFolder + name + std::string(kArchiverConfigExtension);
}

TExtArhInfo StartingArchiverConfig() {
  TExtArhInfo config;
  config.ParamStr =
      "[ArhCommand] [RecurseSw] [CompressLevel] [TmpDirSW] [AddWithArchiveAttr] [ClearArchiveAttr] "
      "[Priority] [PasswordSw] [SaveNTFSRights] [ExcludeSw] [ArchiveName] [IncludeSW] "
      "[DeleteOriginalFile] ";
  config.ExcludeSw = "[ExcludeFilesList]";
  config.IncludeSw = "[IncludeFilesList]";
  config.SetTmpDir = "[TmpDir]";
  config.PasswordSw = "[Password]";
  return config;
}

std::string WithArchiverConfigExtension(const std::string& path) {
  // Only the file name counts: the configuration folder itself usually has a "." in its path.
  if (NamePart(path).find('.') != std::string_view::npos) return path;
  return path + ".emc";
}

ArchiverConfigDocument::ArchiverConfigDocument() : values(StartingArchiverConfig()), file_("") {}

std::string ArchiverConfigDocument::Caption() const {
  return currentFile_ ? "Configuration file " + *currentFile_ : kNotOpenCaption;
}

Status ArchiverConfigDocument::Open(const std::string& path) {
  Clear();
  const platform::FileInfo info = platform::StatFollow(path);
  if (!info.exists && info.errorCode == ENOENT) {
    currentFile_ = path;
    file_ = core::IniFile(path);
    values = TExtArhInfo{};
    return Status::Success();
  }
  if (info.exists && info.kind == platform::FileKind::File && info.size > kMaxConfigBytes) {
    return Status::Failure(EFBIG, path + ": too large for an archiver configuration");
  }
  auto text = platform::ReadWholeFile(path);
  if (!text) return text.GetStatus();
  if (text->find('\0') != std::string::npos) {
    return Status::Failure(EINVAL, path + ": not an archiver configuration (the file is not text)");
  }
  file_ = core::IniFile(path);
  file_.LoadText(*text);
  values = ReadArchiverConfig(file_);
  currentFile_ = path;
  return Status::Success();
}

void ArchiverConfigDocument::Clear() {
  currentFile_.reset();
  file_ = core::IniFile("");
  values = StartingArchiverConfig();
}

void ArchiverConfigDocument::WriteValues(core::IniFile& file) const {
  for (const ArchiverConfigKey& key : ArchiverConfigKeys()) {
    const std::string value = key.text != nullptr ? values.*key.text : std::to_string(values.ListCodePage);
    file.WriteString(kArchiverConfigSection, key.name, value, core::Quotes::Always);
  }
}

Status ArchiverConfigDocument::Save() {
  if (!currentFile_) return Status::Failure(EINVAL, "No configuration file is open");
  WriteValues(file_);
  std::string error;
  if (!file_.Flush(&error)) return Status::Failure(EIO, error);
  return Status::Success();
}

Status ArchiverConfigDocument::SaveAs(const std::string& path) {
  if (currentFile_ && *currentFile_ == path) return Save();
  core::IniFile target(path);
  target.Clear();
  for (const std::string& section : file_.SectionNames()) {
    for (const std::string& key : file_.KeyNames(section)) {
      if (const auto value = file_.Find(section, key)) target.WriteString(section, key, *value);
    }
  }
  WriteValues(target);
  std::string error;
  if (!target.Flush(&error)) return Status::Failure(EIO, error);
  file_ = std::move(target);
  currentFile_ = path;
  return Status::Success();
}

}  // namespace zentrove::engine
