#include "platform/signals.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

namespace zentrove::platform {
namespace {

sigset_t SessionEndSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGINT);
  return set;
}

class SignalFdWatch final : public SessionEndWatch {
 public:
  SignalFdWatch(int signalFd, int wakeFd, Call onTerminate, Call onHangUp)
      : signalFd_(signalFd),
        wakeFd_(wakeFd),
        onTerminate_(std::move(onTerminate)),
        onHangUp_(std::move(onHangUp)) {
    thread_ = std::thread([this] { Run(); });
  }

  ~SignalFdWatch() override {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = write(wakeFd_, &one, sizeof one);
    thread_.join();
    close(signalFd_);
    close(wakeFd_);
  }

 private:
  void Run() {
    for (;;) {
      pollfd fds[2] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      signalfd_siginfo info{};
      if (read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
      if (info.ssi_signo == SIGHUP) {
        if (onHangUp_) onHangUp_();
      } else if (onTerminate_) {
        onTerminate_();
      }
    }
  }

  int signalFd_;
  int wakeFd_;
  Call onTerminate_;
  Call onHangUp_;
  std::thread thread_;
};

}  // namespace

void BlockSessionEndSignals() {
  const sigset_t set = SessionEndSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

Result<std::unique_ptr<SessionEndWatch>> WatchSessionEnd(SessionEndWatch::Call onTerminate,
                                                         SessionEndWatch::Call onHangUp) {
  BlockSessionEndSignals();
  const sigset_t set = SessionEndSignals();
  const int signalFd = signalfd(-1, &set, SFD_CLOEXEC);
  if (signalFd < 0) return Status::FromErrno(errno, "signalfd");
  const int wakeFd = eventfd(0, EFD_CLOEXEC);
  if (wakeFd < 0) {
    const int error = errno;
    close(signalFd);
    return Status::FromErrno(error, "eventfd");
  }
  return std::unique_ptr<SessionEndWatch>(
      std::make_unique<SignalFdWatch>(signalFd, wakeFd, std::move(onTerminate), std::move(onHangUp)));
}

}  // namespace zentrove::platform
