#include "transfer/register_transfer.h"

#include "engine/run_environment.h"
#include "transfer/ftp_mode.h"

namespace zentrove::transfer {

void RegisterTransferSteps(engine::RunEnvironment& environment, const FtpUploadOptions& options) {
  environment.SetDistributionStep(engine::DistributionStepKind::FtpUpload,
                                  [options](engine::RunContext& run, engine::StepResult current) {
                                    const FtpUploadResult uploaded =
                                        UploadToFTP(run.ZipName, run.Task, run.Extension, options,
                                                    [&run] { run.Refresh(); });
                                    if (uploaded.ok) return current;
                                    run.ErrorText = uploaded.error;
                                    return engine::StepResult{false, 0};
                                  });
  environment.SetBackupStep(engine::BackupStepKind::FtpMode,
                            [options](engine::RunContext& run) { return FtpModeStep(run, options); });
}

}  // namespace zentrove::transfer
