#pragma once

#include "transfer/ftp_upload.h"

namespace zentrove::engine {
class RunEnvironment;
}

namespace zentrove::transfer {

// Gives runs the steps that the transfer library provides (the FTP upload after a backup and the
// "Upload to FTP" backup mode). Called once at the program's start, next to engine::RegisterAllSteps
// and before any run.
void RegisterTransferSteps(engine::RunEnvironment& environment, const FtpUploadOptions& options = {});

}  // namespace zentrove::transfer
