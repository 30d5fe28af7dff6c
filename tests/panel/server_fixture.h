// Shared pieces of the local server's tests: a firmware side that says whether it is busy and notes
// the actions it is asked for, fixed random bytes, ports of its own, and a plain POSIX client that
// speaks raw bytes to a running server.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "flash/firmware_service.h"
#include "panel/server_limits.h"
#include "platform/crypto.h"

namespace tw::test {

class BusyFlagFirmware : public IdleFirmware {
 public:
  std::atomic<bool> busy{false};
  bool isFirmwareBusy() override { return busy.load(); }
  // Takes every action, noting it as "action" or "action+confirm".
  bool startFirmwareAction(const std::string& action, bool confirm, std::string&) override {
    std::lock_guard<std::mutex> lock(actionsLock_);
    actions_.push_back(action + (confirm ? "+confirm" : ""));
    return true;
  }
  std::vector<std::string> actions() {
    std::lock_guard<std::mutex> lock(actionsLock_);
    return actions_;
  }

 private:
  std::mutex actionsLock_;
  std::vector<std::string> actions_;
};

// Random bytes that are all `fill`; `works` false makes the system generator fail.
class FixedRandom : public RandomSource {
 public:
  explicit FixedRandom(std::uint8_t fill = 0xA5, bool works = true) : fill_(fill), works_(works) {}
  bool randomBytes(std::uint8_t* out, std::size_t length) override {
    if (!works_) return false;
    std::memset(out, fill_, length);
    return true;
  }
  EntropyHints entropyHints() override { return hints; }
  EntropyHints hints{0x1234, 5678, 42};

 private:
  std::uint8_t fill_;
  bool works_;
};

// The first of `count` consecutive loopback ports that nothing is bound to right now. The search
// starts away from the server's own ports, at a place that depends on the process, so that a
// test meets neither a running app nor the servers of a test run beside it.
inline std::uint16_t freePortBlock(int count) {
  const unsigned start = 42000 + (static_cast<unsigned>(getpid()) % 1000) * 16;
  for (unsigned base = start; base + count < 65000; base += count) {
    int bound = 0;
    for (int i = 0; i < count; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<std::uint16_t>(base + i));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      close(fd);
      if (!free) break;
      ++bound;
    }
    if (bound == count) return static_cast<std::uint16_t>(base);
  }
  return 0;
}

// Settings whose ports nobody else uses (see freePortBlock), with the given waits.
inline HttpServerSettings privatePorts(HttpServerSettings settings = {}) {
  const std::uint16_t first = freePortBlock(4);
  settings.firstPort = first;
  settings.lastPort = static_cast<std::uint16_t>(first + 3);
  return settings;
}

// Connects to `port` on `address` (127.0.0.1 unless given); -1 when refused.
inline int connectLoopback(std::uint32_t port, std::uint32_t address4 = INADDR_LOOPBACK) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(address4);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline bool sendText(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads until the server closes or `waitMs` passes without data; `closed` tells which.
inline std::string readAll(int fd, int waitMs, bool* closed = nullptr) {
  std::string got;
  char chunk[8192];
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, waitMs) <= 0) {
      if (closed) *closed = false;
      return got;
    }
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
      if (closed) *closed = true;
      return got;
    }
    got.append(chunk, static_cast<std::size_t>(n));
  }
}

// What one receive brings within `waitMs`: "" when nothing came or the stream ended.
inline std::string readSome(int fd, int waitMs) {
  pollfd entry{fd, POLLIN, 0};
  if (poll(&entry, 1, waitMs) <= 0) return "";
  char chunk[8192];
  ssize_t n = recv(fd, chunk, sizeof chunk, 0);
  return n > 0 ? std::string(chunk, static_cast<std::size_t>(n)) : "";
}

// One whole exchange: connect, send `request`, read the answer to the close.
inline std::string roundTrip(std::uint32_t port, const std::string& request, int waitMs = 5000) {
  int fd = connectLoopback(port);
  if (fd < 0) return "";
  sendText(fd, request);
  std::string answer = readAll(fd, waitMs);
  close(fd);
  return answer;
}

inline std::string statusLine(const std::string& answer) {
  return answer.substr(0, answer.find("\r\n"));
}

inline std::string bodyOf(const std::string& answer) {
  std::size_t at = answer.find("\r\n\r\n");
  return at == std::string::npos ? "" : answer.substr(at + 4);
}

}  // namespace tw::test
