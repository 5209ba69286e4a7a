#include "engine/run_environment.h"

#include <utility>

namespace zentrove::engine {
namespace {

std::size_t IndexOf(BackupStepKind kind) {
  return static_cast<std::size_t>(kind);
}
std::size_t IndexOf(DistributionStepKind kind) {
  return static_cast<std::size_t>(kind);
}

}  // namespace

RunEnvironment::RunEnvironment() : options_([] { return core::CurrentOptions(); }) {}

void RunEnvironment::SetBackupStep(BackupStepKind kind, BackupStep step) {
  std::lock_guard lock(mutex_);
  backup_[IndexOf(kind)] = std::move(step);
}

void RunEnvironment::SetPrepareStep(BackupStepKind kind, PrepareStep step) {
  std::lock_guard lock(mutex_);
  prepare_[IndexOf(kind)] = std::move(step);
}

void RunEnvironment::SetDistributionStep(DistributionStepKind kind, DistributionStep step) {
  std::lock_guard lock(mutex_);
  distribution_[IndexOf(kind)] = std::move(step);
}

BackupStep RunEnvironment::FindBackupStep(BackupStepKind kind) const {
  std::lock_guard lock(mutex_);
  return backup_[IndexOf(kind)];
}

PrepareStep RunEnvironment::FindPrepareStep(BackupStepKind kind) const {
  std::lock_guard lock(mutex_);
  return prepare_[IndexOf(kind)];
}

DistributionStep RunEnvironment::FindDistributionStep(DistributionStepKind kind) const {
  std::lock_guard lock(mutex_);
  return distribution_[IndexOf(kind)];
}

void RunEnvironment::ClearSteps() {
  std::lock_guard lock(mutex_);
  backup_ = {};
  prepare_ = {};
  distribution_ = {};
}

void RunEnvironment::SetHooks(RunHooks hooks) {
  std::lock_guard lock(mutex_);
  hooks_ = std::move(hooks);
}

RunHooks RunEnvironment::Hooks() const {
  std::lock_guard lock(mutex_);
  return hooks_;
}

void RunEnvironment::UpdateHooks(const std::function<void(RunHooks& hooks)>& change) {
  std::lock_guard lock(mutex_);
  change(hooks_);
}

void RunEnvironment::SetOptionsSource(OptionsSource source) {
  std::lock_guard lock(mutex_);
  options_ = std::move(source);
}

std::shared_ptr<const core::ProgramOptions> RunEnvironment::Options() const {
  OptionsSource source;
  {
    std::lock_guard lock(mutex_);
    source = options_;
  }
  if (source) {
    if (auto options = source()) return options;
  }
  return std::make_shared<const core::ProgramOptions>();
}

std::shared_ptr<const core::ProgramOptions> OptionsOf(const RunContext& run) {
  return run.Environment != nullptr ? run.Environment->Options() : core::CurrentOptions();
}

RunHooks HooksOf(const RunContext& run) {
  return run.Environment != nullptr ? run.Environment->Hooks() : RunHooks{};
}

}  // namespace zentrove::engine
