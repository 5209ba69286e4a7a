#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
#include "engine/run_environment.h"
#include "scheduler/scheduler_runtime.h"
#include "ui/main_window.h"

namespace zentrove::ui {

// The desktop program's share of the start: the logo, the main window with its grid and log pane,
// the tray icon and the hidden start.
class QtFrontEnd final : public app::StartupFrontEnd {
 public:
  QtFrontEnd(MainWindowServices services, engine::RunEnvironment& environment)
      : services_(std::move(services)), environment_(environment) {}

  void SetApplication(app::Application* application) { application_ = application; }
  MainWindow* Window() const { return window_.get(); }
  // The window goes before the application: its grid reads the task list the application owns.
  void ReleaseWindow() { window_.reset(); }

  void ShowLogo(std::chrono::milliseconds duration) override;
  int StartLocalisation(std::string_view title, const std::string& programFolder,
                        const std::string& configFolder) override;
  void ApplyLanguage(const app::LanguageChoice& choice) override;
  void CreateMainWindow(const core::ProgramOptions& options) override;
  void ShowTrayIcon(bool show) override;
  core::TaskListView TaskView() override;
  void StartHidden() override;
  void MainWindowClosing() override;

 private:
  MainWindowServices services_;
  engine::RunEnvironment& environment_;
  app::Application* application_ = nullptr;
  std::unique_ptr<MainWindow> window_;
};

// True when a desktop is there to show windows on: DISPLAY or WAYLAND_DISPLAY is set, or
// QT_QPA_PLATFORM names a platform.
bool DisplayPresent();

// The tray program: runs the application on Qt's event loop until it ends, and returns the exit code.
using StartupHooksMaker = std::function<app::StartupHooks(scheduler::SchedulerRuntime& scheduler)>;
int RunDesktop(int& argc, char** argv, const std::vector<std::string>& arguments,
               engine::RunEnvironment& environment, const StartupHooksMaker& makeHooks);

}  // namespace zentrove::ui
