#include "ui/task_editor.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <fstream>

#include "core/task_file_format.h"
#include "log/log.h"
#include "platform/platform_test_util.h"
#include "support/sandbox.h"
#include "ui/statistics_page.h"
#include "ui_test_support.h"

namespace zentrove::ui {
namespace {

using core::TArhRecord;

template <typename Widget>
Widget* FindByText(QWidget* root, const QString& text) {
  for (Widget* widget : root->findChildren<Widget*>()) {
    if (widget->text() == text) return widget;
  }
  return nullptr;
}

class TaskEditorTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    LogIntoSandbox();
    task.TaskNumber = 1001;
    task.FileSourceMask = "/data/*.*";
    task.Target = "/backup";
    task.FileMsk_Prefix = "docs_";
    context.taskFilePath = ConfigFolderText() + "ArhTasks.bpd";
    context.taskNumbers = {1001, 1002};
    context.ui = &ui;
    context.openPath = [this](const std::string& path) { opened.push_back(path); };
  }

  void TearDown() override {
    EXPECT_TRUE(testing::WaitForAnswers());
    SandboxedTest::TearDown();
  }

  std::unique_ptr<TaskEditorDialog> Open() {
    auto dialog = std::make_unique<TaskEditorDialog>(nullptr, task, "The Task 1001", context);
    dialog->show();
    return dialog;
  }

  static QPushButton* Button(TaskEditorDialog& dialog, QDialogButtonBox::StandardButton which) {
    return dialog.findChild<QDialogButtonBox*>()->button(which);
  }

  std::vector<std::pair<std::string_view, std::string>> Stored(const TArhRecord& record) {
    return core::FormatTaskSection(record, {});
  }

  TArhRecord task;
  TaskEditorContext context;
  testing::FakeUserInterface ui;
  std::vector<std::string> opened;
};

TEST_F(TaskEditorTest, TreeIsRebuiltByProgramsOnlyAndByTheMode) {
  auto dialog = Open();
  EXPECT_EQ(dialog->CurrentPageKey(), "Main Options");
  EXPECT_EQ(dialog->PageKeys().size(), 19);
  ASSERT_TRUE(dialog->SelectPage("Backup/Destination"));

  FindByText<QCheckBox>(dialog.get(), "Execute only \"To Do before/after backup\" without backup")->click();
  EXPECT_FALSE(dialog->PageKeys().contains("Backup"));
  EXPECT_FALSE(dialog->PageKeys().contains("Backup/Sources"));
  EXPECT_EQ(dialog->CurrentPageKey(), "Main Options");
  EXPECT_FALSE(FindByText<QRadioButton>(dialog.get(), "Copy files")->isEnabled());

  FindByText<QCheckBox>(dialog.get(), "Execute only \"To Do before/after backup\" without backup")->click();
  ASSERT_TRUE(dialog->SelectPage("Backup/Upload to FTP"));
  FindByText<QRadioButton>(dialog.get(), "Upload to FTP")->click();
  EXPECT_FALSE(dialog->PageKeys().contains("Backup/Destination"));
  EXPECT_TRUE(dialog->PageKeys().contains("Backup/Sources"));
  EXPECT_EQ(dialog->CurrentPageKey(), "Backup/Upload to FTP");
  QCheckBox* upload = FindByText<QCheckBox>(dialog.get(), "Upload created archive to FTP");
  EXPECT_TRUE(upload->isChecked());
  EXPECT_FALSE(upload->isEnabled());
  EXPECT_TRUE(FindByText<QCheckBox>(dialog.get(), "Use an external archiver")->isHidden());

  FindByText<QRadioButton>(dialog.get(), "Archive files ")->click();
  EXPECT_TRUE(dialog->PageKeys().contains("Backup/Destination"));
  EXPECT_FALSE(FindByText<QCheckBox>(dialog.get(), "Use an external archiver")->isHidden());
}

