#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>

namespace zentrove::base {

// The program's main thread as the core sees it: a queue of calls, repeating timers and a loop that
// runs until asked to quit. Everything but the runs happens there; worker threads reach it only through
// Post. The headless program runs HeadlessMainThread; the desktop front end adapts its own event loop.
class MainThread {
 public:
  using Call = std::function<void()>;
  using TimerId = std::uint64_t;

  virtual ~MainThread() = default;

  // Queues a call; safe from any thread, never waits for the main thread.
  virtual void Post(Call call) = 0;
  // A timer that calls `onTick` on the main thread every `interval` until it is stopped. Only the main
  // thread starts and stops timers.
  virtual TimerId StartTimer(std::chrono::milliseconds interval, Call onTick) = 0;
  virtual void StopTimer(TimerId id) = 0;
  // Runs queued calls and timers until Quit; returns the exit code given to Quit.
  virtual int Run() = 0;
  // Safe from any thread.
  virtual void Quit(int exitCode = 0) = 0;
  virtual bool IsMainThread() const = 0;
};

// The process-wide main thread. Set once at start-up; AddLogLine and the runs post through it.
MainThread* CurrentMainThread();
void SetCurrentMainThread(MainThread* mainThread);

std::unique_ptr<MainThread> MakeHeadlessMainThread();

// Queues `call` on the process's main thread, also when the caller is that thread, so the call never
// runs inside its caller. Where the process has no main thread (a command, a test without a loop)
// nothing else could ever run it, so it runs at once on the calling thread.
void RunOnMainThread(MainThread::Call call);

// Asks the main thread and waits for its answer. On the main thread, or where there is none, the
// question is answered at once. Otherwise it is queued there and the caller waits, looking at `giveUp`
// every `pollInterval`; nullopt when the caller gave up or the main thread dropped the question
// unanswered. An exception of the question reaches the caller.
template <typename T>
std::optional<T> AskMainThread(std::function<T()> question, std::chrono::milliseconds pollInterval,
                               const std::function<bool()>& giveUp) {
  MainThread* mainThread = CurrentMainThread();
  if (mainThread == nullptr || mainThread->IsMainThread()) return question();
  // The caller may have given up by the time the question runs, so the queued call owns what it uses.
  auto answer = std::make_shared<std::promise<T>>();
  std::future<T> future = answer->get_future();
  mainThread->Post([answer, question = std::move(question)] {
    try {
      answer->set_value(question());
    } catch (...) {
      answer->set_exception(std::current_exception());
    }
  });
  while (future.wait_for(pollInterval) != std::future_status::ready) {
    if (giveUp && giveUp()) return std::nullopt;
  }
  try {
    return future.get();
  } catch (const std::future_error&) {
    return std::nullopt;
  }
}

}  // namespace zentrove::base
