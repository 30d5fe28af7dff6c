#include "platform/win32/win32_clock.h"

#include <windows.h>

#include <new>

#include "platform/win32/scoped_win.h"

namespace tw::win32 {
namespace {

class Win32Event : public ClockEvent {
 public:
  explicit Win32Event(HANDLE event) : event_(event) {}
  void set() override { SetEvent(event_.get()); }
  void reset() override { ResetEvent(event_.get()); }
  bool wait(std::uint32_t timeoutMs) override {
    return WaitForSingleObject(event_.get(), timeoutMs) == WAIT_OBJECT_0;
  }

 private:
  ScopedHandle event_;
};

class Win32Thread : public ClockThread {
 public:
  explicit Win32Thread(HANDLE thread) : thread_(thread) {}
  bool join(std::uint32_t timeoutMs) override {
    return WaitForSingleObject(thread_.get(), timeoutMs) == WAIT_OBJECT_0;
  }

 private:
  ScopedHandle thread_;
};

DWORD WINAPI runBody(LPVOID parameter) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
  (*body)();
  return 0;
}

}  // namespace

std::uint64_t Win32Clock::tickMs() {
  return GetTickCount64();
}

void Win32Clock::sleepMs(std::uint32_t ms) {
  Sleep(ms);
}

std::unique_ptr<ClockEvent> Win32Clock::createEvent(EventReset reset, bool initiallySet) {
  HANDLE event = CreateEventW(nullptr, reset == EventReset::Manual ? TRUE : FALSE,
                              initiallySet ? TRUE : FALSE, nullptr);
  if (event == nullptr) return nullptr;
  std::unique_ptr<ClockEvent> owner(new (std::nothrow) Win32Event(event));
  if (!owner) CloseHandle(event);
  return owner;
}

std::unique_ptr<ClockThread> Win32Clock::startThread(std::function<void()> body) {
  auto* heapBody = new (std::nothrow) std::function<void()>(std::move(body));
  if (heapBody == nullptr) return nullptr;
  HANDLE thread = CreateThread(nullptr, 0, runBody, heapBody, 0, nullptr);
  if (thread == nullptr) {
    delete heapBody;
    return nullptr;
  }
  std::unique_ptr<ClockThread> owner(new (std::nothrow) Win32Thread(thread));
  if (!owner) CloseHandle(thread);  // the thread runs on by itself
  return owner;
}

}  // namespace tw::win32