TEST_F(TaskEditorTest, SynchronizeGivesWayToTheActionWithItsMessage) {
  task.ArchiveOrCopy = 1;
  task.IfArhiveExistSync = true;
  task.IfArhiveExistDeleteOld = false;
  auto dialog = Open();
  QRadioButton* synchronize = FindByText<QRadioButton>(dialog.get(), "Synchronize");
  EXPECT_TRUE(synchronize->isChecked());
  EXPECT_TRUE(ui.texts.empty());

  QComboBox* kind = nullptr;
  for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
    if (combo->findText("Incremental backup") >= 0) kind = combo;
  }
  ASSERT_NE(kind, nullptr);
  kind->setCurrentIndex(1);
  emit kind->activated(1);
  ASSERT_EQ(ui.texts.size(), 1u);
  EXPECT_EQ(ui.texts[0], core::kSynchronizeMessage);
  EXPECT_FALSE(synchronize->isChecked());
  EXPECT_FALSE(synchronize->isEnabled());
  EXPECT_TRUE(FindByText<QRadioButton>(dialog.get(), "Execute the following action")->isChecked());
}

TEST_F(TaskEditorTest, PrefixesDriveDepthsAndTheUsersOwnTickWarnsOfTheExternalArchiver) {
  task.DeleteWhenArhivMoreThan = 5;
  task.FileMsk2_Prefix = "docs_";
  auto dialog = Open();
  ASSERT_TRUE(dialog->SelectPage("Backup/Destination"));
  QWidget* page = dialog->Page("Backup/Destination");
  QLineEdit* prefix = FindByText<QLineEdit>(page, "docs_");
  QSpinBox* depth = page->findChildren<QSpinBox*>().front();
  EXPECT_EQ(depth->value(), 5);
  prefix->selectAll();
  QTest::keyClicks(prefix, "new_");
  EXPECT_EQ(dialog->Form().values.task.FileMsk2_Prefix, "new_");  // its folder is empty, so it follows
  prefix->selectAll();
  QTest::keyClick(prefix, Qt::Key_Delete);
  EXPECT_FALSE(depth->isEnabled());
  EXPECT_EQ(depth->value(), 0);
  EXPECT_TRUE(ui.texts.empty());

  dialog->SelectPage("Main Options");
  FindByText<QCheckBox>(dialog.get(), "Use an external archiver")->click();
  EXPECT_EQ(ui.texts, std::vector<std::string>{std::string(core::kExternalArchiverWarning)});
}

TEST_F(TaskEditorTest, TheMailTextIsShownAndSavedWithTheMailPage) {
  WriteFile("config/1001.bdy", "Dear admin");
  task.SendEMail = true;
  auto dialog = Open();
  auto* body = dialog->findChild<QPlainTextEdit*>("mailBody");
  EXPECT_EQ(body->toPlainText(), "Dear admin");
  body->setPlainText("Result of [Num]");
  Button(*dialog, QDialogButtonBox::Ok)->click();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(testing::ReadFile(ConfigDir() / "1001.bdy"), "Result of [Num]");
}

TEST_F(TaskEditorTest, RunAfterItselfIsReportedOnceAndTheFocusComesBackFree) {
  task.ArhPeriod_PeriodID = 6;
  task.ExecuteAfter = 1002;
  auto dialog = Open();
  dialog->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  ASSERT_TRUE(dialog->SelectPage("Schedule"));
  auto* box = dialog->findChild<QComboBox*>("runAfterTask");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->currentText(), "1002");
  box->lineEdit()->setFocus();
  box->lineEdit()->selectAll();
  QTest::keyClicks(box->lineEdit(), "1001");
  EXPECT_EQ(dialog->Form().values.runAfterTask, "1001");

  QComboBox* kind = nullptr;
  for (QComboBox* combo : dialog->Page("Schedule")->findChildren<QComboBox*>()) {
    if (combo->findText("On failed execution") >= 0) kind = combo;
  }
  ASSERT_NE(kind, nullptr);
  kind->setFocus();
  ASSERT_TRUE(testing::ProcessUntil([&] { return box->lineEdit()->hasFocus(); }));
  ASSERT_EQ(ui.texts.size(), 1u);
  EXPECT_EQ(ui.texts[0], core::kRunAfterItselfMessage);

  // Leaving again with the same number goes ahead without a second message.
  kind->setFocus();
  QTest::qWait(50);
  EXPECT_EQ(ui.texts.size(), 1u);
  EXPECT_TRUE(kind->hasFocus());

  // OK does not refuse it.
  Button(*dialog, QDialogButtonBox::Ok)->click();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(task.ExecuteAfter, 1001);
}

