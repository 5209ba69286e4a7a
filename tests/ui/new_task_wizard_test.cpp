#include "ui/new_task_wizard.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>

#include "core/task_record.h"
#include "ui/ui_test_support.h"

namespace zentrove::ui {
namespace {

using core::WizardPage;

class NewTaskWizardTest : public testing::HomeSandboxTest {
 protected:
  void SetUp() override {
    HomeSandboxTest::SetUp();
    task = core::NewTaskRecord();
    task->TaskNumber = 1003;
    task->Description = "The task # 1003";
    context.ui = &ui;
    context.taskNumbers = {1001, 1002};
  }

  template <typename T>
  T* Find(const NewTaskWizard& wizard, const char* name) {
    T* found = wizard.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

  // Which buttons show: "< Back", "Next>", "Cancel", "Done" enabled or visible.
  static std::string Buttons(const NewTaskWizard& wizard) {
    std::string shown;
    shown += wizard.BackButton()->isEnabled() ? 'B' : '-';
    shown += wizard.NextButton()->isEnabled() ? 'N' : '-';
    shown += wizard.CancelButton()->isHidden() ? '-' : 'C';
    shown += wizard.DoneButton()->isHidden() ? '-' : 'D';
    return shown;
  }

  testing::FakeUserInterface ui;
  NewTaskWizardContext context;
  std::unique_ptr<core::TArhRecord> task;
};

class NewTaskWizardModes : public NewTaskWizardTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NewTaskWizardModes, NextAndBackVisitEveryPage) {
  const bool ftp = std::string(GetParam()) == "modeFtp";
  const WizardPage destination = ftp ? WizardPage::FtpDestination : WizardPage::Destination;
  NewTaskWizard wizard(nullptr, *task, context);
  auto* pages = wizard.findChild<QStackedWidget*>();
  const auto at = [&](WizardPage page, const char* step, const char* buttons) {
    EXPECT_EQ(wizard.Page(), page);
    EXPECT_EQ(pages->currentIndex(), static_cast<int>(page));
    EXPECT_EQ(Find<QLabel>(wizard, "step")->text().toStdString(), step);
    EXPECT_EQ(Buttons(wizard), buttons) << step;
  };

  at(WizardPage::Welcome, "Step 1 of 6", "-NC-");
  wizard.Back();
  at(WizardPage::Welcome, "Step 1 of 6", "-NC-");
  wizard.Next();
  at(WizardPage::Description, "Step 2 of 6", "BNC-");
  EXPECT_EQ(Find<QLineEdit>(wizard, "number")->text(), "1003");
  EXPECT_TRUE(Find<QRadioButton>(wizard, "modeArchive")->isChecked());
  Find<QRadioButton>(wizard, GetParam())->click();
  wizard.Next();

  // Without sources "Next>" stays disabled; the list dialog fills them.
  at(WizardPage::Sources, "Step 3 of 6", "B-C-");
  wizard.Next();
  EXPECT_EQ(wizard.Page(), WizardPage::Sources);
  wizard.SetListEditor([](QWidget*, bool include, std::string& list) {
    list = include ? "/data/*.*" : "*.tmp";
    return true;
  });
  Find<QPushButton>(wizard, "includeFilesButton")->click();
  Find<QPushButton>(wizard, "excludeFilesButton")->click();
  EXPECT_EQ(Find<QLineEdit>(wizard, "excludeFiles")->text(), "*.tmp");
  at(WizardPage::Sources, "Step 3 of 6", "BNC-");
  wizard.Next();

  if (ftp) {
    at(destination, "Step 4 of 6", "BNC-");
    auto* password = Find<QLineEdit>(wizard, "ftpPassword");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    Find<QLineEdit>(wizard, "host")->clear();
    at(destination, "Step 4 of 6", "B-C-");
    Find<QLineEdit>(wizard, "host")->setText("ftp.sandbox.test");
  } else {
    at(destination, "Step 4 of 6", "B-C-");
    Find<QLineEdit>(wizard, "archiveFolder")->setText("/backups");
  }
  at(destination, "Step 4 of 6", "BNC-");
  wizard.Next();
  at(WizardPage::Schedule, "Step 5 of 6", "BNC-");
  wizard.Next();
  at(WizardPage::StartTime, "Step 6 of 6", "BNC-");
  wizard.Next();
  at(WizardPage::Finish, "", "B--D");
  wizard.Next();
  EXPECT_EQ(wizard.Page(), WizardPage::Finish);

