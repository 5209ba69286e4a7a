#pragma once

namespace zentrove::engine {

class RunEnvironment;

// Registers the backup and distribution steps of every mode this build has. Called once at the
// program's start, before any run.
void RegisterAllSteps(RunEnvironment& environment);

}  // namespace zentrove::engine
