#include "platform/host/posix_sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <new>

namespace tw {
namespace {

bool setTimeout(int fd, int option, std::uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

class PosixConnection : public SocketConnection {
 public:
  explicit PosixConnection(int fd) : fd_(fd) {}
  ~PosixConnection() override { close(fd_); }

  long receive(char* buffer, std::size_t capacity) override {
    ssize_t n;
    do {
      n = recv(fd_, buffer, capacity, 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
  }
  long send(const char* data, std::size_t length) override {
    ssize_t n;
    do {
      // MSG_NOSIGNAL: a peer that went away must fail the send, not kill the process.
      n = ::send(fd_, data, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
  }
  void shutdownSend() override { shutdown(fd_, SHUT_WR); }
  void shutdownBoth() override { shutdown(fd_, SHUT_RDWR); }
  bool setNoDelay(bool on) override {
    int value = on ? 1 : 0;
    return setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
  }
  bool setSendTimeout(std::uint32_t ms) override { return setTimeout(fd_, SO_SNDTIMEO, ms); }
  bool setReceiveTimeout(std::uint32_t ms) override { return setTimeout(fd_, SO_RCVTIMEO, ms); }

 private:
  int fd_;
};

class PosixListener : public ListeningSocket {
 public:
  explicit PosixListener(int fd) : fd_(fd) {}
  ~PosixListener() override { close(fd_); }

  bool bindLoopback(std::uint16_t port) override {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  bool listen(int backlog) override { return ::listen(fd_, backlog) == 0; }
  AcceptOutcome accept(std::uint32_t waitMs,
                       std::unique_ptr<SocketConnection>& connection) override {
    pollfd entry{fd_, POLLIN, 0};
    int ready = poll(&entry, 1, static_cast<int>(waitMs));
    if (ready == 0 || (ready < 0 && errno == EINTR)) return AcceptOutcome::TimedOut;
    if (ready < 0) return AcceptOutcome::Failed;
    int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return AcceptOutcome::Failed;
    auto* made = new (std::nothrow) PosixConnection(client);
    if (made == nullptr) {
      close(client);
      return AcceptOutcome::Failed;
    }
    connection.reset(made);
    return AcceptOutcome::Accepted;
  }

 private:
  int fd_;
};

}  // namespace

bool PosixSockets::startup() {
  return true;
}

std::unique_ptr<ListeningSocket> PosixSockets::createListener() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  // The server closes its side first, so its finished connections linger in TIME_WAIT; without
  // this a restarted server could not bind its own port for a minute. On Linux it never lets a
  // second socket bind a port that is being listened on.
  int reuse = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  auto* made = new (std::nothrow) PosixListener(fd);
  if (made == nullptr) close(fd);
  return std::unique_ptr<ListeningSocket>(made);
}

}  // namespace tw
