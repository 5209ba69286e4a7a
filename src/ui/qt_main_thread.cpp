#include "ui/qt_main_thread.h"

#include <QCoreApplication>
#include <QThread>

namespace zentrove::ui {

QtMainThread::QtMainThread() = default;

QtMainThread::~QtMainThread() {
  for (auto& [id, timer] : timers_)
    delete timer;
}

void QtMainThread::Post(Call call) {
  // Runs on the thread that owns the context object, the application's main thread.
  QMetaObject::invokeMethod(&context_, std::move(call), Qt::QueuedConnection);
}

base::MainThread::TimerId QtMainThread::StartTimer(std::chrono::milliseconds interval, Call onTick) {
  const TimerId id = ++lastTimer_;
  auto* timer = new QTimer(&context_);
  timer->setInterval(interval);
  QObject::connect(timer, &QTimer::timeout, &context_, [onTick = std::move(onTick)] { onTick(); });
  timers_[id] = timer;
  timer->start();
  return id;
}

void QtMainThread::StopTimer(TimerId id) {
  const auto found = timers_.find(id);
  if (found == timers_.end()) return;
  // A tick may stop its own timer, so the timer is released once its signal has returned.
  found->second->stop();
  found->second->deleteLater();
  timers_.erase(found);
}

int QtMainThread::Run() {
  return QCoreApplication::exec();
}

void QtMainThread::Quit(int exitCode) {
  // Queued, so a quit asked for before the loop runs still ends it.
  QMetaObject::invokeMethod(
      &context_, [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
}

bool QtMainThread::IsMainThread() const {
  return QThread::currentThread() == context_.thread();
}

}  // namespace zentrove::ui
