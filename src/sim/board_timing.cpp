#include "sim/board_timing.h"

#include <limits>

namespace tw::sim {

void CostMeter::charge(std::uint64_t us) {
  std::uint64_t ms;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    owedUs_ += us;
    ms = owedUs_ / 1000;
    owedUs_ %= 1000;
  }
  // A cost beyond what one sleep can hold is paid in the largest finite pieces.
  constexpr std::uint64_t kLongest = std::numeric_limits<std::uint32_t>::max() - 1;
  while (ms > 0) {
    std::uint64_t piece = ms < kLongest ? ms : kLongest;
    clock_.sleepMs(static_cast<std::uint32_t>(piece));
    ms -= piece;
  }
}

}  // namespace tw::sim