TEST_F(TaskEditorTest, RefusedOkKeepsTheWindowOpenAndTheTaskUntouched) {
  const auto before = Stored(task);
  auto dialog = Open();
  dialog->SelectPage("Backup/Sources");
  QLineEdit* include = dialog->Page("Backup/Sources")->findChildren<QLineEdit*>().front();
  ASSERT_EQ(include->text(), "/data/*.*");
  include->selectAll();
  QTest::keyClick(include, Qt::Key_Delete);
  dialog->Form().values.task.Description = "Changed";
  dialog->Refresh();

  Button(*dialog, QDialogButtonBox::Ok)->click();
  ASSERT_EQ(ui.texts.size(), 1u);
  EXPECT_EQ(ui.texts[0], "Enter source folder");
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_NE(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Stored(task), before);

  QTest::keyClicks(include, "/home/*.*");
  Button(*dialog, QDialogButtonBox::Ok)->click();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(task.FileSourceMask, "/home/*.*");
  EXPECT_EQ(task.Description, "Changed");

  // Cancel changes nothing.
  const auto accepted = Stored(task);
  auto second = Open();
  second->Form().values.task.Description = "Dropped";
  Button(*second, QDialogButtonBox::Cancel)->click();
  EXPECT_EQ(second->result(), QDialog::Rejected);
  EXPECT_EQ(Stored(task), accepted);
}

TEST_F(TaskEditorTest, TextLimitsCountCharactersSoLongCharactersAreNotLost) {
  std::string hundred;
  for (int i = 0; i < 100; ++i)
    hundred += "\xF0\x9F\x93\x81";  // a folder picture: two UTF-16 units, one character
  task.Description = hundred;
  auto dialog = Open();
  QLineEdit* description = FindByText<QLineEdit>(dialog.get(), QString::fromStdString(hundred));
  ASSERT_NE(description, nullptr);
  description->setFocus();
  description->end(false);
  QTest::keyClicks(description, "x");
  EXPECT_EQ(dialog->Form().values.task.Description, hundred);
  QTest::keyClick(description, Qt::Key_Backspace);
  QTest::keyClicks(description, "x");
  Button(*dialog, QDialogButtonBox::Ok)->click();
  EXPECT_EQ(task.Description, hundred.substr(0, 99 * 4) + "x");
}

TEST_F(TaskEditorTest, PasswordsNeverShowTheirText) {
  task.Password = "zip-secret";
  task.UserPassword = "net-secret";
  task.CopyToFtp = true;
  task.PassTxt = "ftp-secret";
  auto dialog = Open();
  int secrets = 0;
  for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) {
    if (edit->text().contains("secret")) {
      EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
      EXPECT_TRUE(edit->toolTip().isEmpty());
      ++secrets;
    }
  }
  EXPECT_EQ(secrets, 5);
  EXPECT_FALSE(dialog->windowTitle().contains("secret"));
}

