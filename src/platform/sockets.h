// TCP on the loopback interface: the listening socket of the local HTTP server and its
// connections. Windows: Winsock 2. Linux: POSIX sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tw {

// One accepted TCP stream. Closing happens when the object is destroyed.
class SocketConnection {
 public:
  virtual ~SocketConnection() = default;
  // Receives at most `capacity` bytes. Returns the count (> 0), 0 when the peer closed its side,
  // -1 on an error or when the receive time-out expired.
  virtual long receive(char* buffer, std::size_t capacity) = 0;
  // One send call; returns the number of bytes taken (> 0), or 0 or -1 when the send failed or
  // the send time-out expired.
  virtual long send(const char* data, std::size_t length) = 0;
  // Shuts the socket down for sending; what was sent is still delivered.
  virtual void shutdownSend() = 0;
  // Shuts both directions down, so that a receive or send blocked on another thread returns.
  virtual void shutdownBoth() = 0;
  virtual bool setNoDelay(bool on) = 0;
  virtual bool setSendTimeout(std::uint32_t ms) = 0;
  virtual bool setReceiveTimeout(std::uint32_t ms) = 0;
};

enum class AcceptOutcome { Accepted, TimedOut, Failed };

// An IPv4 TCP stream socket meant for listening on 127.0.0.1. Destroying it closes it.
class ListeningSocket {
 public:
  virtual ~ListeningSocket() = default;
  // Binds to 127.0.0.1:`port`. A failed bind leaves the socket unbound, so another port may be
  // tried on the same socket. On Windows the socket is made exclusive first.
  virtual bool bindLoopback(std::uint16_t port) = 0;
  virtual bool listen(int backlog) = 0;
  // Waits at most `waitMs` for a connection and accepts it. `connection` is set only when the
  // outcome is Accepted.
  virtual AcceptOutcome accept(std::uint32_t waitMs,
                               std::unique_ptr<SocketConnection>& connection) = 0;
};

class SocketPort {
 public:
  virtual ~SocketPort() = default;
  // Starts the socket library (Winsock 2.2). True when sockets can be used.
  virtual bool startup() = 0;
  // A new IPv4 TCP stream socket; nullptr when it cannot be created.
  virtual std::unique_ptr<ListeningSocket> createListener() = 0;
};

}  // namespace tw
