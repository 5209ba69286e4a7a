#include "transfer/net_send.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "log/log.h"
#include "platform/process.h"
#include "transfer/smtp_reply.h"

namespace zentrove::transfer {
namespace {

constexpr std::chrono::seconds kMessageTimeout{30};

struct Running {
  std::mutex mutex;
  std::condition_variable ended;
  int count = 0;
};

Running& Messages() {
  static Running running;
  return running;
}

}  // namespace

platform::Status CheckNetSendRecipient(std::string_view recipient) {
  bool bad = recipient.empty() || recipient.front() == '-';
  for (const char c : recipient) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f) bad = true;
  }
  if (!bad) return platform::Status::Success();
  return platform::Status::Failure(EINVAL, "The network message was not sent: \"" +
                                               PrintableServerText(recipient) + "\" is not a recipient name");
}

void NetSend(const std::string& recipient, const std::string& text, int taskNumber) {
  if (auto status = CheckNetSendRecipient(recipient); !status) {
    log::AddLogLine(log::LogLevel::Warning, taskNumber, status.Message());
    return;
  }
  {
    std::lock_guard lock(Messages().mutex);
    ++Messages().count;
  }
  // The message is not waited for; the thread only collects smbclient's end.
  std::thread([recipient, text] {
    platform::CaptureOptions options;
    options.input = text;
    options.timeout = kMessageTimeout;
    (void)platform::RunAndCapture({"smbclient", "-N", "-M", recipient}, options);
    std::lock_guard lock(Messages().mutex);
    --Messages().count;
    Messages().ended.notify_all();
  }).detach();
}

bool WaitForNetMessages(std::chrono::milliseconds timeout) {
  std::unique_lock lock(Messages().mutex);
  return Messages().ended.wait_for(lock, timeout, [] { return Messages().count == 0; });
}

}  // namespace zentrove::transfer