TEST_F(TaskEditorTest, StatisticsPageFillsFromAWorkerWithoutBlocking) {
  {
    std::ofstream log(ConfigDir() / "Zentrove.log", std::ios::binary);
    for (int line = 0; line < 20000; ++line)
      log << "01.12.2026 10:00:00:[1001][I] line " << line << "\r\n"
          << "01.12.2026 10:00:00:[1002][I] other\r\n";
    log << "01.12.2026 10:00:01:[1001][E] newest\r\n";
  }
  task.LastArh = 0;
  auto dialog = Open();
  StatisticsPage* page = dialog->Statistics();
  EXPECT_FALSE(page->Started());
  ASSERT_TRUE(dialog->SelectPage("Statistics"));
  // The lines come back through the event loop, so the selection itself never waits for them.
  EXPECT_TRUE(page->Started());
  EXPECT_EQ(page->Lines()->count(), 0);
  EXPECT_EQ(page->LastText(), "is not known");
  ASSERT_TRUE(testing::ProcessUntil([&] { return page->Loaded(); }, 20000));
  ASSERT_EQ(page->Lines()->count(), 20001);
  EXPECT_TRUE(page->Lines()->item(0)->text().endsWith("newest"));
  EXPECT_EQ(page->Lines()->item(0)->foreground().color(), QColor(255, 0, 0));

  FindByText<QPushButton>(page, "Main dir.")->click();
  FindByText<QPushButton>(page, "Extra folder 1")->click();
  EXPECT_EQ(opened, std::vector<std::string>{"/backup"});
  EXPECT_EQ(ui.texts, std::vector<std::string>{"Additional destination folder is not configured"});

  // A dialog that closes while its read goes on drops the lines.
  auto closed = Open();
  closed->SelectPage("Statistics");
  closed.reset();
  QTest::qWait(300);
  QApplication::processEvents();

  task.TaskNumber = 1003;
  auto empty = Open();
  empty->SelectPage("Statistics");
  ASSERT_TRUE(testing::ProcessUntil([&] { return empty->Statistics()->Loaded(); }, 20000));
  ASSERT_EQ(empty->Statistics()->Lines()->count(), 1);
  EXPECT_EQ(empty->Statistics()->Lines()->item(0)->text(), "No log entries was found for this task");
}

// A slow nmcli, asked once per window: the page shows at once with the task's entry, and the list
// fills when the answer comes, the task's entry still chosen.
TEST_F(TaskEditorTest, DialUpEntriesAreReadOnceOnAWorker) {
  const std::filesystem::path bin = MakeDir("bin");
  std::ofstream(bin / "nmcli") << "#!/bin/sh\necho \"$*\" >> \"${0%/*}/nmcli.log\"\ncommand -p sleep 0.3\n"
                                  "printf 'Office:vpn\\nPhone:gsm\\nWired:802-3-ethernet\\n'\n";
  std::filesystem::permissions(bin / "nmcli", std::filesystem::perms::owner_all);
  const testing::EnvGuard path("PATH", bin.string());
  const QString page = "To Do Before Backup/Dial-Up";
  task.RASDial = "Phone";
  auto dialog = Open();
  ASSERT_TRUE(dialog->SelectPage(page));
  auto* entries = FindByText<QCheckBox>(dialog.get(), "Connect before execution")
                      ->parentWidget()
                      ->findChild<QComboBox*>();
  ASSERT_NE(entries, nullptr);
  EXPECT_EQ(entries->count(), 1);
  ASSERT_TRUE(testing::ProcessUntil([&] { return entries->count() == 2; }, 10000));
  EXPECT_EQ(entries->itemText(1), "Office");
  EXPECT_EQ(entries->currentText(), "Phone");
  ASSERT_TRUE(dialog->SelectPage("Main Options"));
  ASSERT_TRUE(dialog->SelectPage(page));

  // A window closed before the answer drops it.
  auto closed = Open();
  closed->SelectPage(page);
  closed.reset();
  ASSERT_TRUE(testing::WaitForAnswers());
  EXPECT_EQ(testing::ReadFile(bin / "nmcli.log"),
            "-t -f NAME,TYPE connection show\n-t -f NAME,TYPE connection show\n");
}

}  // namespace
}  // namespace zentrove::ui
