#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zentrove::platform {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kCancelPoll{100};

Status Cancelled() {
  return Status::Failure(ECANCELED, "The operation was cancelled");
}

// Waits for `events` in slices of at most 100 ms so that a cancel request is seen in time.
Status WaitFor(int fd, short events, milliseconds timeout, const CancelCheck& cancel) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    if (cancel && cancel()) return Cancelled();
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return Status::Failure(ETIMEDOUT, "Connection timed out");
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(std::min(left, kCancelPoll).count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(errno, "poll");
    }
    if (ready > 0) return Status::Success();
  }
}

Result<SocketAddress> AddressOf(const sockaddr_storage& storage) {
  char text[INET6_ADDRSTRLEN] = {};
  SocketAddress address;
  if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    address.port = ntohs(in6->sin6_port);
    address.ipv6 = true;
  } else if (storage.ss_family == AF_INET) {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(&storage);
    inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text);
    address.port = ntohs(in4->sin_port);
  } else {
    return Status::Failure(EAFNOSUPPORT, "Unknown address family");
  }
  address.host = text;
  return address;
}

int NewSocket(int family) {
  const int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  return fd;
}

Status ConnectOne(const addrinfo& info, milliseconds timeout, const CancelCheck& cancel, Socket& out) {
  Socket candidate(NewSocket(info.ai_family));
  if (!candidate.IsOpen()) return Status::FromErrno(errno, "socket");
  if (connect(candidate.Descriptor(), info.ai_addr, info.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) return Status::FromErrno(errno, "connect");
    if (Status waited = candidate.WaitWritable(timeout, cancel); !waited) return waited;
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(candidate.Descriptor(), SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) return Status::FromErrno(error, "connect");
  }
  out = std::move(candidate);
  return Status::Success();
}

}  // namespace

Socket::~Socket() {
  Close();
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void Socket::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

Status Socket::WaitReadable(milliseconds timeout, const CancelCheck& cancel) const {
  return WaitFor(fd_, POLLIN, timeout, cancel);
}

Status Socket::WaitWritable(milliseconds timeout, const CancelCheck& cancel) const {
  return WaitFor(fd_, POLLOUT, timeout, cancel);
}

Result<std::size_t> Socket::ReadSome(void* buffer, std::size_t size, milliseconds timeout,
                                     const CancelCheck& cancel) {
  if (fd_ < 0) return Status::Failure(ENOTCONN, "Not connected");
  for (;;) {
    const ssize_t got = recv(fd_, buffer, size, 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Status::FromErrno(errno, "recv");
    if (Status waited = WaitReadable(timeout, cancel); !waited) return waited;
  }
}

Status Socket::WriteAll(const void* data, std::size_t size, milliseconds timeout, const CancelCheck& cancel) {
  if (fd_ < 0) return Status::Failure(ENOTCONN, "Not connected");
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t sent = send(fd_, bytes, size, MSG_NOSIGNAL);
    if (sent >= 0) {
      bytes += sent;
      size -= static_cast<std::size_t>(sent);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Status::FromErrno(errno, "send");
    if (Status waited = WaitWritable(timeout, cancel); !waited) return waited;
  }
  return Status::Success();
}

void Socket::ShutdownWrite() {
  if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

Result<SocketAddress> Socket::PeerAddress() const {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (getpeername(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    return Status::FromErrno(errno, "getpeername");
  }
  return AddressOf(storage);
}

Result<SocketAddress> Socket::LocalAddress() const {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    return Status::FromErrno(errno, "getsockname");
  }
  return AddressOf(storage);
}

Result<Socket> ConnectTcp(const std::string& host, int port, milliseconds timeout,
                          const CancelCheck& cancel) {
  if (port <= 0 || port > 65535) return Status::Failure(EINVAL, "Invalid port " + std::to_string(port));
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int looked = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (looked != 0) return Status::Failure(EHOSTUNREACH, host + ": " + gai_strerror(looked));
  Status last = Status::Failure(EHOSTUNREACH, host + ": no address");
  Socket connected;
  for (const addrinfo* info = found; info != nullptr; info = info->ai_next) {
    last = ConnectOne(*info, timeout, cancel, connected);
    if (last || last.Code() == ECANCELED) break;
  }
  freeaddrinfo(found);
  if (!last) return Status::Failure(last.Code(), host + ":" + service + ": " + last.Message());
  return connected;
}

Result<Socket> ListenTcp(const std::string& address, int port) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_INET;
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
  auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
  if (inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) == 1) {
    family = AF_INET6;
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof(sockaddr_in6);
  } else if (inet_pton(AF_INET, address.c_str(), &in4->sin_addr) == 1) {
    in4->sin_family = AF_INET;
    in4->sin_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof(sockaddr_in);
  } else {
    return Status::Failure(EINVAL, "Not a numeric address: " + address);
  }
  Socket listener(NewSocket(family));
  if (!listener.IsOpen()) return Status::FromErrno(errno, "socket");
  if (bind(listener.Descriptor(), reinterpret_cast<sockaddr*>(&storage), length) != 0) {
    return Status::FromErrno(errno, "bind " + address);
  }
  if (listen(listener.Descriptor(), 1) != 0) return Status::FromErrno(errno, "listen");
  return listener;
}

Result<Socket> AcceptTcp(const Socket& listener, milliseconds timeout, const CancelCheck& cancel) {
  for (;;) {
    const int fd = accept4(listener.Descriptor(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      const int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return Socket(fd);
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Status::FromErrno(errno, "accept");
    if (Status waited = listener.WaitReadable(timeout, cancel); !waited) return waited;
  }
}

}  // namespace zentrove::platform
