#pragma once

namespace zentrove::engine {

// Registers the backup and distribution steps of every mode this build has. Called once at the
// program's start, before any run.
void RegisterAllSteps();

}  // namespace zentrove::engine
