#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "platform/result.h"

namespace zentrove::platform {

// Asked while a socket operation waits; true ends the wait with a failure of code ECANCELED. It is
// polled at least every 100 ms.
using CancelCheck = std::function<bool()>;

struct SocketAddress {
  std::string host;  // numeric: "127.0.0.1" or "::1"
  int port = 0;
  bool ipv6 = false;
};

// A TCP socket in non-blocking mode; every wait has a time-out and honours the cancel check. Closed
// when destroyed.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket();
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // For a TLS layer that reads and writes the descriptor itself.
  int Descriptor() const { return fd_; }
  void Close();

  // Waits until the socket can be read (or written); a time-out fails with ETIMEDOUT.
  Status WaitReadable(std::chrono::milliseconds timeout, const CancelCheck& cancel) const;
  Status WaitWritable(std::chrono::milliseconds timeout, const CancelCheck& cancel) const;

  // Reads what is there, at most `size` bytes, waiting up to `timeout` for the first byte; 0 when
  // the peer closed the connection.
  Result<std::size_t> ReadSome(void* buffer, std::size_t size, std::chrono::milliseconds timeout,
                               const CancelCheck& cancel);
  // Writes everything; `timeout` is the longest time without any progress.
  Status WriteAll(const void* data, std::size_t size, std::chrono::milliseconds timeout,
                  const CancelCheck& cancel);
  // Ends the sending direction, so the peer reads the end of the data.
  void ShutdownWrite();

  Result<SocketAddress> PeerAddress() const;
  Result<SocketAddress> LocalAddress() const;

 private:
  int fd_ = -1;
};

// Connects to a host name or numeric address (IPv4 or IPv6), trying each address the name has until
// one answers; `timeout` holds for each address.
Result<Socket> ConnectTcp(const std::string& host, int port, std::chrono::milliseconds timeout,
                          const CancelCheck& cancel);
// Listens on a numeric local address; port 0 lets the system choose (see LocalAddress).
Result<Socket> ListenTcp(const std::string& address, int port);
// Waits for one connection on a listening socket.
Result<Socket> AcceptTcp(const Socket& listener, std::chrono::milliseconds timeout,
                         const CancelCheck& cancel);

}  // namespace zentrove::platform
