#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/result.h"

namespace zentrove::platform {

// One copy of the program per login session. The first copy holds an flock on
// "Zentrove-<session>.lock" in the runtime folder and listens on the Unix socket
// "Zentrove-<session>.sock" beside it; a later copy fails to take the lock, asks the first one to
// show its window through the socket and ends. The kernel releases the lock of a crashed copy, and a
// socket file left behind by it is replaced.
class InstanceLock {
 public:
  // Called on the listener thread each time another copy asks to show the window; the callee posts
  // to the main thread.
  using ShowRequest = std::function<void()>;

  InstanceLock();
  ~InstanceLock();  // stops listening, removes the socket file and releases the lock
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  enum class Outcome { FirstCopy, AnotherCopyRuns };
  // Takes the lock in RuntimeFolder(), or in `folder` when it is not empty (with a trailing "/" or
  // without). On FirstCopy the listener runs until Release or destruction.
  Result<Outcome> TryAcquire(const std::string& sessionName, ShowRequest onShow,
                             const std::string& folder = {});
  void Release();
  bool Held() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A second copy's request: connects to the first copy's socket, asks it to show its window and waits
// (at most a second) for its acknowledgement.
[[nodiscard]] Status AskRunningCopyToShow(const std::string& sessionName, const std::string& folder = {});

}  // namespace zentrove::platform
