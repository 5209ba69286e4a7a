#include "platform/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/environment.h"

namespace zentrove::platform {
namespace {

constexpr std::string_view kShowRequest = "show\n";
constexpr std::string_view kAcknowledgement = "ok\n";
constexpr int kConversationMs = 1000;

Result<std::string> FolderOrRuntime(const std::string& folder) {
  if (folder.empty()) return RuntimeFolder();
  return folder.back() == '/' ? folder : folder + "/";
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// Reads until `expected` arrived, the peer closed or the time ran out.
bool Receive(int fd, std::string_view expected) {
  std::string received;
  while (received.size() < expected.size()) {
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, kConversationMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[16];
    const ssize_t n = recv(fd, buffer, std::min(sizeof buffer, expected.size() - received.size()), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return received == expected;
}

bool Send(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

struct InstanceLock::State {
  int lockFd = -1;
  int listenFd = -1;
  int wakeFd = -1;
  std::string socketPath;
  ShowRequest onShow;
  std::thread listener;

  void Listen() {
    for (;;) {
      pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      const int client = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      // Only copies run by the same user may wake this one.
      ucred peer{};
      socklen_t length = sizeof peer;
      const bool sameUser =
          getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == getuid();
      if (sameUser && Receive(client, kShowRequest)) {
        // The callback runs before the answer, so the asking copy ends only once the request is in.
        if (onShow) onShow();
        Send(client, kAcknowledgement);
      }
      close(client);
    }
  }

  void Close() {
    if (listener.joinable()) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const auto ignored = write(wakeFd, &one, sizeof one);
      listener.join();
    }
    if (listenFd >= 0) {
      close(listenFd);
      listenFd = -1;
      // The socket file is ours while the lock is held; it goes before the lock is released.
      unlink(socketPath.c_str());
    }
    if (wakeFd >= 0) close(wakeFd);
    wakeFd = -1;
    if (lockFd >= 0) close(lockFd);
    lockFd = -1;
  }
};

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() {
  Release();
}

void InstanceLock::Release() {
  if (state_) state_->Close();
  state_.reset();
}

bool InstanceLock::Held() const {
  return state_ != nullptr;
}

Result<InstanceLock::Outcome> InstanceLock::TryAcquire(const std::string& sessionName, ShowRequest onShow,
                                                       const std::string& folder) {
  Release();
  const auto base = FolderOrRuntime(folder);
  if (!base) return base.GetStatus();
  const std::string stem = *base + "Zentrove-" + sessionName;
  auto state = std::make_unique<State>();
  state->onShow = std::move(onShow);
  state->socketPath = stem + ".sock";

  const std::string lockPath = stem + ".lock";
  // Close-on-exec everywhere: a program started by a run must not inherit the lock, or it would keep
  // a later copy from starting after this one ended.
  state->lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (state->lockFd < 0) return Status::FromErrno(errno, lockPath);
  if (flock(state->lockFd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    state->Close();
    if (error == EWOULDBLOCK) return Outcome::AnotherCopyRuns;
    return Status::FromErrno(error, lockPath);
  }

  sockaddr_un address{};
  if (!FillAddress(state->socketPath, address)) {
    state->Close();
    return Status::Failure(ENAMETOOLONG, state->socketPath + ": the socket path is too long");
  }
  // Whoever holds the lock owns the socket name, so a file left there was left by a crashed copy.
  unlink(state->socketPath.c_str());
  state->listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (state->listenFd < 0) {
    const int error = errno;
    state->Close();
    return Status::FromErrno(error, "socket");
  }
  if (bind(state->listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(state->listenFd, 8) != 0) {
    const int error = errno;
    close(state->listenFd);
    state->listenFd = -1;
    state->Close();
    return Status::FromErrno(error, state->socketPath);
  }
  state->wakeFd = eventfd(0, EFD_CLOEXEC);
  if (state->wakeFd < 0) {
    const int error = errno;
    state->Close();
    return Status::FromErrno(error, "eventfd");
  }
  State* raw = state.get();
  state->listener = std::thread([raw] { raw->Listen(); });
  state_ = std::move(state);
  return Outcome::FirstCopy;
}

Status AskRunningCopyToShow(const std::string& sessionName, const std::string& folder) {
  const auto base = FolderOrRuntime(folder);
  if (!base) return base.GetStatus();
  const std::string socketPath = *base + "Zentrove-" + sessionName + ".sock";
  sockaddr_un address{};
  if (!FillAddress(socketPath, address)) {
    return Status::Failure(ENAMETOOLONG, socketPath + ": the socket path is too long");
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Status::FromErrno(errno, "socket");
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    return Status::FromErrno(error, socketPath);
  }
  const bool answered = Send(fd, kShowRequest) && Receive(fd, kAcknowledgement);
  close(fd);
  if (!answered) return Status::Failure(ETIMEDOUT, socketPath + ": the running copy did not answer");
  return Status::Success();
}

}  // namespace zentrove::platform
