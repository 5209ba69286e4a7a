#pragma once

#include <functional>
#include <string_view>

namespace zentrove::platform {

enum class EventLevel { Error, Warning, Information };

// Reports one event to the system log: syslog(3) with the ident "Zentrove", priority LOG_ERR,
// LOG_WARNING or LOG_INFO. Safe from any thread; failures are silent.
void ReportEvent(EventLevel level, std::string_view text);

// Tests divert the events here; an empty sink restores the system log.
using EventSink = std::function<void(EventLevel level, std::string_view text)>;
void SetEventSink(EventSink sink);

}  // namespace zentrove::platform
