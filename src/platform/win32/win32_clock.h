// The real clock on Windows: the tick count, kernel events and threads.
#pragma once

#include "platform/clock.h"

namespace tw::win32 {

class Win32Clock : public Clock {
 public:
  std::uint64_t tickMs() override;  // GetTickCount64
  void sleepMs(std::uint32_t ms) override;
  // CreateEventW; set, reset and wait are SetEvent, ResetEvent and WaitForSingleObject.
  std::unique_ptr<ClockEvent> createEvent(EventReset reset, bool initiallySet) override;
  // CreateThread; join is WaitForSingleObject on its handle, which is closed with the object.
  std::unique_ptr<ClockThread> startThread(std::function<void()> body) override;
};

}  // namespace tw::win32
