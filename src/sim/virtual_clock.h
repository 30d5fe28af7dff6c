// Virtual time for tests: sleeping advances the tick at once, so a ten-minute wait is instant and
// every run sees the same times.
#pragma once

#include <atomic>

#include "platform/clock.h"

namespace tw::sim {

class VirtualClock : public Clock {
 public:
  explicit VirtualClock(std::uint64_t startMs = 1'000'000) : nowMs_(startMs) {}
  std::uint64_t tickMs() override { return nowMs_.load(); }
  void sleepMs(std::uint32_t ms) override { nowMs_ += ms; }
  void advance(std::uint64_t ms) { nowMs_ += ms; }

 private:
  std::atomic<std::uint64_t> nowMs_;
};

}  // namespace tw::sim
