#include "transfer/mail_notification.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "base/main_thread.h"
#include "core/config_folder.h"
#include "core/version.h"
#include "engine/archive_naming.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/process.h"
#include "transfer/net_send.h"

namespace zentrove::transfer {
namespace {

using log::LogLevel;
using platform::Status;

constexpr std::uint64_t kProgressStep = 64 * 1024;

// One thread that sends the notifications of finished runs one after another.
class NotificationThread {
 public:
  ~NotificationThread() {
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void Queue(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    if (!thread_.joinable()) thread_ = std::thread([this] { Work(); });
    wake_.notify_all();
  }

  bool WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return jobs_.empty() && !busy_; });
  }

 private:
  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
      lock.unlock();
      try {
        job();
      } catch (...) {
        // A notification never ends the program.
      }
      lock.lock();
      busy_ = false;
      idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false;
  bool ending_ = false;
  std::thread thread_;
};

NotificationThread& Notifications() {
  static NotificationThread thread;
  return thread;
}

struct SharedState {
  std::mutex mutex;
  core::TArhList* list = nullptr;
  SmtpTimeouts timeouts;
  // The stop flags of the e-mails being sent, by task number.
  std::multimap<int, std::shared_ptr<std::atomic<bool>>> stops;
};

SharedState& State() {
  static SharedState state;
  return state;
}

core::TArhList* TaskList() {
  std::lock_guard lock(State().mutex);
  return State().list;
}

// Sets a status text of the task on the main thread, where the task is looked up afresh.
void ShowStatus(int taskNumber, std::string text, bool progressText,
                std::shared_ptr<std::atomic<bool>> stop = nullptr) {
  if (TaskList() == nullptr) return;
  base::RunOnMainThread([taskNumber, text = std::move(text), progressText, stop] {
    core::TArhList* list = TaskList();
    core::TArhRecord* task = list == nullptr ? nullptr : list->FindByNumber(taskNumber);
    if (task == nullptr) return;
    if (progressText) {
      task->StatusText1 = text;
    } else {
      task->StatusText2 = text;
    }
    if (stop && task->StopTask) *stop = true;
    list->RefreshRow(*task);
  });
}

std::string Quoted(std::string_view text) {
  return "\"" + WithoutLineBreaks(text) + "\"";
}

std::vector<std::string> TextLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string FileNamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void LogLine(LogLevel level, int taskNumber, const std::string& text) {
  log::AddLogLine(level, taskNumber, text);
}

}  // namespace

bool WhenMatches(int when, bool failed) {
  return when == 2 || (failed ? when == 1 : when == 0);
}

std::string RunStartMarker() {
  return "[" + std::string(core::VersionText()) + "-" + std::to_string(platform::CurrentProcessId()) + "]";
}

std::vector<std::string> CurrentRunLines(std::string_view logText, int taskNumber,
                                         std::string_view startMarker) {
  const std::string taskMark = "[" + std::to_string(taskNumber) + "]";
  std::vector<std::string> kept;
  for (std::string& line : TextLines(logText)) {
    if (line.find(taskMark) == std::string::npos) continue;
    if (line.find(startMarker) != std::string::npos) kept.clear();
    kept.push_back(std::move(line));
  }
  return kept;
}

platform::Result<SmtpSettings> SmtpSettingsOf(const core::ProgramOptions& options) {
  auto port = ParseSmtpPort(options.SMTPPort);
  if (!port) return port.GetStatus();
  SmtpSettings settings;
  settings.host = options.SMTPHost;
  settings.port = *port;
  switch (options.SMTPConnectionType) {
    case 1:
      settings.security = SmtpSecurity::ImplicitTls;
      break;
    case 2:
      settings.security = SmtpSecurity::StartTls;
      break;
    default:
      settings.security = SmtpSecurity::Plain;
      break;
  }
  settings.user = options.SMTPUser;
  settings.password = options.SMTPPassword;
  std::lock_guard lock(State().mutex);
  settings.timeouts = State().timeouts;
  return settings;
}

platform::Result<TaskMail> ComposeTaskMail(const engine::RunNotification& notification,
                                           const core::ProgramOptions& options) {
  const core::TArhRecord& task = notification.task;
  const engine::MacroValues macros = engine::MacroValuesOf(task, notification.archiveName, options.TempPath);
  TaskMail mail;
  mail.taskNumber = task.TaskNumber;
  mail.addresses = task.SendAddress;
  MailMessage& message = mail.message;
  message.fromName = options.SMTPUserName;
  message.fromAddress = options.SMTPUserAddress;
  message.to = SplitAddressList(task.SendAddress);
  message.subject = WithoutLineBreaks(engine::ApplyMacros(task.SendSubj, macros));

  std::string body = std::string(kNotificationPrefix) + notification.finalLine;
  const std::string templatePath = core::ConfigFolder() + std::to_string(task.TaskNumber) + ".bdy";
  if (auto text = platform::ReadWholeFile(templatePath)) {
    for (const std::string& line : TextLines(*text))
      body += "\r\n" + line;
  }
  body = engine::ApplyMacros(body, macros);
  if (task.SendCurLog) {
    if (auto logText = platform::ReadWholeFile(log::LogFilePath())) {
      body += "\r\n---";
      for (const std::string& line : CurrentRunLines(*logText, task.TaskNumber, RunStartMarker()))
        body += "\r\n" + line;
    }
  }
  message.body = std::move(body);

  if (task.SendLog) message.attachments.push_back({log::LogFilePath(), std::string(log::kLogFileName)});
  if (task.SendZip && !notification.failed && task.ArchiveOrCopy == 0) {
    message.attachments.push_back({notification.archiveName, FileNamePart(notification.archiveName)});
  }
  // A missing attachment is found before the connection, so the error names it plainly.
  for (const MailAttachment& attachment : message.attachments) {
    if (platform::StatFollow(attachment.path).kind != platform::FileKind::File) {
      return Status::Failure(ENOENT, "Cannot read the attachment " + attachment.path);
    }
  }
  return mail;
}

