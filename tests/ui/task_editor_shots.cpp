#include <QCoreApplication>
#include <QDir>
#include <QTest>
#include <cctype>
#include <cstdio>
#include <fstream>

#include "log/log.h"
#include "page_shots.h"
#include "ui/statistics_page.h"
#include "ui/task_editor.h"
#include "ui_test_support.h"

namespace zentrove::testing {
namespace {

std::string Slug(const QString& key) {
  std::string slug;
  for (const char c : key.toStdString()) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      slug.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    } else if (!slug.empty() && slug.back() != '-') {
      slug.push_back('-');
    }
  }
  return slug;
}

core::TArhRecord ShotTask(core::BackupMode mode) {
  core::TArhRecord task;
  task.TaskNumber = 1001;
  task.Description = "Documents every night";
  task.IsActive = true;
  task.FileSourceMask = "/home/user/Documents/*.*;/home/user/Mail/*.eml";
  task.FileSourceExcludeMask = "*.tmp;*.bak";
  task.Target = "/mnt/backup";
  task.FileMsk_Prefix = "docs_";
  task.FileMsk_ArhDateFormat = "YYYYMMDD_hh-nn";
  // As the task file gives them: the other destinations take the main folder's naming.
  for (std::string* prefix :
       {&task.FileMsk2_Prefix, &task.FileMsk3_Prefix, &task.FileMsk4_Prefix, &task.FileMsk5_Prefix})
    *prefix = task.FileMsk_Prefix;
  for (std::string* format : {&task.FileMsk2_ArhDateFormat, &task.FileMsk3_ArhDateFormat,
                              &task.FileMsk4_ArhDateFormat, &task.FileMsk5_ArhDateFormat})
    *format = task.FileMsk_ArhDateFormat;
  task.DeleteWhenArhivMoreThan = 7;
  task.ArhPeriod_PeriodID = 1;
  task.DayOfWeek = {false, true, false, true, false, true, false};
  task.ArchiveOrCopy = static_cast<int>(mode);
  task.Password = task.UserPassword = "secret";
  if (mode == core::BackupMode::Ftp) {
    task.CopyToFtp = true;
    task.HostTxt = "ftp.example.com";
    task.DirTxt = "backups";
  }
  task.SendEMail = true;
  task.SendAddress = "admin@example.com";
  task.SendSubj = "Backup [Num]";
  return task;
}

}  // namespace

ZENTROVE_PAGE_SHOTS(TaskEditor) {
  // The Statistics page reads the program log: a small one of its own in a folder beside the pictures.
  const std::string folder = shots::Folder() + "/editor-sandbox/";
  QDir().mkpath(QString::fromStdString(folder));
  log::SetLogFolder(folder);
  {
    std::ofstream log(folder + "Zentrove.log", std::ios::binary);
    log << "08.12.2026 22:00:00:[1001][I] Task started\r\n"
        << "08.12.2026 22:00:03:[1001][W] File /home/user/Mail/inbox.eml is locked, skipped\r\n"
        << "08.12.2026 22:01:10:[1001][E] Not enough space on /mnt/backup\r\n"
        << "09.12.2026 22:00:00:[1001][I] Task started\r\n"
        << "09.12.2026 22:02:41:[1001][I] Task completed successfully\r\n";
  }
  FakeUserInterface ui;
  ui::TaskEditorContext context;
  context.taskFilePath = folder + "ArhTasks.bpd";
  context.taskNumbers = {1001, 1002, 1003};
  context.ui = &ui;
  context.editMaskList = [](QWidget*, bool, std::string&) { return false; };
  context.openPath = [](const std::string&) {};

  int number = 1;
  for (const core::BackupMode mode : {core::BackupMode::Archive, core::BackupMode::Ftp}) {
    core::TArhRecord task = ShotTask(mode);
    ui::TaskEditorDialog dialog(nullptr, task, "The Task 1001", context);
    for (const QString& key : dialog.PageKeys()) {
      // The FTP task shows only the pages that differ from the archive task's.
      const bool differs = key == "Main Options" || key.startsWith("Backup/");
      if (mode == core::BackupMode::Ftp && !differs) continue;
      dialog.SelectPage(key);
      WaitForAnswers();
      if (key == "Statistics") ProcessUntil([&] { return dialog.Statistics()->Loaded(); });
      char prefix[32];
      std::snprintf(prefix, sizeof prefix, "editor-%02d-", number++);
      shots::Save(dialog, prefix + std::string(mode == core::BackupMode::Ftp ? "ftp-" : "") + Slug(key));
    }
  }
}

}  // namespace zentrove::testing
