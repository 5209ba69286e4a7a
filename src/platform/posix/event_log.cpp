#include "platform/event_log.h"

#include <syslog.h>

#include <mutex>
#include <string>

namespace zentrove::platform {
namespace {

std::mutex g_mutex;
EventSink g_sink;
bool g_opened = false;

int PriorityOf(EventLevel level) {
  switch (level) {
    case EventLevel::Error:
      return LOG_ERR;
    case EventLevel::Warning:
      return LOG_WARNING;
    case EventLevel::Information:
      return LOG_INFO;
  }
  return LOG_INFO;
}

}  // namespace

void ReportEvent(EventLevel level, std::string_view text) {
  std::lock_guard lock(g_mutex);
  if (g_sink) {
    g_sink(level, text);
    return;
  }
  if (!g_opened) {
    openlog("Zentrove", LOG_PID, LOG_USER);
    g_opened = true;
  }
  const std::string message(text);
  syslog(PriorityOf(level), "%s", message.c_str());
}

void SetEventSink(EventSink sink) {
  std::lock_guard lock(g_mutex);
  g_sink = std::move(sink);
}

}  // namespace zentrove::platform
