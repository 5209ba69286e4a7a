#include "transfer/register_transfer.h"

#include "engine/backup_steps.h"
#include "transfer/ftp_upload.h"

namespace zentrove::transfer {

void RegisterTransferSteps() {
  engine::RegisterDistributionStep(
      engine::DistributionStepKind::FtpUpload, [](engine::RunContext& run, engine::StepResult current) {
        const FtpUploadResult uploaded =
            UploadToFTP(run.ZipName, run.Task, run.Extension, [&run] { run.Refresh(); });
        if (uploaded.ok) return current;
        run.ErrorText = uploaded.error;
        return engine::StepResult{false, 0};
      });
}

}  // namespace zentrove::transfer
