#include "platform/win32/winsock_sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <climits>
#include <new>

namespace tw {
namespace {

int clampLength(std::size_t length) {
  return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

class WinsockConnection : public SocketConnection {
 public:
  explicit WinsockConnection(SOCKET s) : s_(s) {}
  ~WinsockConnection() override { closesocket(s_); }

  long receive(char* buffer, std::size_t capacity) override {
    int n = recv(s_, buffer, clampLength(capacity), 0);
    return n == SOCKET_ERROR ? -1 : n;
  }
  long send(const char* data, std::size_t length) override {
    int n = ::send(s_, data, clampLength(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
  }
  void shutdownSend() override { shutdown(s_, SD_SEND); }
  void shutdownBoth() override {
    shutdown(s_, SD_BOTH);
    // A receive blocked on another thread does not return on shutdown alone; cancelling the
    // socket's pending I/O ends it.
    CancelIoEx(reinterpret_cast<HANDLE>(s_), nullptr);
  }
  bool setNoDelay(bool on) override {
    BOOL value = on ? TRUE : FALSE;
    return setsockopt(s_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
  }
  bool setSendTimeout(std::uint32_t ms) override {
    DWORD value = ms;
    return setsockopt(s_, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
  }
  bool setReceiveTimeout(std::uint32_t ms) override {
    DWORD value = ms;
    return setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
  }

 private:
  SOCKET s_;
};

class WinsockListener : public ListeningSocket {
 public:
  explicit WinsockListener(SOCKET s) : s_(s) {}
  ~WinsockListener() override { closesocket(s_); }

  bool bindLoopback(std::uint16_t port) override {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return bind(s_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  bool listen(int backlog) override { return ::listen(s_, backlog) == 0; }
  AcceptOutcome accept(std::uint32_t waitMs,
                       std::unique_ptr<SocketConnection>& connection) override {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s_, &readable);
    timeval wait{};
    wait.tv_sec = static_cast<long>(waitMs / 1000);
    wait.tv_usec = static_cast<long>((waitMs % 1000) * 1000);
    int ready = select(0, &readable, nullptr, nullptr, &wait);
    if (ready == 0) return AcceptOutcome::TimedOut;
    if (ready == SOCKET_ERROR) return AcceptOutcome::Failed;
    SOCKET client = ::accept(s_, nullptr, nullptr);
    if (client == INVALID_SOCKET) return AcceptOutcome::Failed;
    auto* made = new (std::nothrow) WinsockConnection(client);
    if (made == nullptr) {
      closesocket(client);
      return AcceptOutcome::Failed;
    }
    connection.reset(made);
    return AcceptOutcome::Accepted;
  }

 private:
  SOCKET s_;
};

}  // namespace

bool WinsockSockets::startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

std::unique_ptr<ListeningSocket> WinsockSockets::createListener() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return nullptr;
  // Without exclusive use, another local program could bind the same address with SO_REUSEADDR
  // and receive the connections meant for the panel (and with them the page and its key).
  BOOL exclusive = TRUE;
  if (setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive) != 0) {
    closesocket(s);
    return nullptr;
  }
  auto* made = new (std::nothrow) WinsockListener(s);
  if (made == nullptr) closesocket(s);
  return std::unique_ptr<ListeningSocket>(made);
}

}  // namespace tw
