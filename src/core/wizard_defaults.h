#pragma once

#include <string_view>

#include "base/datetime.h"
#include "core/task_record.h"

namespace zentrove::core {

// The archive name a new task proposes: a visible prefix and the first date format of the editor's
// list, so that every run gets a name of its own and the rotation can find the older ones.
inline constexpr std::string_view kWizardPrefix = "Backup";
inline constexpr std::string_view kWizardDateFormat = "YYYYMMDD_hh-nn";

// Fills a task made by NewTaskRecord as the new-task wizard does when every page keeps what it
// proposes and "Done" is pressed at `now`: archive mode, full backup with subfolders, the proposed
// prefix and date format for the main and the extra folders, schedule kind 0 starting today at the
// current time, active, no end date, the compression of the program options. The sources and the
// archive folder stay empty; the description is the New command's. The wizard's own rule fills the
// task, so a task added here and one added through the wizard differ only in what the user chose.
void ApplyWizardDefaults(TArhRecord& task, base::TDateTime now, int compressionMethod);

}  // namespace zentrove::core
