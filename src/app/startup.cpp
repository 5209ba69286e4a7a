#include "app/startup.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "base/regional_format.h"
#include "base/text.h"
#include "core/legacy_task_file.h"
#include "core/version.h"
#include "log/log.h"
#include "platform/environment.h"
#include "platform/instance.h"
#include "platform/process.h"
#include "platform/signals.h"

namespace zentrove::app {

using namespace core;

namespace {

namespace fs = std::filesystem;

std::atomic<bool> g_exiting{false};

constexpr std::chrono::milliseconds kLogoDuration{3000};
constexpr std::string_view kApplicationTitle = "Zentrove";
// The first copy takes its lock a moment before it listens; a copy started at the same time retries
// for this long before it gives up waking it.
constexpr std::chrono::milliseconds kWakeRetryTime{1500};
constexpr std::chrono::milliseconds kWakeRetryStep{20};

std::string ProcessTag() {
  return " [" + std::string(VersionText()) + "-" + std::to_string(platform::CurrentProcessId()) + "]";
}

platform::SessionKind SessionKindOf(bool serviceMode) {
  return serviceMode ? platform::SessionKind::Service : platform::SessionKind::Desktop;
}

// The running copy may still be between taking its lock and listening, or busy for a moment.
void WakeRunningCopy(const std::string& sessionName) {
  const auto deadline = std::chrono::steady_clock::now() + kWakeRetryTime;
  for (;;) {
    const platform::Status status = platform::AskRunningCopyToShow(sessionName);
    if (status.Ok()) return;
    const bool notListeningYet = status.Code() == ENOENT || status.Code() == ECONNREFUSED;
    if (!notListeningYet || std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(kWakeRetryStep);
  }
}

}  // namespace

// ---- Texts ----

std::string LoadingText() {
  return "Loading..." + ProcessTag();
}
std::string SuccessfulEndText() {
  return "Successful end of the program" + ProcessTag();
}

// ---- Language ----

LanguageChoice ChooseLanguage(int storedLanguage, int localisationLanguage,
                              const std::string& programFolder) {
  LanguageChoice choice;
  choice.Language =
      storedLanguage == 0 || storedLanguage == kLanguageEnglishUk ? localisationLanguage : storedLanguage;
  choice.HelpFile =
      programFolder + std::string(choice.Language == kLanguageRussian ? kRussianHelpFileName : kHelpFileName);
  return choice;
}

// ---- Session end ----

bool Exiting() {
  return g_exiting.load();
}
void SetExiting(bool value) {
  g_exiting.store(value);
}

bool EndsWithSession(SessionEnd kind, bool serviceMode) {
  return kind == SessionEnd::Shutdown || !serviceMode;
}

// ---- Application ----

Application::Application(base::MainThread& mainThread, UserInterface& ui, StartupFrontEnd& frontEnd,
                         StartupHooks hooks)
    : mainThread_(mainThread),
      ui_(ui),
      frontEnd_(frontEnd),
      hooks_(std::move(hooks)),
      compareRows_(core::MakeCompareRows(hooks_.GridTexts)) {}

Application::~Application() {
  Shutdown();
}

int Application::Run(const std::vector<std::string>& arguments) {
  SetStartFlags(ReadStartFlags(arguments));
  base::SetCurrentMainThread(&mainThread_);
  SetCurrentUserInterface(&ui_);
  // Every date the program shows or logs uses the regional formats with "." between the fields.
  base::LoadRegionalFormatsFromLocale();

  if (const auto ended = CheckInstance()) return *ended;
  WatchSessionEnd();

  programFolder_ = ProgramFolder();
  configFolder_ = ConfigFolder();
  log::SetLogFolder(configFolder_);
  MigrateOldInstallation(programFolder_, configFolder_, ServiceMode() ? nullptr : &ui_);

  const EarlyOptions early = ReadEarlyOptions(OptionsFilePath(configFolder_));
  if (early.ShowLogo) frontEnd_.ShowLogo(kLogoDuration);
  const int localisationLanguage =
      frontEnd_.StartLocalisation(kApplicationTitle, programFolder_, configFolder_);
  const LanguageChoice language = ChooseLanguage(early.Language, localisationLanguage, programFolder_);
  currentLanguage_ = language.Language;
  frontEnd_.ApplyLanguage(language);

  if (const auto ended = CreateMainWindow()) {
    Shutdown();
    return *ended;
  }
  frontEnd_.StartHidden();
  const int exitCode = mainThread_.Run();
  Shutdown();
  return exitCode;
}

std::optional<int> Application::CheckInstance() {
  const std::string sessionName = platform::SessionName(SessionKindOf(ServiceMode()));
  instanceLock_ = std::make_unique<platform::InstanceLock>();
  const auto outcome =
      instanceLock_->TryAcquire(sessionName, [this] { mainThread_.Post([this] { HandleShowRequest(); }); });
  if (!outcome) {
    // Without the lock two copies could run the same tasks at once; refusing to start is safer.
    std::cerr << "Zentrove: cannot check for another running copy: " << outcome.Message() << '\n';
    instanceLock_.reset();
    return 1;
  }
  if (*outcome == platform::InstanceLock::Outcome::AnotherCopyRuns) {
    instanceLock_.reset();
    WakeRunningCopy(sessionName);
    return 0;
  }
  return std::nullopt;
}

void Application::WatchSessionEnd() {
  auto watch = platform::WatchSessionEnd(
      [this] { mainThread_.Post([this] { HandleSessionEnd(SessionEnd::Shutdown); }); },
      [this] { mainThread_.Post([this] { HandleSessionEnd(SessionEnd::LogOff); }); });
  if (watch) {
    sessionEndWatch_ = std::move(*watch);
  } else {
    std::cerr << "Zentrove: cannot watch for the end of the session: " << watch.Message() << '\n';
  }
}

std::optional<int> Application::CreateMainWindow() {
  optionsFile_ = std::make_unique<IniFile>(OpenOptionsFile(configFolder_));
  // A file that cannot be read gives the defaults, as a missing one does.
  [[maybe_unused]] const bool loaded = optionsFile_->Load();
  ProgramOptions options = LoadOptions(*optionsFile_);
  frontEnd_.CreateMainWindow(options);
  if (hooks_.LoadArchivers) hooks_.LoadArchivers(configFolder_);
  SetCurrentOptions(options);
  if (hooks_.ApplyAutostart) hooks_.ApplyAutostart(options.RunOnStartUp);
  frontEnd_.ShowTrayIcon(options.ShowTryIcon);
  if (hooks_.CreateRunServices) hooks_.CreateRunServices(*this);

  log::AddLogLine(log::LogLevel::Information, 0, LoadingText());
  if (ServiceMode()) log::AddLogLine(log::LogLevel::Information, 0, kServiceStartText);

  tasks_ = std::make_unique<TArhList>(configFolder_ + kTaskFileName);
  tasks_->SetView(frontEnd_.TaskView());
  if (hooks_.InstallScheduler) hooks_.InstallScheduler(*tasks_);
  if (LegacyConversionNeeded(programFolder_, tasks_->TaskFilePath())) {
    // The converted list is loaded by the next start, as the user is told.
    return ConvertLegacyTaskFile(*tasks_, programFolder_, options.TaskDefaults()) ? 0 : 1;
  }
  if (!tasks_->LoadTaskFile(options.TaskDefaults())) return 1;

  const SortOrder sorting = LoadSortOrder(*optionsFile_);
  tasks_->Sort = sorting.Sort;
  tasks_->SUP = sorting.SUP;
  // With or without a window, the tasks start in the order the grid shows them.
  if (sorting.Sort) tasks_->SortTaskList(sorting.Col, sorting.SUP, compareRows_);
  if (hooks_.StartDispatcher) hooks_.StartDispatcher(*this);
  return std::nullopt;
}

void Application::Close() {
  if (closing_) return;
  closing_ = true;
  frontEnd_.MainWindowClosing();
  log::AddLogLine(log::LogLevel::Information, 0, SuccessfulEndText());
  Terminate(0);
}

void Application::Terminate(int exitCode) {
  // Queued behind the lines already posted, so they reach the file before the loop ends.
  mainThread_.Post([this, exitCode] { mainThread_.Quit(exitCode); });
}

void Application::HandleShowRequest() {
  if (!closing_) ui_.ShowMainWindow();
}

void Application::HandleSessionEnd(SessionEnd kind) {
  if (closing_ || !EndsWithSession(kind, ServiceMode())) return;
  log::AddLogLine(log::LogLevel::Information, 0, kNormalShutdownText);
  SetExiting(true);
  Close();
}

void Application::Shutdown() {
  if (hooks_.StopRunServices) {
    hooks_.StopRunServices();
    hooks_.StopRunServices = nullptr;
  }
  sessionEndWatch_.reset();
  log::FlushLog();
  if (instanceLock_) instanceLock_->Release();
}

}  // namespace zentrove::app
