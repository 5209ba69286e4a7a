#include "ui/options_window.h"

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>
#include <optional>

#include "platform/autostart.h"
#include "platform/platform_test_util.h"
#include "platform/service.h"
#include "platform/socket.h"
#include "support/fake_user_manager.h"
#include "support/permission_checks.h"
#include "transfer/smtp_server_fixture.h"
#include "ui_test_support.h"

namespace zentrove::ui {
namespace {

using testing::EnvGuard;
using testing::FakeUserInterface;
using testing::ProcessUntil;
using testing::ReadFile;

const QString kChecking = "Checking the service ...";

class OptionsWindowTest : public testing::SmtpServerTest {
 protected:
  void SetUp() override {
    SmtpServerTest::SetUp();
    home_.emplace("HOME", MakeDir("home").string());
    configHome_.emplace("XDG_CONFIG_HOME", (Sandbox() / "xdg").string());
    dataHome_.emplace("XDG_DATA_HOME", (Sandbox() / "xdg-data").string());
    tools_.emplace(Sandbox() / "bin");
    path_.emplace("PATH", tools_->Folder());
    fail_.emplace("FAKE_FAIL", std::nullopt);
    core::SetCurrentOptions(core::ProgramOptions{});
    file_.emplace(core::OpenOptionsFile(ConfigFolderText()));
  }
  void TearDown() override {
    EXPECT_TRUE(testing::WaitForAnswers());
    core::SetCurrentOptions(core::ProgramOptions{});
    fail_.reset();
    path_.reset();
    dataHome_.reset();
    configHome_.reset();
    home_.reset();
    SmtpServerTest::TearDown();
  }

  OptionsWindowContext Context() { return {&*file_, &ui_, {}, {}}; }
  // The server's start needs the tools of the machine; the window afterwards only the fakes.
  void StartServerWithTheMachinesTools(const std::string& modes) {
    path_.reset();
    StartServer(modes);
    path_.emplace("PATH", tools_->Folder());
  }
  std::string IniPath() const { return core::OptionsFilePath(ConfigFolderText()); }
  const testing::FakeUserManager& Tools() const { return *tools_; }
  bool Shown(const std::string& text) const {
    return std::find(ui_.texts.begin(), ui_.texts.end(), text) != ui_.texts.end();
  }
  // The user manager's answer reaches the window through the loop.
  static bool AnswerCame(const OptionsControls& c, int milliseconds = 3000) {
    return ProcessUntil([&] { return c.serviceLine->text() != kChecking; }, milliseconds);
  }
  static void SetNumberText(QSpinBox* field, const QString& text) {
    field->findChild<QLineEdit*>()->setText(text);
  }

  FakeUserInterface ui_;
  std::optional<core::IniFile> file_;

