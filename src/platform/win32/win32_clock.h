// The real clock on Windows.
#pragma once

#include "platform/clock.h"

namespace tw::win32 {

class Win32Clock : public Clock {
 public:
  std::uint64_t tickMs() override;  // GetTickCount64
  void sleepMs(std::uint32_t ms) override;
};

}  // namespace tw::win32
