#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/options.h"
#include "core/task_list.h"
#include "core/task_record.h"
#include "engine/run_environment.h"
#include "platform/result.h"
#include "transfer/mime.h"
#include "transfer/smtp_client.h"

namespace zentrove::transfer {

inline constexpr std::string_view kNotificationPrefix = "ZENTROVE NOTIFICATION:";
inline constexpr std::string_view kMailStartedText = "E-mail transfer has started: ";
inline constexpr std::string_view kMailSentText = "E-mail was successfully sent to: ";
inline constexpr std::string_view kMailFailedText = "Failed to send e-mail: ";
inline constexpr std::string_view kSmtpTestSubject = "Zentrove SMTP Test Message";

// SE_When and NS_When: 0 after success, 1 after failure, 2 always.
bool WhenMatches(int when, bool failed);

// The lines of the task's latest run in this program instance, from the log's text: the task's lines
// from the last "Task started" line that this process wrote on. Without such a line, every line of
// the task.
std::vector<std::string> CurrentRunLines(std::string_view logText, int taskNumber,
                                         std::string_view startMarker);
// "[" + VersionText + "-" + process id + "]", which the start line of every run of this process holds.
std::string RunStartMarker();

// The SMTP account of the options; fails for a port that is not a number from 1 to 65535.
platform::Result<SmtpSettings> SmtpSettingsOf(const core::ProgramOptions& options);

// One notification e-mail of a finished run, gathered on the main thread, where the log file and the
// task are read.
struct TaskMail {
  int taskNumber = 0;
  std::string addresses;  // SendAddress, for the log lines
  MailMessage message;
};
platform::Result<TaskMail> ComposeTaskMail(const engine::RunNotification& notification,
                                           const core::ProgramOptions& options);

// Sends a composed message; any thread. The result's message is the error text of the log line.
struct MailSendHooks {
  std::function<void(std::uint64_t bytes)> progress;
  platform::CancelCheck cancel;
  bool logLines = true;  // the info and warning lines of the connection, under the task's number
};
platform::Status SendTaskMail(const TaskMail& mail, const SmtpSettings& settings,
                              const MailSendHooks& hooks = {});

// The options window's and `zentrove smtp-test`'s test: a fixed message from the sender to the
// sender's own address with the values given, without log lines.
platform::Status SmtpConnectionTest(const core::ProgramOptions& fields, const SmtpTimeouts& timeouts = {});

// The notifications at the end of a run (main thread): the e-mail when SendEMail and SE_When say so,
// then the network message when SendNet and NS_When say so. Both are sent on the notification thread
// in that order, so a slow server never holds the main thread.
void SendNotifications(const engine::RunNotification& notification);

// Runs `job` on the notification thread after everything queued before it.
void QueueNotificationJob(std::function<void()> job);
// Waits until every queued job has ended; true when they have.
bool WaitForNotifications(std::chrono::milliseconds timeout);
// Stops the e-mail of a task that is being sent (its run has ended, so the run's stop flag no longer
// reaches it).
void StopTaskMail(int taskNumber);

// The list whose tasks show the status texts of their e-mail; without one they are not shown. The
// tasks are looked up by number on the main thread, so a task deleted meanwhile is never touched.
void SetNotificationTaskList(core::TArhList* list);
// The SMTP time-outs of the notifications (tests shorten them).
void SetNotificationTimeouts(const SmtpTimeouts& timeouts);

}  // namespace zentrove::transfer