 private:
  std::optional<EnvGuard> home_, configHome_, dataHome_, path_, fail_;
  std::optional<testing::FakeUserManager> tools_;
};

TEST_F(OptionsWindowTest, ControlsShowTheStoredValuesAndSaveWritesThemBack) {
  core::ProgramOptions stored;
  stored.FormScale = 130;
  stored.CompressionMethod = 7;
  stored.ZipPriority = 5;
  stored.PSDefaultAction = 3;
  stored.ColorError = 0x123456;
  stored.ColorInfo = 16711680;
  stored.SMTPConnectionType = 2;
  stored.TrashLimitPercent = 25;
  core::SetCurrentOptions(stored);
  OptionsWindow window(nullptr, Context());
  const OptionsControls& c = window.Controls();
  EXPECT_EQ(window.Pages()->count(), OptionsWindow::kPageCount);
  EXPECT_EQ(c.fontSize->checkedId(), 1);
  EXPECT_EQ(c.compression->currentText(), "Slow");
  EXPECT_EQ(c.priority->currentText(), "Highest");
  EXPECT_EQ(c.lockedDefault->currentText(), "Abort task execution");
  EXPECT_EQ(c.colorError->currentText(), "Custom");
  EXPECT_EQ(c.colorInfo->currentText(), "Blue");
  EXPECT_EQ(c.connectionType->currentText(), "Explicit SSL/TLS");
  EXPECT_FALSE(c.proxyHost->isEnabled());
  c.useProxy->setChecked(true);
  EXPECT_TRUE(c.proxyHost->isEnabled());

  c.lockedDefault->setCurrentIndex(1);
  SetNumberText(c.maxLog, "not a number");
  ASSERT_TRUE(window.Save());
  EXPECT_EQ(window.result(), QDialog::Accepted);
  const core::IniFile onDisk = core::OpenOptionsFile(ConfigFolderText());
  EXPECT_EQ(onDisk.ReadString(core::kOptionsSection, "FormScale", ""), "120");
  EXPECT_EQ(onDisk.ReadString(core::kOptionsSection, "CompressionMethod", ""), "7");
  EXPECT_EQ(onDisk.ReadString(core::kOptionsSection, "PSDefaultAction", ""), "9");
  EXPECT_EQ(onDisk.ReadString(core::kOptionsSection, "ColorError", ""), std::to_string(0x123456));
  EXPECT_EQ(onDisk.ReadString(core::kOptionsSection, "MaxLog", ""), "1000");
  EXPECT_EQ(onDisk.ReadString(core::kOptionsSection, "SMTPUseProxy", ""), "1");
  EXPECT_EQ(core::CurrentOptions()->PSDefaultAction, 9);
  EXPECT_EQ(core::CurrentOptions()->TrashLimitPercent, 25);
}

// A refused or failed Save leaves Zentrove.ini byte for byte, the program's copy of it and the options
// in force as they were, and the window open.
TEST_F(OptionsWindowTest, RefusedAndFailedSavesChangeNothing) {
  const std::string before = "[Options]\r\nMaxLog=77\r\nShowLogo=1\r\n";
  WriteFile("config/Zentrove.ini", before);
  file_.emplace(core::OpenOptionsFile(ConfigFolderText()));
  core::SetCurrentOptions(core::LoadOptions(*file_));
  const core::ProgramOptions inForce = *core::CurrentOptions();
  const std::string memoryBefore = file_->Text();
  OptionsWindow window(nullptr, Context());
  const OptionsControls& c = window.Controls();
  c.showLogo->setChecked(false);
  c.maxLog->setValue(300);

  c.password->setText("one");
  c.confirmation->setText("two");
  EXPECT_FALSE(window.Save());
  EXPECT_TRUE(Shown("Password confirmation error"));

  c.confirmation->setText("one");
  {
    testing::PermissionChecks checks;
    if (!checks.Hold()) GTEST_SKIP() << "permissions cannot be enforced here";
    std::filesystem::permissions(ConfigDir(),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(window.Save());
    std::filesystem::permissions(ConfigDir(), std::filesystem::perms::owner_all);
  }
  EXPECT_TRUE(Shown("Unable to write to " + IniPath()));
  EXPECT_NE(window.result(), QDialog::Accepted);
  EXPECT_EQ(ReadFile(IniPath()), before);
  EXPECT_EQ(file_->Text(), memoryBefore);
  EXPECT_FALSE(file_->Modified());
  EXPECT_EQ(*core::CurrentOptions(), inForce);
  EXPECT_FALSE(std::filesystem::exists(platform::AutostartEntryPath()));
}

TEST_F(OptionsWindowTest, ServiceButtonsInstallAndRemoveAndRunOnStartUpMakesWay) {
  core::ProgramOptions stored;
  stored.RunOnStartUp = true;
  core::SetCurrentOptions(stored);
  ASSERT_TRUE(platform::SetAutostart(true, "/usr/bin/zentrove", {}).Ok());
  OptionsWindow window(nullptr, Context());
  const OptionsControls& c = window.Controls();
  ASSERT_TRUE(AnswerCame(c));
  EXPECT_EQ(c.serviceLine->text(), "Service Zentrove_Starter is not installed");
  EXPECT_TRUE(c.runOnStartUp->isChecked());

  window.InstallService();
  ASSERT_TRUE(ProcessUntil([&] { return Shown("Service has been installed successfully"); }));
  EXPECT_TRUE(c.serviceLine->text().startsWith("Service Zentrove_Starter is installed"));
  EXPECT_TRUE(c.serviceLine->text().contains("autostart entry also starts a copy"));
  EXPECT_FALSE(c.runOnStartUp->isChecked());
  EXPECT_FALSE(c.runOnStartUp->isEnabled());
  EXPECT_TRUE(std::filesystem::exists(platform::ServiceUnitPath()));

  window.RemoveService();
  ASSERT_TRUE(ProcessUntil([&] { return Shown("Service is successfully removed or is marked on removal"); }));
  EXPECT_EQ(c.serviceLine->text(), "Service Zentrove_Starter has been deleted");
  EXPECT_TRUE(c.runOnStartUp->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(platform::ServiceUnitPath()));
}

TEST_F(OptionsWindowTest, WithoutAUserManagerTheButtonsAreOffAndTheLineSaysWhy) {
  Tools().RemoveSystemctl();
  OptionsWindow window(nullptr, Context());
  const OptionsControls& c = window.Controls();
  ASSERT_TRUE(AnswerCame(c));
  EXPECT_FALSE(c.installService->isEnabled());
  EXPECT_FALSE(c.deleteService->isEnabled());
  EXPECT_EQ(c.serviceLine->text(),
            "Service Zentrove_Starter is not installed\nsystemctl was not found, so there is no systemd user "
            "manager to run the service");
}

// A user manager that answers slowly: the loop goes on while the window asks it and while the
// service is installed, the buttons are off meanwhile, and a window closed first drops the answer.
TEST_F(OptionsWindowTest, SlowUserManagerNeverHoldsTheLoop) {
  EnvGuard delay("FAKE_DELAY", "0.3");
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(10);

  OptionsWindow window(nullptr, Context());
  const OptionsControls& c = window.Controls();
  EXPECT_EQ(c.serviceLine->text(), kChecking);
  EXPECT_FALSE(c.installService->isEnabled());
  EXPECT_FALSE(c.deleteService->isEnabled());
  ASSERT_TRUE(AnswerCame(c, 10000));
  EXPECT_GE(ticks, 10);
  EXPECT_EQ(c.serviceLine->text(), "Service Zentrove_Starter is not installed");
  EXPECT_TRUE(c.installService->isEnabled());

  ticks = 0;
  window.InstallService();
  EXPECT_FALSE(c.installService->isEnabled());
  EXPECT_FALSE(c.deleteService->isEnabled());
  EXPECT_TRUE(ui_.texts.empty());
  ASSERT_TRUE(ProcessUntil([&] { return Shown("Service has been installed successfully"); }, 10000));
  EXPECT_GE(ticks, 10);
  EXPECT_TRUE(c.serviceLine->text().startsWith("Service Zentrove_Starter is installed"));
  EXPECT_TRUE(c.deleteService->isEnabled());

  // Closed while asking, and closed while removing: the answers find no window and show nothing.
  ui_.texts.clear();
  auto closed = std::make_unique<OptionsWindow>(nullptr, Context());
  closed.reset();
  auto removing = std::make_unique<OptionsWindow>(nullptr, Context());
  ASSERT_TRUE(AnswerCame(removing->Controls(), 10000));
  removing->RemoveService();
  removing.reset();
  ASSERT_TRUE(testing::WaitForAnswers());
  EXPECT_FALSE(std::filesystem::exists(platform::ServiceUnitPath()));
  EXPECT_TRUE(ui_.texts.empty()) << ui_.texts.front();
}

TEST_F(OptionsWindowTest, FontSizeAndLanguageWarnAndTheLanguageHoldsAfterCancel) {
  OptionsWindow window(nullptr, Context(), {{"English", 2057}, {"Russian", 1049}});
  const OptionsControls& c = window.Controls();
  c.fontSize->button(2)->setChecked(true);
  EXPECT_TRUE(Shown("Warning! Program needs to be restarted to change interface settings"));
  c.language->setCurrentIndex(1);
  EXPECT_TRUE(Shown("You should restart application to apply changes"));
  EXPECT_EQ(core::CurrentOptions()->Language, 1049);
  window.reject();
  EXPECT_EQ(core::CurrentOptions()->Language, 1049);
  EXPECT_EQ(core::CurrentOptions()->FormScale, 100);

  core::ProgramOptions englishBuild;
  englishBuild.IsItEnglishBuild = 1;
  core::SetCurrentOptions(englishBuild);
  OptionsWindow english(nullptr, Context());
  EXPECT_TRUE(english.Controls().language->isHidden());
  EXPECT_TRUE(english.Controls().languageLabel->isHidden());
}

TEST_F(OptionsWindowTest, SmtpTestReportsWithoutHoldingTheLoop) {
  StartServerWithTheMachinesTools("plain");
  OptionsWindow window(nullptr, Context());
  const OptionsControls& c = window.Controls();
  c.smtpHost->setText("127.0.0.1");
  c.smtpPort->setText(QString::number(Port()));
  c.returnAddress->setText("backup@example.org");
  window.StartSmtpTest();
  ASSERT_NE(window.SmtpTestProgress(), nullptr);
  ASSERT_TRUE(ProcessUntil([&] { return Shown("SMTP Test OK"); }, 20000));
  EXPECT_EQ(window.SmtpTestProgress(), nullptr);
  EXPECT_TRUE(Events().find("RCPT backup@example.org") != std::string::npos) << Events();

  c.smtpPort->setText("70000");
  window.StartSmtpTest();
  EXPECT_EQ(window.SmtpTestProgress(), nullptr);
  EXPECT_EQ(ui_.texts.back().rfind("SMTP Test Fail: ", 0), 0U) << ui_.texts.back();
}

// A server that never answers: the loop goes on while the test waits, and Cancel drops the answer.
TEST_F(OptionsWindowTest, CancelClosesTheProgressAndDropsTheResult) {
  auto listener = platform::ListenTcp("127.0.0.1", 0);
  ASSERT_TRUE(listener.Ok()) << listener.Message();
  const int port = listener->LocalAddress()->port;
  OptionsWindow window(nullptr, Context());
  transfer::SmtpTimeouts timeouts;
  timeouts.reply = std::chrono::milliseconds(1500);
  window.SetSmtpTimeouts(timeouts);
  window.Controls().smtpHost->setText("127.0.0.1");
  window.Controls().smtpPort->setText(QString::number(port));
  window.Controls().returnAddress->setText("backup@example.org");

  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(10);
  window.StartSmtpTest();
  ASSERT_NE(window.SmtpTestProgress(), nullptr);
  EXPECT_TRUE(ProcessUntil([&] { return ticks >= 5; }));
  window.SmtpTestProgress()->findChild<QPushButton*>()->click();
  EXPECT_EQ(window.SmtpTestProgress(), nullptr);
  // Past the reply time-out, the dropped failure shows nothing.
  QTest::qWait(2000);
  EXPECT_TRUE(ui_.texts.empty()) << ui_.texts.front();
}

}  // namespace
}  // namespace zentrove::ui
