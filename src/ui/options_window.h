#pragma once

#include <QDialog>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ini_file.h"
#include "core/options.h"
#include "core/user_interface.h"
#include "platform/result.h"
#include "platform/service.h"
#include "transfer/smtp_client.h"
#include "ui/qt_text.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace zentrove::ui {

struct OptionsWindowContext {
  core::IniFile* optionsFile = nullptr;         // Zentrove.ini as the program holds it
  core::UserInterface* ui = nullptr;            // none: CurrentUserInterface
  std::function<void()> clearLog;               // "Clear Log"; none: the program log's own
  std::function<void(QWidget*)> editArchivers;  // the external archiver editor, if the page has its button
};

// One language of the interface: the caption of the list and its language identifier.
struct InterfaceLanguage {
  QString caption;
  int identifier = 0;
};
// The languages the program has.
std::vector<InterfaceLanguage> InterfaceLanguages();

// The controls of the seven pages, for the window's own use and for tests.
struct OptionsControls {
  // "Archivers Parameters"
  QLineEdit* tempPath = nullptr;
  QComboBox* compression = nullptr;
  QComboBox* priority = nullptr;
  QCheckBox* sound = nullptr;
  QPushButton* editArchivers = nullptr;  // only when the context has the editor
  // "Log"
  QCheckBox* outError = nullptr;
  QCheckBox* outWarnings = nullptr;
  QCheckBox* outInfo = nullptr;
  QComboBox* colorError = nullptr;
  QComboBox* colorWarnings = nullptr;
  QComboBox* colorInfo = nullptr;
  QCheckBox* eventLog = nullptr;
  QSpinBox* maxLogCount = nullptr;
  QSpinBox* maxLog = nullptr;
  QPushButton* clearLog = nullptr;
  // "Generic Parameters"
  QCheckBox* runOnStartUp = nullptr;
  QLabel* autostartNote = nullptr;  // shown when a hand-made autostart entry is there
  QCheckBox* exitIfNoTasks = nullptr;
  QCheckBox* showLogo = nullptr;
  QCheckBox* exitIfTodayNoTasks = nullptr;
  QCheckBox* exitWithoutDlg = nullptr;
  QCheckBox* recycleBin = nullptr;
  QCheckBox* hideDepth = nullptr;
  QLineEdit* password = nullptr;
  QLineEdit* confirmation = nullptr;
  QCheckBox* showTrayIcon = nullptr;
  // "NT/2000 Service"
  QLabel* serviceLine = nullptr;
  QPushButton* installService = nullptr;
  QPushButton* deleteService = nullptr;
  // "Interface"
  QLabel* languageLabel = nullptr;
  QComboBox* language = nullptr;
  QButtonGroup* fontSize = nullptr;  // button ids 0 to 5
  // "Confirmations"
  QCheckBox* promptDelete = nullptr;
  QCheckBox* promptExecute = nullptr;
  QCheckBox* promptInterrupt = nullptr;
  QCheckBox* promptAllExecute = nullptr;
  QCheckBox* promptShare = nullptr;
  QComboBox* lockedDefault = nullptr;
  // "E-mail"
  QLineEdit* smtpHost = nullptr;
  QLineEdit* smtpPort = nullptr;
  QLineEdit* smtpUser = nullptr;
  QLineEdit* smtpPassword = nullptr;
  QComboBox* connectionType = nullptr;
  QCheckBox* useProxy = nullptr;
  QLineEdit* proxyHost = nullptr;
  QLineEdit* proxyPort = nullptr;
  QLineEdit* fromName = nullptr;
  QLineEdit* returnAddress = nullptr;
  QPushButton* smtpTest = nullptr;
  // The buttons of the window.
  QPushButton* save = nullptr;
  QPushButton* cancel = nullptr;
};

// TFormOptions, "Options...": the program options on seven pages, Save and Cancel, and the actions
// that take effect at once (the service, "Clear Log", the SMTP test). Main thread only.
class OptionsWindow final : public QDialog {
 public:
  enum Page {
    kArchiversPage,
    kLogPage,
    kGenericPage,
    kServicePage,
    kInterfacePage,
    kConfirmationsPage,
    kEmailPage,
    kPageCount
  };

  OptionsWindow(QWidget* parent, OptionsWindowContext context,
                std::vector<InterfaceLanguage> languages = InterfaceLanguages());
  ~OptionsWindow() override;

  QTabWidget* Pages() const { return pages_; }
  const OptionsControls& Controls() const { return controls_; }

  // The options in force with every control's value taken over.
  core::ProgramOptions EditedOptions() const;
  // Save's checks and write; closes the window and returns true when the options were saved.
  bool Save();

  void InstallService();
  void RemoveService();

  // The SMTP test on the E-mail page's values. It runs on a thread of its own while a small window
  // with "Cancel" shows; Cancel closes that window and the result is dropped when it comes.
  void StartSmtpTest();
  void CancelSmtpTest();
  QProgressDialog* SmtpTestProgress() const { return smtpProgress_; }
  void SetSmtpTimeouts(const transfer::SmtpTimeouts& timeouts) { smtpTimeouts_ = timeouts; }

 private:
  void BuildArchiversPage(QWidget* page);
  void BuildLogPage(QWidget* page);
  void BuildGenericPage(QWidget* page);
  void BuildServicePage(QWidget* page);
  void BuildInterfacePage(QWidget* page);
  void BuildConfirmationsPage(QWidget* page);
  void BuildEmailPage(QWidget* page);
  void Fill(const core::ProgramOptions& options);
  // What a service call on the worker thread brings back: the operation's outcome, when it was one,
  // and the user manager's state after it.
  struct ServiceAnswer {
    std::optional<platform::ServiceOutcome> outcome;
    platform::ServiceStatus status;
  };
  // Asks the user manager on a worker thread; the line says so meanwhile and the buttons are off.
  void CheckServiceState();
  void StartServiceWork(std::function<ServiceAnswer()> work);
  // The service line and the buttons from the user manager's answer; `line` replaces the first line.
  void ShowServiceState(const std::string& line, const platform::ServiceStatus& status);
  void ReportServiceOutcome(const platform::ServiceOutcome& outcome);
  void LanguageChosen(int index);
  void FontSizeChosen(int choice);
  void FinishSmtpTest(const platform::Status& result);
  void Message(std::string_view title, std::string_view text, core::MessageIcon icon);

  OptionsWindowContext context_;
  std::vector<InterfaceLanguage> languages_;
  std::int32_t storedFormScale_ = 100;
  QTabWidget* pages_ = nullptr;
  OptionsControls controls_;
  transfer::SmtpTimeouts smtpTimeouts_;
  QPointer<QProgressDialog> smtpProgress_;
  // Held while a test's answer is awaited; the test's thread holds only a weak reference, so a
  // result that comes after Cancel or after the window closed finds it gone.
  std::shared_ptr<int> smtpTicket_;
};

// Shows the window modally; true when the options were saved (the caller applies the tray icon, the
// font size, ...).
bool RunOptionsWindow(QWidget* parent, const OptionsWindowContext& context);

}  // namespace zentrove::ui
