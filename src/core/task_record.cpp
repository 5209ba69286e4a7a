#include "core/task_record.h"

#include <cstdio>

#include "base/text.h"

namespace zentrove::core {

std::unique_ptr<TArhRecord> NewTaskRecord(const NewTaskDefaults& defaults) {
  auto task = std::make_unique<TArhRecord>();
  task->CompressMetod = defaults.CompressionMethod;
  task->ZipPriority = defaults.ZipPriority;
  task->PromtShare = defaults.PromtShare;
  task->PSDefaultAction = defaults.PSDefaultAction;
  task->HostTxt = kPlaceholderFtpHost;
  task->PassTxt = kPlaceholderFtpEmail;
  return task;
}

void CutTaskTexts(TArhRecord& t) {
  using namespace limits;
  for (std::string* text : {&t.SourceOld,
                            &t.Target,
                            &t.FileMsk_Prefix,
                            &t.FileMsk_ArhDateFormat,
                            &t.Target2,
                            &t.Target3,
                            &t.Target4,
                            &t.FileMsk2_Prefix,
                            &t.FileMsk2_ArhDateFormat,
                            &t.FileMsk3_Prefix,
                            &t.FileMsk3_ArhDateFormat,
                            &t.FileMsk4_Prefix,
                            &t.FileMsk4_ArhDateFormat,
                            &t.RunIfExists,
                            &t.RunIfNotExists,
                            &t.BeforePromt,
                            &t.RunIfExistsErrorPromt,
                            &t.RunIfNotExistsErrorPromt,
                            &t.FileMsk5_Prefix,
                            &t.FileMsk5_ArhDateFormat,
                            &t.PortTxt,
                            &t.HostTxt,
                            &t.UserTxt,
                            &t.PassTxt,
                            &t.ProxyServer,
                            &t.ProxyPort,
                            &t.DirTxt,
                            &t.RASDial,
                            &t.SendAddress,
                            &t.SendSubj,
                            &t.SaveFullLogFolder}) {
    base::CutToChars(*text, kText255);
  }
  for (std::string* text :
       {&t.BeforeRun, &t.AfterRun, &t.BeforeRunDir, &t.AfterRunDir, &t.BeforeRunParam, &t.AfterRunParam}) {
    base::CutToChars(*text, kText250);
  }
  for (std::string* text : {&t.Description, &t.UseExtArh, &t.Password})
    base::CutToChars(*text, kText100);
  base::CutToChars(t.UserName, kText40);
  base::CutToChars(t.UserPassword, kText40);
}

void CopyTaskRecord(const TArhRecord& source, TArhRecord& destination) {
  if (&source == &destination) return;
  destination = source;
  CutTaskTexts(destination);
}

std::string ProgressText(const TArhRecord& task) {
  for (const base::SharedText* text : {&task.StatusText1, &task.StatusText2, &task.StatusText3}) {
    std::string value = text->get();
    if (!value.empty()) return value;
  }
  const int done = task.PercentDone;
  char buffer[48];
  if (task.UseInnerZip) {
    std::snprintf(buffer, sizeof buffer, "%d%%", done);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.2d:%.2d:%.2d", done / 3600, done / 60 % 60, done % 60);
  }
  return buffer;
}

}  // namespace zentrove::core
