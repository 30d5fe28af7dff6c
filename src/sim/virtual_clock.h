// Virtual time for tests. Time stands still while any thread taking part runs, and when every one
// of them waits on this clock it jumps straight to the earliest deadline. So a ten-minute wait
// costs no real time, two threads sleeping at once move time by the longer sleep (not the sum),
// and a test sees the same times on every run.
//
// Taking part: the thread that constructs the clock, every thread started through startThread,
// and any other thread for the life of a Participant. A thread that does not take part never holds
// time back; its waits end when time gets there through the others (or at once when nobody
// else takes part). A participant blocked on something other than this clock (a plain mutex, a
// socket) holds time still until it comes back.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

#include "platform/clock.h"

namespace tw::sim {

class VirtualClock : public Clock {
 public:
  explicit VirtualClock(std::uint64_t startMs = 1'000'000);
  // Waits for every thread started here to end, handle dropped or not.
  ~VirtualClock() override;
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  std::uint64_t tickMs() override;
  void sleepMs(std::uint32_t ms) override;
  std::unique_ptr<ClockEvent> createEvent(EventReset reset, bool initiallySet) override;
  std::unique_ptr<ClockThread> startThread(std::function<void()> body) override;

  // Moves time forward at once by `ms`, ending the waits that fall due; for tests that play the
  // passing of time themselves.
  void advance(std::uint64_t ms);

  // Waits until every other thread taking part waits on this clock (or has ended), without
  // moving time: what was due by now has been done. A driver that acts between the system's
  // steps calls it before it looks, so that it never sees a thread half-way through a step.
  void settle();

  // Threads started here that have not ended yet.
  int liveThreads();

  // Makes the current thread take part while it exists.
  class Participant {
   public:
    explicit Participant(VirtualClock& clock);
    ~Participant();
    Participant(const Participant&) = delete;
    Participant& operator=(const Participant&) = delete;

   private:
    VirtualClock& clock_;
  };

  struct EventState;  // an event's signal, guarded by the clock's lock

  // Waits on `event` (or on nothing) for at most `timeoutMs` of virtual time; true when the
  // event's signal ended the wait.
  bool waitOn(EventState* event, std::uint32_t timeoutMs);
  void setEvent(EventState& event);
  void resetEvent(EventState& event);

 private:
  struct Waiter {
    EventState* event;
    std::uint64_t deadline;  // UINT64_MAX: none
    bool participant;
    bool woken = false;
    bool bySignal = false;
  };

  bool takesPart() const;
  void join();   // the current thread starts taking part
  void leave();  // ... and stops
  // Ends `waiter`'s wait; a participant counts as running again from this moment, so time cannot
  // move on before it has had its turn.
  void wake(Waiter& waiter, bool bySignal);
  // While no participant runs: jump to the earliest deadline and wake the waits due then.
  void moveTimeIfAllWait();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t nowMs_;
  int running_ = 0;      // participants not waiting on the clock
  int liveThreads_ = 0;  // threads started here that have not ended; the clock outlives them
  int settling_ = 0;     // callers of settle() waiting
  std::list<Waiter*> waiters_;
};

}  // namespace tw::sim
