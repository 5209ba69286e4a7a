#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

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

}  // namespace zentrove::base
