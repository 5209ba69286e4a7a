#include "engine/backup_steps.h"

#include <array>
#include <mutex>

namespace zentrove::engine {
namespace {

struct Registry {
  std::mutex mutex;
  std::array<BackupStep, 4> backup;
  std::array<PrepareStep, 4> prepare;
  std::array<DistributionStep, 3> distribution;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::size_t IndexOf(BackupStepKind kind) {
  return static_cast<std::size_t>(kind);
}
std::size_t IndexOf(DistributionStepKind kind) {
  return static_cast<std::size_t>(kind);
}

}  // namespace

void RegisterBackupStep(BackupStepKind kind, BackupStep step) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.backup[IndexOf(kind)] = std::move(step);
}

void RegisterPrepareStep(BackupStepKind kind, PrepareStep step) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.prepare[IndexOf(kind)] = std::move(step);
}

void RegisterDistributionStep(DistributionStepKind kind, DistributionStep step) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.distribution[IndexOf(kind)] = std::move(step);
}

BackupStep FindBackupStep(BackupStepKind kind) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  return registry.backup[IndexOf(kind)];
}

PrepareStep FindPrepareStep(BackupStepKind kind) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  return registry.prepare[IndexOf(kind)];
}

DistributionStep FindDistributionStep(DistributionStepKind kind) {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  return registry.distribution[IndexOf(kind)];
}

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

void ClearRegisteredSteps() {
  auto& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.backup = {};
  registry.prepare = {};
  registry.distribution = {};
}

}  // namespace zentrove::engine