  for (const WizardPage page : {WizardPage::StartTime, WizardPage::Schedule, destination, WizardPage::Sources,
                                WizardPage::Description}) {
    wizard.Back();
    EXPECT_EQ(wizard.Page(), page);
    EXPECT_EQ(Buttons(wizard), "BNC-");
  }
  wizard.Back();
  at(WizardPage::Welcome, "Step 1 of 6", "-NC-");
}

INSTANTIATE_TEST_SUITE_P(ZipCopyAndFtp, NewTaskWizardModes,
                         ::testing::Values("modeArchive", "modeCopy", "modeFtp"));

TEST_F(NewTaskWizardTest, DoneRefusedStaysOpenAndLeavesTheTask) {
  NewTaskWizard wizard(nullptr, *task, context);
  wizard.Next();
  wizard.Next();
  Find<QLineEdit>(wizard, "includeFiles")->setText("/data/*.*");
  wizard.Next();
  Find<QLineEdit>(wizard, "archiveFolder")->setText("/backups");
  Find<QLineEdit>(wizard, "prefix")->setText("docs");
  wizard.Next();
  Find<QListWidget>(wizard, "scheduleKind")->setCurrentRow(1);
  wizard.Next();
  Find<QCheckBox>(wizard, "weekday1")->setChecked(false);
  wizard.Next();
  ASSERT_EQ(wizard.Page(), WizardPage::Finish);

  wizard.DoneButton()->click();
  EXPECT_EQ(ui.texts, std::vector<std::string>{"Select day(s) of week."});
  EXPECT_EQ(wizard.result(), QDialog::Rejected);
  EXPECT_EQ(wizard.Page(), WizardPage::Finish);
  EXPECT_EQ(task->FileSourceMask, "");

  wizard.Back();
  Find<QCheckBox>(wizard, "weekday0")->setChecked(true);
  wizard.Next();
  wizard.DoneButton()->click();
  EXPECT_EQ(wizard.result(), QDialog::Accepted);
  EXPECT_EQ(task->FileSourceMask, "/data/*.*");
  EXPECT_EQ(task->Target, "/backups");
  EXPECT_EQ(task->FileMsk_Prefix, "docs");
  EXPECT_EQ(task->ArhPeriod_PeriodID, 1);
  EXPECT_TRUE(task->DayOfWeek[0]);
  EXPECT_FALSE(task->DayOfWeek[1]);
  EXPECT_TRUE(task->IsActive);
}

TEST_F(NewTaskWizardTest, AnEmptyPrefixDisablesTheDepthAndRunAfterRefusesTheTaskItself) {
  NewTaskWizard wizard(nullptr, *task, context);
  auto* depth = Find<QSpinBox>(wizard, "depth");
  EXPECT_FALSE(depth->isEnabled());
  Find<QLineEdit>(wizard, "prefix")->setText("p");
  depth->setValue(7);
  EXPECT_TRUE(depth->isEnabled());
  Find<QLineEdit>(wizard, "prefix")->clear();
  EXPECT_FALSE(depth->isEnabled());
  EXPECT_EQ(depth->value(), 0);

  Find<QListWidget>(wizard, "scheduleKind")->setCurrentRow(6);
  auto* taskBox = Find<QComboBox>(wizard, "runAfterTask");
  EXPECT_EQ(taskBox->count(), 2);
  EXPECT_EQ(taskBox->currentText(), "1001");
  taskBox->setEditText("1003");
  emit taskBox->lineEdit()->editingFinished();
  EXPECT_EQ(ui.texts, std::vector<std::string>{"Run after: The task can not refer to itself"});
}

}  // namespace
}  // namespace zentrove::ui
