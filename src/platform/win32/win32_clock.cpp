#include "platform/win32/win32_clock.h"

#include <windows.h>

namespace tw::win32 {

std::uint64_t Win32Clock::tickMs() {
  return GetTickCount64();
}

void Win32Clock::sleepMs(std::uint32_t ms) {
  Sleep(ms);
}

}  // namespace tw::win32
