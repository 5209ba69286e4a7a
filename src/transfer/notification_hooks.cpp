#include "transfer/notification_hooks.h"

#include "transfer/dial_up.h"
#include "transfer/mail_notification.h"
#include "transfer/net_send.h"

namespace zentrove::transfer {

void InstallNotificationHooks(engine::RunEnvironment& environment) {
  environment.UpdateHooks([&environment](engine::RunHooks& hooks) {
    hooks.DialUp = [&environment](core::TArhRecord& task) {
      return DialUp(task, environment.Hooks().ProgramClosing);
    };
    hooks.SendNotifications = [](const engine::RunNotification& notification) {
      SendNotifications(notification);
    };
    // Behind the run's e-mail on the notification thread, so the line stays up until the e-mail is out.
    hooks.HangUpDialUp = [](core::TArhRecord& task) {
      QueueNotificationJob([number = task.TaskNumber, entry = task.RASDial] { HangUpDialUp(number, entry); });
    };
  });
}

void AddNoticeServices(scheduler::DispatcherServices& services) {
  services.netSend = [](const std::string& recipient, const std::string& text) { NetSend(recipient, text); };
}

}  // namespace zentrove::transfer
