#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <filesystem>
#include <optional>

#include "page_shots.h"
#include "platform/platform_test_util.h"
#include "platform/socket.h"
#include "support/fake_user_manager.h"
#include "ui/options_window.h"
#include "ui_test_support.h"

namespace zentrove::testing {
namespace {

// The options window draws from a sandbox beside the pictures, and asks the fake user manager.
ZENTROVE_PAGE_SHOTS(Options) {
  const std::filesystem::path sandbox = std::filesystem::path(shots::Folder()) / "options-sandbox";
  std::filesystem::create_directories(sandbox / "config");
  const EnvGuard config("ZENTROVE_CONFIG_DIR", (sandbox / "config").string());
  const EnvGuard home("HOME", (sandbox / "home").string());
  const EnvGuard configHome("XDG_CONFIG_HOME", (sandbox / "xdg").string());
  const FakeUserManager tools(sandbox / "bin");
  const EnvGuard path("PATH", tools.Folder());
  const EnvGuard linger("FAKE_LINGER", std::string("no"));

  core::ProgramOptions options;
  options.TempPath = "/var/tmp/zentrove";
  options.SMTPHost = "127.0.0.1";
  options.SMTPUser = "backup";
  options.SMTPPassword = "secret";
  options.SMTPUserName = "Backup server";
  options.SMTPUserAddress = "backup@example.org";
  options.PopUpPassword = "access";
  const auto before = core::CurrentOptions();
  core::SetCurrentOptions(options);
  core::IniFile file = core::OpenOptionsFile((sandbox / "config").string() + "/");
  FakeUserInterface ui;
  {
    ui::OptionsWindow window(nullptr, {&file, &ui, [] {}, [](QWidget*) {}});
    WaitForAnswers();
    const char* names[] = {"archivers", "log", "generic", "service", "interface", "confirmations", "email"};
    for (int page = 0; page < ui::OptionsWindow::kPageCount; ++page) {
      window.Pages()->setCurrentIndex(page);
      shots::Save(window, "options-0" + std::to_string(page + 1) + "-" + names[page]);
    }
    // A server that takes the connection and never greets keeps the test's window open.
    auto listener = platform::ListenTcp("127.0.0.1", 0);
    if (listener) {
      window.Controls().smtpPort->setText(QString::number(listener->LocalAddress()->port));
      window.StartSmtpTest();
      if (QProgressDialog* progress = window.SmtpTestProgress())
        shots::Save(*progress, "options-08-smtp-test");
      window.CancelSmtpTest();
    }
    window.Controls().installService->click();
    WaitForAnswers();
    window.Pages()->setCurrentIndex(ui::OptionsWindow::kServicePage);
    shots::Save(window, "options-09-service-installed");
  }
  core::SetCurrentOptions(*before);
}

}  // namespace
}  // namespace zentrove::testing
