#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/main_thread.h"
#include "core/config_folder.h"
#include "core/ini_file.h"
#include "core/options.h"
#include "core/task_grid.h"
#include "core/task_list.h"
#include "core/user_interface.h"

namespace zentrove::platform {
class InstanceLock;
class SessionEndWatch;
}  // namespace zentrove::platform

namespace zentrove::app {

using core::AutostartUpdate;
using core::CompareRowsFunction;
using core::IniFile;
using core::ProgramOptions;
using core::TArhList;
using core::TaskListView;
using core::UserInterface;

// ---- Log texts of the program's life ----

inline constexpr std::string_view kServiceStartText = "The Program was started as service";
inline constexpr std::string_view kNormalShutdownText = "Normal shutdown at system shutdown";
// "Loading... [3.8.1-2044]" with this program's version and process.
std::string LoadingText();
// "Successful end of the program [3.8.1-2044]".
std::string SuccessfulEndText();

// ---- Interface language and help file ----

inline constexpr int kLanguageRussian = 1049;
inline constexpr int kLanguageEnglishUk = 2057;
inline constexpr std::string_view kHelpFileName = "Zentrove.chm";
inline constexpr std::string_view kRussianHelpFileName = "Zentroverus.chm";

struct LanguageChoice {
  int Language = 0;  // 0: none
  std::string HelpFile;
};
// The stored Language, with 0 and 2057 replaced by the localisation's current language, and the help
// file of the result in the program folder.
LanguageChoice ChooseLanguage(int storedLanguage, int localisationLanguage, const std::string& programFolder);

// ---- Session end ----

// Set only by the end of the session. While it is false, closing the main window only hides it.
bool Exiting();
void SetExiting(bool value);

enum class SessionEnd {
  Shutdown,  // SIGTERM or SIGINT: the system goes down or the service is stopped
  LogOff,    // SIGHUP
};
// A service copy survives the log-off; everything else ends the program.
bool EndsWithSession(SessionEnd kind, bool serviceMode);

// ---- The front end's share of the start ----

// The steps that need windows. The headless program uses this class as it is: every step does nothing.
// A desktop front end overrides what it shows.
class StartupFrontEnd {
 public:
  virtual ~StartupFrontEnd() = default;

  // Shows the logo with "v" + VersionText() and blocks the start for `duration`.
  virtual void ShowLogo(std::chrono::milliseconds /*duration*/) {}
  // Sets the application title, clears the help file and starts the localisation with the program
  // folder as the place of its language files and the configuration folder as its second folder.
  // Returns the language identifier of the language file it selected, 0 when none.
  virtual int StartLocalisation(std::string_view /*title*/, const std::string& /*programFolder*/,
                                const std::string& /*configFolder*/) {
    return 0;
  }
  // Switches the localisation to the chosen language and sets the help file; failures are ignored.
  virtual void ApplyLanguage(const LanguageChoice& /*choice*/) {}
  // Creates the main window from the loaded options: scale, window placement, the hide-to-tray
  // routing of the minimise request.
  virtual void CreateMainWindow(const ProgramOptions& /*options*/) {}
  virtual void ShowTrayIcon(bool /*show*/) {}
  // The grid's side of the task list; empty hooks for the headless program.
  virtual TaskListView TaskView() { return {}; }
  // The tips window, the hints and the hidden start.
  virtual void StartHidden() {}
  // The main window really closes: it saves its state.
  virtual void MainWindowClosing() {}
};

class Application;

// The parts of the start that live above the core library. Every hook is optional.
struct StartupHooks {
  // Builds the list of external archivers from the *.EMC files of the configuration folder.
  std::function<void(const std::string& configFolder)> LoadArchivers;
  // Applies RunOnStartUp to the autostart entry; the hook ignores its failures.
  AutostartUpdate ApplyAutostart;
  // Installs the schedule calculation into the list before it is loaded.
  std::function<void(TArhList& list)> InstallScheduler;
  // Creates the run locks, the processor-usage sampler and the folder-change waiter list.
  std::function<void(Application& application)> CreateRunServices;
  // Enables the dispatcher timer: the last step of creating the main window.
  std::function<void(Application& application)> StartDispatcher;
  // Stops the dispatcher, the sampler and the folder watchers when the program ends.
  std::function<void()> StopRunServices;
  // The schedule's and the archive naming's share of the grid's texts, which the sorting reads.
  core::GridTextSources GridTexts;
};

// The program's life as a process: the start sequence, one copy per session, the main loop and the
// end. Everything runs on the main thread.
class Application {
 public:
  Application(base::MainThread& mainThread, UserInterface& ui, StartupFrontEnd& frontEnd,
              StartupHooks hooks = {});
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Starts the program from its command line (the program path at index 0), runs the main loop and
  // returns the process's exit code. A second copy in the same session asks the first to show its
  // window and returns 0 at once.
  int Run(const std::vector<std::string>& arguments);

  // Valid from the creation of the main window on.
  TArhList& Tasks() { return *tasks_; }
  IniFile& OptionsFile() { return *optionsFile_; }
  base::MainThread& Thread() { return mainThread_; }
  const std::string& ConfigFolderPath() const { return configFolder_; }
  // The grid's order of rows, for every sorting of the list.
  const CompareRowsFunction& CompareRows() const { return compareRows_; }
  // The interface language in force; the options window shows and changes it.
  int CurrentLanguage() const { return currentLanguage_; }
  void SetCurrentLanguage(int language) { currentLanguage_ = language; }

  // The main window really closes (the Exit command, or the end of the session): the front end
  // saves its state, "Successful end of the program" is logged and the program ends.
  void Close();
  // Ends the program without a word, as the dispatcher's exit rules do. Lines logged before still
  // reach the file.
  void Terminate(int exitCode = 0);

  // Main thread: a request of another copy, and the session's end.
  void HandleShowRequest();
  void HandleSessionEnd(SessionEnd kind);

 private:
  // Returns the exit code when this copy must not go on.
  std::optional<int> CheckInstance();
  void WatchSessionEnd();
  // The main window's start-up order; returns the exit code when the program ends during it.
  std::optional<int> CreateMainWindow();
  void Shutdown();

  base::MainThread& mainThread_;
  UserInterface& ui_;
  StartupFrontEnd& frontEnd_;
  StartupHooks hooks_;
  std::unique_ptr<platform::InstanceLock> instanceLock_;
  std::unique_ptr<platform::SessionEndWatch> sessionEndWatch_;
  std::unique_ptr<IniFile> optionsFile_;
  std::unique_ptr<TArhList> tasks_;
  CompareRowsFunction compareRows_;
  std::string programFolder_;
  std::string configFolder_;
  int currentLanguage_ = 0;
  bool closing_ = false;
};

}  // namespace zentrove::app
