#include "platform/host/steady_clock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace tw {
namespace {

// Waits on `cv` until `ready` holds or `timeoutMs` passes; kWaitForever waits without a limit.
template <typename Ready>
bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
             std::uint32_t timeoutMs, Ready ready) {
  if (timeoutMs == kWaitForever) {
    cv.wait(lock, ready);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

class SteadyEvent : public ClockEvent {
 public:
  SteadyEvent(EventReset reset, bool initiallySet)
      : manual_(reset == EventReset::Manual), signalled_(initiallySet) {}

  void set() override {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
    if (manual_) {
      cv_.notify_all();
    } else {
      cv_.notify_one();
    }
  }
  void reset() override {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
  }
  bool wait(std::uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!waitFor(cv_, lock, timeoutMs, [this] { return signalled_; })) return false;
    if (!manual_) signalled_ = false;
    return true;
  }

 private:
  const bool manual_;
  bool signalled_;
  std::mutex mutex_;
  std::condition_variable cv_;
};

// What the thread and its handle share: the handle may be gone before the thread ends.
struct ThreadEnd {
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
};

class SteadyThread : public ClockThread {
 public:
  SteadyThread(std::thread thread, std::shared_ptr<ThreadEnd> end)
      : thread_(std::move(thread)), end_(std::move(end)) {}
  ~SteadyThread() override {
    if (thread_.joinable()) thread_.detach();
  }
  bool join(std::uint32_t timeoutMs) override {
    {
      std::unique_lock<std::mutex> lock(end_->mutex);
      if (!waitFor(end_->cv, lock, timeoutMs, [this] { return end_->ended; })) return false;
    }
    if (thread_.joinable()) thread_.join();  // it has finished its body: this returns at once
    return true;
  }

 private:
  std::thread thread_;
  std::shared_ptr<ThreadEnd> end_;
};

}  // namespace

std::uint64_t SteadyClock::tickMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SteadyClock::sleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::unique_ptr<ClockEvent> SteadyClock::createEvent(EventReset reset, bool initiallySet) {
  return std::unique_ptr<ClockEvent>(new (std::nothrow) SteadyEvent(reset, initiallySet));
}

std::unique_ptr<ClockThread> SteadyClock::startThread(std::function<void()> body) {
  auto end = std::make_shared<ThreadEnd>();
  try {
    std::thread thread([body = std::move(body), end] {
      body();
      std::lock_guard<std::mutex> lock(end->mutex);
      end->ended = true;
      end->cv.notify_all();
    });
    return std::make_unique<SteadyThread>(std::move(thread), end);
  } catch (const std::system_error&) {
    return nullptr;
  }
}

}  // namespace tw
