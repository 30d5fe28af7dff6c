// The real clock on Linux.
#pragma once

#include "platform/clock.h"

namespace tw {

class SteadyClock : public Clock {
 public:
  std::uint64_t tickMs() override;
  void sleepMs(std::uint32_t ms) override;
};

}  // namespace tw
