#include "ui/options_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cerrno>

#include "app/cli_service.h"
#include "app/startup.h"
#include "core/options_form.h"
#include "core/task_form.h"
#include "log/log.h"
#include "platform/autostart.h"
#include "platform/service.h"
#include "transfer/mail_notification.h"
#include "ui/off_main_thread.h"

namespace zentrove::ui {
namespace {

constexpr std::string_view kTitle = "Zentrove";
constexpr std::string_view kSmtpTestOk = "SMTP Test OK";
constexpr std::string_view kSmtpTestFail = "SMTP Test Fail: ";
constexpr std::string_view kServiceCheckingText = "Checking the service ...";

std::string S(const QString& text) {
  return text.toStdString();
}

void SelectColor(QComboBox* list, std::int32_t value) {
  int index = core::ColorChoiceIndexOf(value);
  if (index < 0) {
    // A colour of the file that is not listed stays selectable, so a Save keeps it.
    list->addItem("Custom", value);
    index = list->count() - 1;
  }
  list->setCurrentIndex(index);
}

std::int32_t SelectedColor(const QComboBox* list) {
  return list->currentData().toInt();
}

// What the failure's message says, without the first line break the client may put in it.
std::string SmtpFailureText(std::string message) {
  if (const std::size_t lineBreak = message.find("\r\n"); lineBreak != std::string::npos)
    message.erase(lineBreak, 2);
  return std::string(kSmtpTestFail) + message;
}

}  // namespace

std::vector<InterfaceLanguage> InterfaceLanguages() {
  return {{"English", app::kLanguageEnglishUk}};
}

OptionsWindow::OptionsWindow(QWidget* parent, OptionsWindowContext context,
                             std::vector<InterfaceLanguage> languages)
    : QDialog(parent), context_(std::move(context)), languages_(std::move(languages)) {
  setObjectName("TFormOptions");
  setWindowTitle("Options...");
  auto* layout = new QVBoxLayout(this);
  pages_ = new QTabWidget(this);
  // Every page's tab in sight, so the window is as wide as its seven captions.
  pages_->setUsesScrollButtons(false);
  layout->addWidget(pages_);
  const std::pair<void (OptionsWindow::*)(QWidget*), const char*> builders[kPageCount] = {
      {&OptionsWindow::BuildArchiversPage, "Archivers Parameters"},
      {&OptionsWindow::BuildLogPage, "Log"},
      {&OptionsWindow::BuildGenericPage, "Generic Parameters"},
      {&OptionsWindow::BuildServicePage, "NT/2000 Service"},
      {&OptionsWindow::BuildInterfacePage, "Interface"},
      {&OptionsWindow::BuildConfirmationsPage, "Confirmations"},
      {&OptionsWindow::BuildEmailPage, "E-mail"},
  };
  for (const auto& [build, caption] : builders) {
    auto* page = new QWidget(pages_);
    (this->*build)(page);
    pages_->addTab(page, caption);
  }
  auto* buttons = new QDialogButtonBox(this);
  controls_.save = buttons->addButton("Save", QDialogButtonBox::AcceptRole);
  controls_.cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  controls_.save->setDefault(true);
  layout->addWidget(buttons);
  connect(controls_.save, &QPushButton::clicked, this, [this] { (void)Save(); });
  connect(controls_.cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(controls_.clearLog, &QPushButton::clicked, this, [this] {
    if (context_.clearLog) {
      context_.clearLog();
    } else {
      log::ClearLog();
    }
  });

  const std::shared_ptr<const core::ProgramOptions> options = core::CurrentOptions();
  Fill(*options);
  CheckServiceState();
  // Connected after filling, so only the user's choices warn.
  connect(controls_.language, &QComboBox::currentIndexChanged, this, &OptionsWindow::LanguageChosen);
  connect(controls_.fontSize, &QButtonGroup::idToggled, this, [this](int choice, bool checked) {
    if (checked) FontSizeChosen(choice);
  });

  if (options->FormScale != 100 && options->FormScale > 0) {
    QFont scaled = font();
    scaled.setPointSizeF(scaled.pointSizeF() * options->FormScale / 100.0);
    setFont(scaled);
  }
}

OptionsWindow::~OptionsWindow() = default;

void OptionsWindow::Fill(const core::ProgramOptions& o) {
  OptionsControls& c = controls_;
  c.tempPath->setText(Utf8Text(o.TempPath));
  // A level that is not listed leaves the list at its first entry.
  c.compression->setCurrentIndex(core::IsValidCompressionMethod(o.CompressionMethod)
                                     ? core::CompressionIndexOf(o.CompressionMethod)
                                     : 0);
  c.priority->setCurrentIndex(core::PriorityIndexOf(o.ZipPriority));
  c.sound->setChecked(o.EnableSound);

  c.outError->setChecked(o.OutError);
  c.outWarnings->setChecked(o.OutWarnings);
  c.outInfo->setChecked(o.OutInfo);
  SelectColor(c.colorError, o.ColorError);
  SelectColor(c.colorWarnings, o.ColorWarnings);
  SelectColor(c.colorInfo, o.ColorInfo);
  c.eventLog->setChecked(o.WriteToEventLog);
  c.maxLogCount->setValue(o.MaxLogCount);
  c.maxLog->setValue(o.MaxLog);

  c.runOnStartUp->setChecked(o.RunOnStartUp);
  c.autostartNote->setVisible(platform::FindAutostartEntry() == platform::AutostartEntryKind::MadeByUser);
  c.exitIfNoTasks->setChecked(o.ExitIfNoTasks);
  c.showLogo->setChecked(o.ShowLogo);
  c.exitIfTodayNoTasks->setChecked(o.ExitIfTodayNoTasks);
  c.exitWithoutDlg->setChecked(o.ExitWithoutDlg);
  c.recycleBin->setChecked(o.DeleteinRecucledBin);
  c.hideDepth->setChecked(o.DisableDeepWhenNoPrefix);
  c.password->setText(Utf8Text(o.PopUpPassword));
  c.confirmation->setText(Utf8Text(o.PopUpPassword));
  c.showTrayIcon->setChecked(o.ShowTryIcon);

  int language = 0;
  for (std::size_t i = 0; i < languages_.size(); ++i) {
    if (languages_[i].identifier == o.Language) language = static_cast<int>(i);
  }
  c.language->setCurrentIndex(language);
  const bool englishBuild = o.IsItEnglishBuild != 0;
  c.language->setVisible(!englishBuild);
  c.languageLabel->setVisible(!englishBuild);
  storedFormScale_ = o.FormScale;
  c.fontSize->button(core::FontSizeChoiceOf(o.FormScale))->setChecked(true);

  c.promptDelete->setChecked(o.PromtDelete);
  c.promptExecute->setChecked(o.PromtExecute);
  c.promptInterrupt->setChecked(o.PromtInterrupt);
  c.promptAllExecute->setChecked(o.PromtAllexecute);
  c.promptShare->setChecked(o.PromtShare);
  c.lockedDefault->setCurrentIndex(core::LockedFileActionIndexOf(o.PSDefaultAction));

  c.smtpHost->setText(Utf8Text(o.SMTPHost));
  c.smtpPort->setText(Utf8Text(o.SMTPPort));
  c.smtpUser->setText(Utf8Text(o.SMTPUser));
  c.smtpPassword->setText(Utf8Text(o.SMTPPassword));
  c.connectionType->setCurrentIndex(
      o.SMTPConnectionType >= 0 && o.SMTPConnectionType < c.connectionType->count() ? o.SMTPConnectionType
                                                                                    : 0);
  c.useProxy->setChecked(o.SMTPUseProxy);
  c.proxyHost->setText(Utf8Text(o.SMTPProxy));
  c.proxyPort->setText(Utf8Text(o.SMTPProxyPort));
  c.proxyHost->setEnabled(o.SMTPUseProxy);
  c.proxyPort->setEnabled(o.SMTPUseProxy);
  c.fromName->setText(Utf8Text(o.SMTPUserName));
  c.returnAddress->setText(Utf8Text(o.SMTPUserAddress));
}

core::ProgramOptions OptionsWindow::EditedOptions() const {
  // The options in force give what the window does not show (the sort keys, the window state, the
  // language, which its list sets at once).
  core::ProgramOptions o = *core::CurrentOptions();
  const OptionsControls& c = controls_;
  o.TempPath = S(c.tempPath->text());
  o.CompressionMethod = core::CompressionLevelAt(c.compression->currentIndex());
  o.ZipPriority = c.priority->currentIndex();
  o.EnableSound = c.sound->isChecked();

  o.OutError = c.outError->isChecked();
  o.OutWarnings = c.outWarnings->isChecked();
  o.OutInfo = c.outInfo->isChecked();
  o.ColorError = SelectedColor(c.colorError);
  o.ColorWarnings = SelectedColor(c.colorWarnings);
  o.ColorInfo = SelectedColor(c.colorInfo);
  o.WriteToEventLog = c.eventLog->isChecked();
  o.MaxLogCount = core::LogNumberOf(S(c.maxLogCount->text()), 500);
  o.MaxLog = core::LogNumberOf(S(c.maxLog->text()), 1000);

  o.RunOnStartUp = c.runOnStartUp->isChecked();
  o.ExitIfNoTasks = c.exitIfNoTasks->isChecked();
  o.ShowLogo = c.showLogo->isChecked();
  o.ExitIfTodayNoTasks = c.exitIfTodayNoTasks->isChecked();
  o.ExitWithoutDlg = c.exitWithoutDlg->isChecked();
  o.DeleteinRecucledBin = c.recycleBin->isChecked();
  o.DisableDeepWhenNoPrefix = c.hideDepth->isChecked();
  o.PopUpPassword = S(c.password->text());
  o.ShowTryIcon = c.showTrayIcon->isChecked();

  o.FormScale = core::FormScaleAt(c.fontSize->checkedId());

  o.PromtDelete = c.promptDelete->isChecked();
  o.PromtExecute = c.promptExecute->isChecked();
  o.PromtInterrupt = c.promptInterrupt->isChecked();
  o.PromtAllexecute = c.promptAllExecute->isChecked();
  o.PromtShare = c.promptShare->isChecked();
  o.PSDefaultAction = core::LockedFileActionAt(c.lockedDefault->currentIndex());

  o.SMTPHost = S(c.smtpHost->text());
  o.SMTPPort = S(c.smtpPort->text());
  o.SMTPUser = S(c.smtpUser->text());
  o.SMTPPassword = S(c.smtpPassword->text());
  o.SMTPConnectionType = c.connectionType->currentIndex();
  o.SMTPUseProxy = c.useProxy->isChecked();
  o.SMTPProxy = S(c.proxyHost->text());
  o.SMTPProxyPort = S(c.proxyPort->text());
  o.SMTPUserName = S(c.fromName->text());
  o.SMTPUserAddress = S(c.returnAddress->text());
  return o;
}

bool OptionsWindow::Save() {
  const core::ProgramOptions edited = EditedOptions();
  const std::string confirmation = S(controls_.confirmation->text());
  const platform::Status saved =
      context_.optionsFile != nullptr
          ? core::SaveEditedOptions(*context_.optionsFile, edited, confirmation, app::ApplyProgramAutostart)
          : platform::Status::Failure(EINVAL, "Unable to write to " + std::string(core::kOptionsFileName));
  if (!saved) {
    Message(kTitle, saved.Message(), core::MessageIcon::Error);
    return false;
  }
  accept();
  return true;
}

void OptionsWindow::Message(std::string_view title, std::string_view text, core::MessageIcon icon) {
  core::UserInterface& ui = context_.ui != nullptr ? *context_.ui : core::CurrentUserInterface();
  ui.ShowMessage(title, text, icon);
}

// ---- Service ----

void OptionsWindow::CheckServiceState() {
  StartServiceWork([] { return ServiceAnswer{{}, platform::QueryServiceStatus()}; });
}

void OptionsWindow::StartServiceWork(std::function<ServiceAnswer()> work) {
  // systemctl may wait long for a user manager that hangs, so it never runs on the main thread; the
  // buttons stay off until the answer comes, so only one call runs at a time.
  controls_.serviceLine->setText(
      QString::fromUtf8(kServiceCheckingText.data(), static_cast<qsizetype>(kServiceCheckingText.size())));
  controls_.installService->setEnabled(false);
  controls_.deleteService->setEnabled(false);
  controls_.runOnStartUp->setEnabled(false);
  RunOffMainThread(this, std::move(work), [](OptionsWindow& window, const ServiceAnswer& answer) {
    const bool reported = answer.outcome.has_value();
    window.ShowServiceState(reported && answer.outcome->Ok ? answer.outcome->Line : std::string(),
                            answer.status);
    if (reported) window.ReportServiceOutcome(*answer.outcome);
  });
}

void OptionsWindow::ShowServiceState(const std::string& line, const platform::ServiceStatus& status) {
  std::string text = platform::ServiceStatusText(status);
  if (!line.empty()) text = line + text.substr(std::min(text.find('\n'), text.size()));
  controls_.serviceLine->setText(Utf8Text(text));
  // Without a user manager neither button could do its work; the line says why.
  const bool managerAnswers = status.Problem.empty();
  controls_.installService->setEnabled(managerAnswers);
  controls_.deleteService->setEnabled(managerAnswers);
  // The service already starts the program at boot; a second copy at log-on is not wanted, and the
  // next Save removes the autostart entry.
  if (status.Installed) controls_.runOnStartUp->setChecked(false);
  controls_.runOnStartUp->setEnabled(!status.Installed);
}

void OptionsWindow::ReportServiceOutcome(const platform::ServiceOutcome& outcome) {
  // The reason of a failure follows the message, so the user learns what to mend.
  const std::string text = outcome.Reason.empty() ? outcome.Message : outcome.Message + "\n" + outcome.Reason;
  Message(kTitle, text, outcome.Ok ? core::MessageIcon::Information : core::MessageIcon::Error);
}

void OptionsWindow::InstallService() {
  // After an installation the line is the user manager's own answer.
  StartServiceWork([definition = app::ProgramServiceDefinition()] {
    platform::ServiceOutcome outcome = platform::InstallService(definition);
    outcome.Line.clear();
    return ServiceAnswer{std::move(outcome), platform::QueryServiceStatus()};
  });
}

void OptionsWindow::RemoveService() {
  StartServiceWork([] {
    platform::ServiceOutcome outcome = platform::RemoveService();
    return ServiceAnswer{std::move(outcome), platform::QueryServiceStatus()};
  });
}

// ---- Interface ----

void OptionsWindow::LanguageChosen(int index) {
  if (index < 0 || index >= static_cast<int>(languages_.size())) return;
  const int identifier = languages_[static_cast<std::size_t>(index)].identifier;
  core::ProgramOptions options = *core::CurrentOptions();
  if (options.Language == identifier) return;
  // The choice holds at once, also when the window is then cancelled; Save writes it.
  options.Language = identifier;
  core::SetCurrentOptions(options);
  Message(core::kLanguageRestartTitle, core::kLanguageRestartText, core::MessageIcon::Warning);
}

void OptionsWindow::FontSizeChosen(int choice) {
  if (core::FormScaleAt(choice) != storedFormScale_)
    Message(kTitle, core::kFontSizeRestartText, core::MessageIcon::Warning);
}

// ---- SMTP test ----

void OptionsWindow::StartSmtpTest() {
  if (smtpTicket_) return;
  const core::ProgramOptions fields = EditedOptions();
  const auto settings = transfer::SmtpSettingsOf(fields);
  if (!settings) {
    Message(kTitle, SmtpFailureText(settings.Message()), core::MessageIcon::Error);
    return;
  }
  smtpTicket_ = std::make_shared<int>(0);
  smtpProgress_ = new QProgressDialog("Testing the connection to " + Utf8Text(settings->host) + ":" +
                                          QString::number(settings->port) + " ...",
                                      "Cancel", 0, 0, this);
  smtpProgress_->setWindowTitle("SMTP connection test");
  smtpProgress_->setWindowModality(Qt::WindowModal);
  smtpProgress_->setAutoClose(false);
  smtpProgress_->setAutoReset(false);
  smtpProgress_->setMinimumDuration(0);
  connect(smtpProgress_, &QProgressDialog::canceled, this, &OptionsWindow::CancelSmtpTest);
  smtpProgress_->show();

  // The thread works on copies only. An answer that comes after Cancel finds the ticket gone.
  std::weak_ptr<int> ticket = smtpTicket_;
  RunOffMainThread(
      this, [fields, timeouts = smtpTimeouts_] { return transfer::SmtpConnectionTest(fields, timeouts); },
      [ticket](OptionsWindow& window, const platform::Status& result) {
        if (!ticket.expired()) window.FinishSmtpTest(result);
      });
}

void OptionsWindow::CancelSmtpTest() {
  smtpTicket_.reset();
  if (smtpProgress_) {
    smtpProgress_->hide();
    smtpProgress_->deleteLater();
  }
  smtpProgress_ = nullptr;
}

void OptionsWindow::FinishSmtpTest(const platform::Status& result) {
  CancelSmtpTest();
  if (result) {
    Message(kTitle, kSmtpTestOk, core::MessageIcon::Information);
  } else {
    Message(kTitle, SmtpFailureText(result.Message()), core::MessageIcon::Error);
  }
}

bool RunOptionsWindow(QWidget* parent, const OptionsWindowContext& context) {
  OptionsWindow window(parent, context);
  return window.exec() == QDialog::Accepted;
}

}  // namespace zentrove::ui
