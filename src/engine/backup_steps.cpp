#include "engine/backup_steps.h"

namespace zentrove::engine {

std::string MissingStepText(BackupStepKind kind) {
  switch (kind) {
    case BackupStepKind::BuiltInZip:
      return "The built-in ZIP archiver is not available in this build";
    case BackupStepKind::ExternalArchiver:
      return "External archivers are not available in this build";
    case BackupStepKind::Copy:
      return "The copy mode is not available in this build";
    case BackupStepKind::FtpMode:
      return "The Upload to FTP mode is not available in this build";
  }
  return "This backup mode is not available in this build";
}

std::string MissingStepText(DistributionStepKind kind) {
  switch (kind) {
    case DistributionStepKind::ExtraFolders:
      return "Copying to additional folders is not available in this build";
    case DistributionStepKind::FtpUpload:
      return "The FTP upload is not available in this build";
    case DistributionStepKind::MainRotation:
      return "The rotation of old backups is not available in this build";
  }
  return "This step is not available in this build";
}

BackupStepKind BackupStepKindOf(const core::TArhRecord& task) {
  switch (static_cast<core::BackupMode>(task.ArchiveOrCopy)) {
    case core::BackupMode::Copy:
      return BackupStepKind::Copy;
    case core::BackupMode::Ftp:
      return BackupStepKind::FtpMode;
    case core::BackupMode::Archive:
      break;
  }
  return task.UseInnerZip ? BackupStepKind::BuiltInZip : BackupStepKind::ExternalArchiver;
}

}  // namespace zentrove::engine
