#include "sim/virtual_clock.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

namespace tw::sim {
namespace {

constexpr std::uint64_t kNoDeadline = UINT64_MAX;

// The clocks the current thread takes part in (usually one; tests may build a few at once). A
// plain array, with nothing to destroy: a clock in static storage goes after the thread-local
// objects of the thread that ends the process, and must still find its entry then.
struct Participation {
  static constexpr int kMaxClocks = 16;
  const VirtualClock* clocks[kMaxClocks];
  int count;

  bool contains(const VirtualClock* clock) const {
    return std::find(clocks, clocks + count, clock) != clocks + count;
  }
  void add(const VirtualClock* clock) {
    if (count == kMaxClocks) std::abort();  // a test that builds this many clocks is broken
    clocks[count++] = clock;
  }
  bool remove(const VirtualClock* clock) {
    const VirtualClock** found = std::find(clocks, clocks + count, clock);
    if (found == clocks + count) return false;
    std::copy(found + 1, clocks + count, found);
    --count;
    return true;
  }
};
thread_local Participation participating{};

}  // namespace

struct VirtualClock::EventState {
  bool manual;
  bool signalled;
};

namespace {

class VirtualEvent : public ClockEvent {
 public:
  VirtualEvent(VirtualClock& clock, EventReset reset, bool initiallySet)
      : clock_(clock), state_{reset == EventReset::Manual, initiallySet} {}
  void set() override { clock_.setEvent(state_); }
  void reset() override { clock_.resetEvent(state_); }
  bool wait(std::uint32_t timeoutMs) override { return clock_.waitOn(&state_, timeoutMs); }

 private:
  VirtualClock& clock_;
  VirtualClock::EventState state_;
};

// The thread's end is an event of the same clock, so joining is a wait on virtual time.
class VirtualThread : public ClockThread {
 public:
  VirtualThread(std::thread thread, std::shared_ptr<ClockEvent> ended)
      : thread_(std::move(thread)), ended_(std::move(ended)) {}
  ~VirtualThread() override {
    if (thread_.joinable()) thread_.detach();
  }
  bool join(std::uint32_t timeoutMs) override {
    if (!ended_->wait(timeoutMs)) return false;
    if (thread_.joinable()) thread_.join();
    return true;
  }

 private:
  std::thread thread_;
  std::shared_ptr<ClockEvent> ended_;
};

}  // namespace

VirtualClock::VirtualClock(std::uint64_t startMs) : nowMs_(startMs) {
  join();
}

VirtualClock::~VirtualClock() {
  // A thread started here touches the clock up to its very end (its end event, leaving), also
  // one whose handle was dropped. Wait for those still running, and let time move for them
  // meanwhile: this thread no longer takes part.
  leave();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return liveThreads_ == 0; });
}

std::uint64_t VirtualClock::tickMs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return nowMs_;
}

void VirtualClock::sleepMs(std::uint32_t ms) {
  waitOn(nullptr, ms);
}

std::unique_ptr<ClockEvent> VirtualClock::createEvent(EventReset reset, bool initiallySet) {
  return std::make_unique<VirtualEvent>(*this, reset, initiallySet);
}

std::unique_ptr<ClockThread> VirtualClock::startThread(std::function<void()> body) {
  auto ended = std::shared_ptr<ClockEvent>(createEvent(EventReset::Manual, false));
  {
    // Counted as running before it exists, so time cannot move while it starts.
    std::lock_guard<std::mutex> lock(mutex_);
    ++running_;
    ++liveThreads_;
  }
  std::thread thread;
  try {
    thread = std::thread([this, body = std::move(body), ended] {
      participating.add(this);
      body();
      ended->set();
      leave();
      std::lock_guard<std::mutex> lock(mutex_);
      --liveThreads_;
      changed_.notify_all();  // under the lock: the clock cannot go before this returns
    });
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(mutex_);
    --liveThreads_;
    --running_;
    moveTimeIfAllWait();
    return nullptr;
  }
  return std::make_unique<VirtualThread>(std::move(thread), ended);
}

void VirtualClock::advance(std::uint64_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  nowMs_ += ms;
  for (Waiter* waiter : waiters_) {
    if (!waiter->woken && waiter->deadline <= nowMs_) wake(*waiter, false);
  }
  changed_.notify_all();
}

VirtualClock::Participant::Participant(VirtualClock& clock) : clock_(clock) {
  clock_.join();
}

VirtualClock::Participant::~Participant() {
  clock_.leave();
}

bool VirtualClock::takesPart() const {
  return participating.contains(this);
}

void VirtualClock::join() {
  participating.add(this);
  std::lock_guard<std::mutex> lock(mutex_);
  ++running_;
}

void VirtualClock::leave() {
  if (!participating.remove(this)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  --running_;
  if (settling_ > 0) changed_.notify_all();
  moveTimeIfAllWait();
}

int VirtualClock::liveThreads() {
  std::lock_guard<std::mutex> lock(mutex_);
  return liveThreads_;
}

void VirtualClock::settle() {
  std::unique_lock<std::mutex> lock(mutex_);
  const int self = takesPart() ? 1 : 0;
  ++settling_;
  changed_.wait(lock, [&] { return running_ <= self; });
  --settling_;
}

bool VirtualClock::waitOn(EventState* event, std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (event != nullptr && event->signalled) {
    if (!event->manual) event->signalled = false;
    return true;
  }
  if (timeoutMs == 0) return false;
  Waiter waiter{event, timeoutMs == kWaitForever ? kNoDeadline : nowMs_ + timeoutMs, takesPart()};
  waiters_.push_back(&waiter);
  if (waiter.participant) --running_;
  if (settling_ > 0) changed_.notify_all();
  moveTimeIfAllWait();
  changed_.wait(lock, [&] { return waiter.woken; });
  waiters_.remove(&waiter);
  return waiter.bySignal;
}

void VirtualClock::setEvent(EventState& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  event.signalled = true;
  for (Waiter* waiter : waiters_) {
    if (waiter->woken || waiter->event != &event) continue;
    wake(*waiter, true);
    if (!event.manual) {
      event.signalled = false;  // taken by this one waiter
      break;
    }
  }
  changed_.notify_all();
}

void VirtualClock::resetEvent(EventState& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  event.signalled = false;
}

void VirtualClock::wake(Waiter& waiter, bool bySignal) {
  waiter.woken = true;
  waiter.bySignal = bySignal;
  if (waiter.participant) ++running_;
}

void VirtualClock::moveTimeIfAllWait() {
  bool wokeAny = false;
  while (running_ == 0) {
    std::uint64_t next = kNoDeadline;
    for (Waiter* waiter : waiters_) {
      if (!waiter->woken) next = std::min(next, waiter->deadline);
    }
    if (next == kNoDeadline) break;  // everyone waits for a signal only
    nowMs_ = std::max(nowMs_, next);
    for (Waiter* waiter : waiters_) {
      if (!waiter->woken && waiter->deadline <= nowMs_) wake(*waiter, false);
    }
    wokeAny = true;
  }
  if (wokeAny) changed_.notify_all();
}

}  // namespace tw::sim
