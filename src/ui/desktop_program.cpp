#include "ui/desktop_program.h"

#include <QApplication>
#include <QDesktopServices>
#include <QSessionManager>
#include <QUrl>
#include <cstdlib>

#include "core/config_folder.h"
#include "log/log.h"
#include "platform/signals.h"
#include "transfer/notification_hooks.h"
#include "ui/desktop_editors.h"
#include "ui/dialogs.h"
#include "ui/grid_cells.h"
#include "ui/qt_main_thread.h"
#include "ui/qt_user_interface.h"

namespace zentrove::ui {

void QtFrontEnd::ShowLogo(std::chrono::milliseconds duration) {
  ShowLogoWindow(duration);
}

int QtFrontEnd::StartLocalisation(std::string_view title, const std::string&, const std::string&) {
  // The name, not the display name, which Qt would append to every window's caption.
  QCoreApplication::setApplicationName(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
  // English is the one language the program has; no language file is selected.
  return 0;
}

void QtFrontEnd::ApplyLanguage(const app::LanguageChoice& choice) {
  services_.helpFile = choice.HelpFile;
}

void QtFrontEnd::CreateMainWindow(const core::ProgramOptions& options) {
  if (application_ != nullptr) {
    app::Application* application = application_;
    services_.optionsFile = &application->OptionsFile();
    services_.compareRows = application->CompareRows();
    services_.exitProgram = [application] { application->Close(); };
  }
  window_ = std::make_unique<MainWindow>(services_);
  window_->ApplyOptions(options);
  MainWindow* window = window_.get();
  log::SetLogSink(
      [window](const std::string& line, std::int32_t colour) { window->AppendLogLine(line, colour); });
  log::SetLogClearSink([window] { window->ClearLogPane(); });
  environment_.UpdateHooks([window](engine::RunHooks& hooks) {
    hooks.StartTrayAnimation = [window] { window->StartTrayAnimation(); };
  });
}

void QtFrontEnd::ShowTrayIcon(bool show) {
  if (window_) window_->ShowTrayIcon(show);
}

core::TaskListView QtFrontEnd::TaskView() {
  if (!window_ || application_ == nullptr) return {};
  window_->AttachList(&application_->Tasks());
  return window_->View();
}

void QtFrontEnd::StartHidden() {
  if (window_) window_->StartHidden();
}

void QtFrontEnd::MainWindowClosing() {
  if (window_) window_->SaveWindowState();
}

bool DisplayPresent() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

int RunDesktop(int& argc, char** argv, const std::vector<std::string>& arguments,
               engine::RunEnvironment& environment, const StartupHooksMaker& makeHooks) {
  // Before Qt starts threads of its own, so none of them takes the signals' default action.
  platform::BlockSessionEndSignals();
  QApplication qtApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QtMainThread mainThread;
  QtUserInterface ui;
  QtFrontEnd* frontEndPointer = nullptr;
  const auto window = [&frontEndPointer]() -> MainWindow* {
    return frontEndPointer != nullptr ? frontEndPointer->Window() : nullptr;
  };

  scheduler::DispatcherServices dispatcherServices;
  dispatcherServices.ui = &ui;
  dispatcherServices.environment = &environment;
  dispatcherServices.statusText = [window](const std::string& text) {
    if (MainWindow* shown = window()) shown->SetStatusText(text);
  };
  dispatcherServices.mainWindowHidden = [window] {
    const MainWindow* shown = window();
    return shown == nullptr || shown->WindowHidden();
  };
  dispatcherServices.dialogOpen = [window] {
    const MainWindow* shown = window();
    return shown != nullptr && shown->DialogOpen();
  };
  dispatcherServices.trayToggle = [window] {
    const MainWindow* shown = window();
    return shown != nullptr && shown->TrayToggle();
  };
  dispatcherServices.trayHint = [window](const std::string& hint) {
    if (MainWindow* shown = window()) shown->SetTrayHint(hint);
  };
  dispatcherServices.stopTrayAnimation = [window] {
    if (MainWindow* shown = window()) shown->StopTrayAnimation();
  };
  dispatcherServices.showNotification = [window](const scheduler::NotificationWindowRequest& request) {
    if (MainWindow* shown = window()) shown->ShowNotification(request);
  };
  transfer::AddNoticeServices(dispatcherServices);
  scheduler::SchedulerRuntime scheduler(dispatcherServices);

  MainWindowServices services;
  services.ui = &ui;
  services.dispatcher = [&scheduler] { return scheduler.GetDispatcher(); };
  services.openPath = [](const std::string& path) {
    const QString text = QString::fromStdString(path);
    QDesktopServices::openUrl(text.contains("://") ? QUrl(text) : QUrl::fromLocalFile(text));
  };
  services.unwatchTask = [&environment](core::TArhRecord& task) {
    if (const auto unwatch = environment.Hooks().UnwatchTask) unwatch(task);
  };
  app::Application* applicationPointer = nullptr;
  DesktopEditors editors({
      .ui = &ui,
      .tasks =
          [&applicationPointer] {
            return applicationPointer != nullptr ? &applicationPointer->Tasks() : nullptr;
          },
      .optionsFile =
          [&applicationPointer] {
            return applicationPointer != nullptr ? &applicationPointer->OptionsFile() : nullptr;
          },
      .configFolder =
          [&applicationPointer] {
            return applicationPointer != nullptr ? applicationPointer->ConfigFolderPath()
                                                 : core::ConfigFolder();
          },
      .openPath = services.openPath,
  });
  services.editors = &editors;
  app::StartupHooks hooks = makeHooks(scheduler);
  services.gridTexts = hooks.GridTexts;
  QtFrontEnd frontEnd(services, environment);
  frontEndPointer = &frontEnd;
  app::Application application(mainThread, ui, frontEnd, std::move(hooks));
  frontEnd.SetApplication(&application);
  applicationPointer = &application;
  ui.SetShowMainWindow([window] {
    if (MainWindow* shown = window()) shown->ShowRequested();
  });
  QObject::connect(
      &qtApplication, &QGuiApplication::commitDataRequest, &qtApplication,
      [&application](QSessionManager&) { application.HandleSessionEnd(app::SessionEnd::LogOff); });
  const int exitCode = application.Run(arguments);
  frontEndPointer = nullptr;
  frontEnd.ReleaseWindow();
  applicationPointer = nullptr;
  return exitCode;
}

}  // namespace zentrove::ui
