// The real clock on Linux: the steady clock, condition-variable events and standard threads.
#pragma once

#include "platform/clock.h"

namespace tw {

class SteadyClock : public Clock {
 public:
  std::uint64_t tickMs() override;
  void sleepMs(std::uint32_t ms) override;
  std::unique_ptr<ClockEvent> createEvent(EventReset reset, bool initiallySet) override;
  std::unique_ptr<ClockThread> startThread(std::function<void()> body) override;
};

}  // namespace tw
