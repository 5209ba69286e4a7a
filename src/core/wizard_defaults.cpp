#include "core/wizard_defaults.h"

#include <cmath>
#include <string>

#include "core/wizard_form.h"

namespace zentrove::core {

void ApplyWizardDefaults(TArhRecord& task, base::TDateTime now, int compressionMethod) {
  WizardForm form(task, {.disableDeepWhenNoPrefix = true,
                         .compressionMethod = compressionMethod,
                         .now = now,
                         .taskNumbers = {}});
  form.values.prefix = kWizardPrefix;
  form.values.dateFormat = kWizardDateFormat;
  // The start time is shown to the minute; seconds would only make the first start look odd.
  form.values.startTime = std::floor(base::TimeOf(now) * 1440.0) / 1440.0;
  form.Fill(task);
}

}  // namespace zentrove::core
