// Time as a port: the millisecond tick and sleeping. Tests substitute virtual time.
#pragma once

#include <cstdint>

namespace tw {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; never goes backwards.
  virtual std::uint64_t tickMs() = 0;
  virtual void sleepMs(std::uint32_t ms) = 0;
};

// True when strictly more than `intervalMs` has elapsed since `sinceMs`.
inline bool intervalPassed(std::uint64_t nowMs, std::uint64_t sinceMs, std::uint64_t intervalMs) {
  return nowMs - sinceMs > intervalMs;
}

}  // namespace tw
