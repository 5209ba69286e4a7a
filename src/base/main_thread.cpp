#include "base/main_thread.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace zentrove::base {
namespace {

std::atomic<MainThread*> g_mainThread{nullptr};

class HeadlessMainThread final : public MainThread {
 public:
  HeadlessMainThread() : owner_(std::this_thread::get_id()) {}

  void Post(Call call) override {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(call));
    }
    wake_.notify_one();
  }

  TimerId StartTimer(std::chrono::milliseconds interval, Call onTick) override {
    std::lock_guard lock(mutex_);
    const TimerId id = ++lastTimer_;
    timers_[id] = Timer{interval, Clock::now() + interval, std::move(onTick)};
    wake_.notify_one();
    return id;
  }

  void StopTimer(TimerId id) override {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
  }

  int Run() override {
    owner_ = std::this_thread::get_id();
    std::unique_lock lock(mutex_);
    quit_ = false;
    while (!quit_) {
      if (!queue_.empty()) {
        Call call = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        call();
        lock.lock();
        continue;
      }
      const auto now = Clock::now();
      auto due = timers_.end();
      for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (due == timers_.end() || it->second.next < due->second.next) due = it;
      }
      if (due != timers_.end() && due->second.next <= now) {
        due->second.next = now + due->second.interval;
        Call tick = due->second.onTick;
        lock.unlock();
        tick();
        lock.lock();
        continue;
      }
      if (due == timers_.end()) {
        wake_.wait(lock);
      } else {
        wake_.wait_until(lock, due->second.next);
      }
    }
    return exitCode_;
  }

  void Quit(int exitCode) override {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
      exitCode_ = exitCode;
    }
    wake_.notify_one();
  }

  bool IsMainThread() const override { return std::this_thread::get_id() == owner_; }

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    std::chrono::milliseconds interval;
    Clock::time_point next;
    Call onTick;
  };

  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Call> queue_;
  std::map<TimerId, Timer> timers_;
  TimerId lastTimer_ = 0;
  bool quit_ = false;
  int exitCode_ = 0;
};

}  // namespace

MainThread* CurrentMainThread() {
  return g_mainThread.load();
}
void SetCurrentMainThread(MainThread* mainThread) {
  g_mainThread.store(mainThread);
}

void RunOnMainThread(MainThread::Call call) {
  if (MainThread* mainThread = CurrentMainThread()) {
    mainThread->Post(std::move(call));
  } else {
    call();
  }
}

std::unique_ptr<MainThread> MakeHeadlessMainThread() {
  return std::make_unique<HeadlessMainThread>();
}

}  // namespace zentrove::base
