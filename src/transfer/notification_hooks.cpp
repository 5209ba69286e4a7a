#include "transfer/notification_hooks.h"

#include "engine/job_runner.h"
#include "transfer/dial_up.h"
#include "transfer/mail_notification.h"
#include "transfer/net_send.h"

namespace zentrove::transfer {

void InstallNotificationHooks() {
  engine::RunHooks hooks = engine::CurrentRunHooks();
  hooks.DialUp = [](core::TArhRecord& task) {
    const auto closing = engine::CurrentRunHooks().ProgramClosing;
    return DialUp(task, closing);
  };
  hooks.SendNotifications = [](const engine::RunNotification& notification) {
    SendNotifications(notification);
  };
  // Behind the run's e-mail on the notification thread, so the line stays up until the e-mail is out.
  hooks.HangUpDialUp = [](core::TArhRecord& task) {
    QueueNotificationJob([number = task.TaskNumber, entry = task.RASDial] { HangUpDialUp(number, entry); });
  };
  engine::SetRunHooks(std::move(hooks));
}

void AddNoticeServices(scheduler::DispatcherServices& services) {
  services.netSend = [](const std::string& recipient, const std::string& text) { NetSend(recipient, text); };
}

}  // namespace zentrove::transfer
