// A connection without a socket: serves prepared bytes to the reader in chunks and keeps what is
// sent, so a request handler can be driven by tests and fuzzers in memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sockets.h"

namespace tw::sim {

class MemoryConnection : public SocketConnection {
 public:
  MemoryConnection() = default;
  explicit MemoryConnection(std::string request) { chunks_.push_back(std::move(request)); }

  // Each chunk arrives by one receive call (cut to the reader's free space); after the last one
  // the peer closes, or the receive times out when `timeOutAtEnd` is set.
  void addChunk(std::string chunk) { chunks_.push_back(std::move(chunk)); }
  bool timeOutAtEnd = false;
  // Sends fail once this many bytes have been taken (a peer that went away).
  std::size_t sendBudget = SIZE_MAX;

  long receive(char* buffer, std::size_t capacity) override {
    ++receiveCalls;
    if (next_ >= chunks_.size()) return timeOutAtEnd ? -1 : 0;
    std::string& chunk = chunks_[next_];
    std::size_t n = std::min(capacity, chunk.size() - offset_);
    std::copy(chunk.data() + offset_, chunk.data() + offset_ + n, buffer);
    offset_ += n;
    if (offset_ == chunk.size()) {
      ++next_;
      offset_ = 0;
    }
    return static_cast<long>(n);
  }
  long send(const char* data, std::size_t length) override {
    if (sendBudget == 0) return -1;
    std::size_t n = std::min(length, sendBudget);
    sendBudget -= n;
    sent.append(data, n);
    return static_cast<long>(n);
  }
  void shutdownSend() override { shutDown = true; }
  void shutdownBoth() override { shutDown = true; }
  bool setNoDelay(bool on) override {
    noDelay = on;
    return true;
  }
  bool setSendTimeout(std::uint32_t ms) override {
    sendTimeoutMs = ms;
    return true;
  }
  bool setReceiveTimeout(std::uint32_t ms) override {
    receiveTimeoutMs = ms;
    return true;
  }

  std::string sent;
  bool shutDown = false;
  bool noDelay = false;
  std::uint32_t sendTimeoutMs = 0;
  std::uint32_t receiveTimeoutMs = 0;
  int receiveCalls = 0;

 private:
  std::vector<std::string> chunks_;
  std::size_t next_ = 0;
  std::size_t offset_ = 0;
};

}  // namespace tw::sim
