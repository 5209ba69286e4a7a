#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>

#include "base/main_thread.h"

namespace zentrove::testing {

// A main thread that runs only when the test says so: posted calls wait for RunPending, timers fire
// when the test moves their time on. Post is safe from any thread.
class FakeMainThread final : public base::MainThread {
 public:
  void Post(Call call) override {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(call));
  }

  TimerId StartTimer(std::chrono::milliseconds interval, Call onTick) override {
    const TimerId id = ++lastTimer_;
    timers_[id] = Timer{interval, elapsed_ + interval, std::move(onTick)};
    return id;
  }

  void StopTimer(TimerId id) override { timers_.erase(id); }

  int Run() override {
    RunPending();
    return exitCode_;
  }

  void Quit(int exitCode) override {
    quit_ = true;
    exitCode_ = exitCode;
  }

  bool IsMainThread() const override { return true; }

  // Runs the queued calls, also those queued meanwhile; the number run.
  int RunPending() {
    int count = 0;
    for (;;) {
      Call call;
      {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) return count;
        call = std::move(queue_.front());
        queue_.pop_front();
      }
      call();
      ++count;
    }
  }

  std::size_t PendingCount() {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }

  // Moves the timers' time on, firing every tick that falls due in order.
  void AdvanceTimers(std::chrono::milliseconds duration) {
    const auto end = elapsed_ + duration;
    for (;;) {
      auto due = timers_.end();
      for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.next <= end && (due == timers_.end() || it->second.next < due->second.next)) due = it;
      }
      if (due == timers_.end()) break;
      elapsed_ = due->second.next;
      due->second.next += due->second.interval;
      Call tick = due->second.onTick;
      tick();
    }
    elapsed_ = end;
  }

  std::size_t TimerCount() const { return timers_.size(); }
  bool QuitRequested() const { return quit_; }
  int ExitCode() const { return exitCode_; }

 private:
  struct Timer {
    std::chrono::milliseconds interval;
    std::chrono::milliseconds next;
    Call onTick;
  };

  std::mutex mutex_;
  std::deque<Call> queue_;
  std::map<TimerId, Timer> timers_;
  TimerId lastTimer_ = 0;
  std::chrono::milliseconds elapsed_{0};
  bool quit_ = false;
  int exitCode_ = 0;
};

}  // namespace zentrove::testing
