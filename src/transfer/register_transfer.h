#pragma once

namespace zentrove::transfer {

// Registers the engine steps that the transfer library provides (the FTP upload after a run). Called
// once at the program's start, next to engine::RegisterAllSteps and before any run.
void RegisterTransferSteps();

}  // namespace zentrove::transfer
