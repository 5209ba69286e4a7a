#pragma once

#include <QObject>
#include <QTimer>
#include <map>

#include "base/main_thread.h"

namespace zentrove::ui {

// The main thread of the desktop program: posted calls become queued calls on the application's
// event loop, repeating timers are QTimers, and Run and Quit drive QApplication's loop.
class QtMainThread final : public base::MainThread {
 public:
  QtMainThread();
  ~QtMainThread() override;

  void Post(Call call) override;
  TimerId StartTimer(std::chrono::milliseconds interval, Call onTick) override;
  void StopTimer(TimerId id) override;
  int Run() override;
  void Quit(int exitCode = 0) override;
  bool IsMainThread() const override;

 private:
  QObject context_;
  std::map<TimerId, QTimer*> timers_;
  TimerId lastTimer_ = 0;
};

}  // namespace zentrove::ui
