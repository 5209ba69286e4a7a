#pragma once

#include <functional>
#include <memory>

#include "platform/result.h"

namespace zentrove::platform {

// Blocks SIGTERM, SIGHUP and SIGINT in the calling thread; threads created afterwards inherit the
// mask. Call it at the start of main, before any other thread exists, so that no thread takes the
// default action (ending the process) before the watcher sees the signal. Also ignores SIGPIPE, so a
// peer that closes a socket yields EPIPE instead of ending the program.
void BlockSessionEndSignals();

// A thread that waits for the session-end signals and calls back on that thread (the callee posts to
// the main thread): SIGTERM and SIGINT call onTerminate, SIGHUP calls onHangUp. Destroying it stops
// the thread; the signals stay blocked.
class SessionEndWatch {
 public:
  using Call = std::function<void()>;
  virtual ~SessionEndWatch() = default;
};

// Blocks the signals in the calling thread (see BlockSessionEndSignals) and starts the watcher.
Result<std::unique_ptr<SessionEndWatch>> WatchSessionEnd(SessionEndWatch::Call onTerminate,
                                                         SessionEndWatch::Call onHangUp);

}  // namespace zentrove::platform
