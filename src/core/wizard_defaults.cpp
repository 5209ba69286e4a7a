#include "core/wizard_defaults.h"

#include <cmath>
#include <string>

namespace zentrove::core {

void ApplyWizardDefaults(TArhRecord& task, base::TDateTime now, int compressionMethod) {
  const base::TDateTime today = base::DateOf(now);
  // The start time is shown to the minute; seconds would only make the first start look odd.
  const base::TDateTime startTime = std::floor(base::TimeOf(now) * 1440.0) / 1440.0;

  task.ArchiveOrCopy = 0;
  task.ProcessSubfolders = true;
  task.ResetArchiveBitOnZip = true;
  task.SkipIfArchiveBitNotSet = false;
  task.UserName.clear();
  task.UserPassword.clear();
  task.ExecuteZip = true;

  task.FileMsk_Prefix = kWizardPrefix;
  task.FileMsk_ArhDateFormat = kWizardDateFormat;
  for (std::string* prefix : {&task.FileMsk2_Prefix, &task.FileMsk3_Prefix, &task.FileMsk4_Prefix})
    *prefix = kWizardPrefix;
  for (std::string* format :
       {&task.FileMsk2_ArhDateFormat, &task.FileMsk3_ArhDateFormat, &task.FileMsk4_ArhDateFormat})
    *format = kWizardDateFormat;
  task.Target2.clear();
  task.Target3.clear();
  task.Target4.clear();
  task.DeleteWhenArhivMoreThan = 0;
  task.Deep2 = 0;
  task.Deep3 = 0;
  task.Deep4 = 0;

  task.ArhStartDate = today;
  task.ArhEndDate = now;
  task.isEnd = false;
  task.IsActive = true;
  task.BeforeRun.clear();
  task.AfterRun.clear();
  task.ArhPeriod_PeriodID = 0;
  task.ArhPeriod_BeginTime = startTime;
  task.ArhPeriod_EveryDay = 1;
  task.ArhPeriod_EveryWeek = 1;
  task.ArhPeriod_EveryMonth = 1;
  task.ArhPeriod_OneDate = today;
  task.CompressMetod = compressionMethod;
  task.ExecuteAfterTimeout = 0;
  task.DayOfWeek = {};
  task.DayOfWeek[1] = true;  // "Mon"
  task.MonthOfYear.fill(true);
  task.ifNotArhImmidiately = false;
  task.ArhPeriod_IsRepeat = false;

  task.CopyToFtp = false;
  task.PortTxt = "21";
  task.HostTxt.clear();
  task.UserTxt.clear();
  task.PassTxt.clear();
  task.DirTxt.clear();
  task.FTPPassive = false;
  task.FTPConnectionType = 0;
  task.UseProxy = false;
  task.ProxyServer.clear();
  task.ProxyPort.clear();
  task.ExecuteAfter = 0;
  task.ExecuteAfterKind = 0;
}

}  // namespace zentrove::core
