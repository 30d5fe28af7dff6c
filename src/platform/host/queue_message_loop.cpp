#include "platform/host/queue_message_loop.h"

#include <algorithm>

namespace tw {
namespace {

constexpr std::uint32_t kTimerMessage = 0x0113;    // WM_TIMER
constexpr std::uint32_t kDestroyMessage = 0x0002;  // WM_DESTROY

}  // namespace

QueueMessageLoop::QueueMessageLoop(Clock& clock)
    : clock_(clock), wake_(clock.createEvent(EventReset::Auto, false)) {}

void QueueMessageLoop::wakeLoop() {
  if (wake_) wake_->set();
}

std::uint32_t QueueMessageLoop::registerMessage(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = registered_.find(name);
  if (found != registered_.end()) return found->second;
  return registered_[name] = nextRegistered_++;
}

WindowId QueueMessageLoop::createHiddenWindow(const std::string&, const std::string&,
                                              WindowHandler* handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  WindowId window = nextWindow_++;
  windows_[window] = handler;
  return window;
}

void QueueMessageLoop::destroyWindow(WindowId window) {
  // Like DestroyWindow: WM_DESTROY reaches the window before it is gone.
  send(window, kDestroyMessage, 0, 0);
  std::lock_guard<std::mutex> lock(mutex_);
  windows_.erase(window);
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.window == window; }),
                timers_.end());
}

bool QueueMessageLoop::setTimer(WindowId window, std::uintptr_t timerId, std::uint32_t intervalMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!windows_.count(window)) return false;
  timers_.erase(
      std::remove_if(timers_.begin(), timers_.end(),
                     [&](const Timer& t) { return t.window == window && t.id == timerId; }),
      timers_.end());
  timers_.push_back(Timer{window, timerId, intervalMs, clock_.tickMs() + intervalMs});
  wakeLoop();
  return true;
}

void QueueMessageLoop::killTimer(WindowId window, std::uintptr_t timerId) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.erase(
      std::remove_if(timers_.begin(), timers_.end(),
                     [&](const Timer& t) { return t.window == window && t.id == timerId; }),
      timers_.end());
}

bool QueueMessageLoop::hasTimer(WindowId window, std::uintptr_t timerId) {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(timers_.begin(), timers_.end(),
                     [&](const Timer& t) { return t.window == window && t.id == timerId; });
}

bool QueueMessageLoop::postMessage(WindowId window, std::uint32_t message, WParam wParam,
                                   LParam lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!windows_.count(window)) return false;
  queue_.push_back(Posted{window, message, wParam, lParam});
  wakeLoop();
  return true;
}

void QueueMessageLoop::postQuit(int) {
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = true;
  wakeLoop();
}

LResult QueueMessageLoop::send(WindowId window, std::uint32_t message, WParam wParam,
                               LParam lParam) {
  WindowHandler* handler = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = windows_.find(window);
    if (found == windows_.end()) return 0;
    handler = found->second;
  }
  return handler->onMessage(window, message, wParam, lParam);
}

bool QueueMessageLoop::takeReady(Posted& out) {
  if (!queue_.empty()) {
    out = queue_.front();
    queue_.pop_front();
    return true;
  }
  std::uint64_t now = clock_.tickMs();
  for (Timer& timer : timers_) {
    if (timer.dueMs <= now) {
      // Like WM_TIMER: a late timer fires once, not once per missed interval.
      timer.dueMs = now + timer.intervalMs;
      out = Posted{timer.window, kTimerMessage, timer.id, 0};
      return true;
    }
  }
  return false;
}

void QueueMessageLoop::dispatch(const Posted& message) {
  send(message.window, message.message, message.wParam, message.lParam);
}

bool QueueMessageLoop::dispatchPending() {
  for (;;) {
    Posted next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) return false;
      if (!takeReady(next)) return true;
    }
    dispatch(next);
  }
}

void QueueMessageLoop::run() {
  for (;;) {
    Posted next;
    std::uint64_t waitMs = 1000;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) return;
      if (!takeReady(next)) {
        std::uint64_t now = clock_.tickMs();
        for (const Timer& timer : timers_)
          waitMs = std::min(waitMs, timer.dueMs - std::min(now, timer.dueMs));
        next.window = 0;
      }
    }
    if (next.window != 0) {
      dispatch(next);
    } else if (wake_) {
      wake_->wait(static_cast<std::uint32_t>(waitMs));
    } else {
      clock_.sleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(waitMs, 50)));
    }
  }
}

}  // namespace tw
