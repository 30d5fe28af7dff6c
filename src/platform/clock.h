// Time as a port: the millisecond tick, sleeping, events with time-outs, and threads whose end can
// be awaited for a bounded time. Every wait of the system goes through here, so tests can run it
// on virtual time (src/sim/virtual_clock.h): instant, and the same on every run.
// Windows: GetTickCount64, Sleep, CreateEventW/WaitForSingleObject, CreateThread. Linux: the
// steady clock and the standard library's threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace tw {

// A time-out that never expires (INFINITE).
inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFF;

enum class EventReset {
  Auto,    // a successful wait takes the signal (one waiter goes on)
  Manual,  // stays signalled until reset (every waiter goes on)
};

// A kernel event.
class ClockEvent {
 public:
  virtual ~ClockEvent() = default;
  virtual void set() = 0;
  virtual void reset() = 0;
  // Waits at most `timeoutMs` for the signal; true when it came, false on time-out.
  virtual bool wait(std::uint32_t timeoutMs) = 0;
};

// A running thread. Destroying the object lets go of the thread without waiting: one that has not
// ended by then runs on by itself, as a thread whose handle was closed does.
class ClockThread {
 public:
  virtual ~ClockThread() = default;
  // Waits at most `timeoutMs` for the thread to end; true when it has ended.
  virtual bool join(std::uint32_t timeoutMs) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; never goes backwards.
  virtual std::uint64_t tickMs() = 0;
  virtual void sleepMs(std::uint32_t ms) = 0;
  // nullptr when the event cannot be created.
  virtual std::unique_ptr<ClockEvent> createEvent(EventReset reset, bool initiallySet) = 0;
  // Starts `body` on a new thread; nullptr when no thread can be created.
  virtual std::unique_ptr<ClockThread> startThread(std::function<void()> body) = 0;
};

// True when strictly more than `intervalMs` has elapsed since `sinceMs`.
inline bool intervalPassed(std::uint64_t nowMs, std::uint64_t sinceMs, std::uint64_t intervalMs) {
  return nowMs - sinceMs > intervalMs;
}

}  // namespace tw