Status SendTaskMail(const TaskMail& mail, const SmtpSettings& settings, const MailSendHooks& hooks) {
  SmtpEvents events;
  if (hooks.logLines) {
    const int number = mail.taskNumber;
    events.info = [number](const std::string& text) { LogLine(LogLevel::Information, number, text); };
    events.warning = [number](const std::string& text) { LogLine(LogLevel::Warning, number, text); };
    events.tlsWarning = events.warning;
  }
  events.progress = hooks.progress;
  events.cancel = hooks.cancel;
  return SendMailMessage(settings, mail.message, events);
}

Status SmtpConnectionTest(const core::ProgramOptions& fields, const SmtpTimeouts& timeouts) {
  auto settings = SmtpSettingsOf(fields);
  if (!settings) return settings.GetStatus();
  settings->timeouts = timeouts;
  MailMessage message;
  message.fromName = fields.SMTPUserName;
  message.fromAddress = fields.SMTPUserAddress;
  message.to = {fields.SMTPUserAddress};
  message.subject = std::string(kSmtpTestSubject);
  message.body = "---------Zentrove SMTP Test Message------------\r\nSMTP Test: Ok\r\n";
  return SendMailMessage(*settings, message);
}

void SendNotifications(const engine::RunNotification& notification) {
  const core::TArhRecord& task = notification.task;
  const int number = task.TaskNumber;
  const std::string text = std::string(kNotificationPrefix) + notification.finalLine;

  if (task.SendEMail && WhenMatches(task.SE_When, notification.failed)) {
    const std::string addresses = Quoted(task.SendAddress);
    const auto options = engine::OptionsOf(notification.run);
    auto settings = SmtpSettingsOf(*options);
    // Composed before the first e-mail line is logged, so the current run's extract never holds it.
    auto mail =
        settings ? ComposeTaskMail(notification, *options) : platform::Result<TaskMail>(settings.GetStatus());
    LogLine(LogLevel::Information, number, std::string(kMailStartedText) + " " + addresses);
    if (!mail) {
      LogLine(LogLevel::Error, number,
              std::string(kMailFailedText) + " " + addresses + " [" + mail.Message() + "]");
    } else {
      auto stop = std::make_shared<std::atomic<bool>>(false);
      {
        std::lock_guard lock(State().mutex);
        State().stops.emplace(number, stop);
      }
      ShowStatus(number, "SMTP send: ...", false);
      QueueNotificationJob([mail = std::move(mail.Value()), settings = std::move(settings.Value()), stop,
                            addresses, number, closing = engine::HooksOf(notification.run).ProgramClosing] {
        MailSendHooks hooks;
        std::uint64_t shown = 0;
        hooks.progress = [&shown, number, stop](std::uint64_t bytes) {
          if (bytes - shown < kProgressStep && shown != 0) return;
          shown = bytes;
          ShowStatus(number, "SMTP Send: " + std::to_string(bytes / 1024) + "Kb", true, stop);
        };
        // Pause is not asked here: the run has ended, and a held e-mail would only hold the ones
        // queued behind it.
        hooks.cancel = [stop, &closing] { return stop->load() || (closing && closing()); };
        const Status sent = SendTaskMail(mail, settings, hooks);
        if (sent) {
          LogLine(LogLevel::Information, number, std::string(kMailSentText) + " " + addresses);
        } else {
          LogLine(LogLevel::Error, number,
                  std::string(kMailFailedText) + " " + addresses + " [" + WithoutLineBreaks(sent.Message()) +
                      "]");
        }
        std::lock_guard lock(State().mutex);
        auto& stops = State().stops;
        for (auto it = stops.lower_bound(number); it != stops.end() && it->first == number; ++it) {
          if (it->second == stop) {
            stops.erase(it);
            break;
          }
        }
      });
    }
  }

  if (task.SendNet && WhenMatches(task.NS_When, notification.failed)) {
    QueueNotificationJob([recipient = task.NetSend_user, text, number] { NetSend(recipient, text, number); });
  }
}

void QueueNotificationJob(std::function<void()> job) {
  Notifications().Queue(std::move(job));
}

bool WaitForNotifications(std::chrono::milliseconds timeout) {
  return Notifications().WaitIdle(timeout);
}

void StopTaskMail(int taskNumber) {
  std::lock_guard lock(State().mutex);
  auto& stops = State().stops;
  for (auto it = stops.lower_bound(taskNumber); it != stops.end() && it->first == taskNumber; ++it)
    *it->second = true;
}

void SetNotificationTaskList(core::TArhList* list) {
  std::lock_guard lock(State().mutex);
  State().list = list;
}

void SetNotificationTimeouts(const SmtpTimeouts& timeouts) {
  std::lock_guard lock(State().mutex);
  State().timeouts = timeouts;
}

}  // namespace zentrove::transfer
