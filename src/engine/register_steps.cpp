#include "engine/register_steps.h"

#include "engine/copy_mode.h"
#include "engine/external_archiver.h"
#include "engine/zip_step.h"

namespace zentrove::engine {

void RegisterAllSteps(RunEnvironment& environment) {
  RegisterZipStep(environment);
  RegisterExternalArchiverStep(environment);
  RegisterCopyAndDestinationSteps(environment);
}

}  // namespace zentrove::engine
