// The UI thread's message loop on Linux: one hidden "window" per handler, a queue of posted
// messages and timers, dispatched on the thread that calls run(). Posting is thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/message_loop.h"

namespace tw {

class QueueMessageLoop : public MessageLoop {
 public:
  explicit QueueMessageLoop(Clock& clock);

  std::uint32_t registerMessage(const std::string& name) override;
  WindowId createHiddenWindow(const std::string& className, const std::string& title,
                              WindowHandler* handler) override;
  void destroyWindow(WindowId window) override;
  void allowMessage(WindowId, std::uint32_t) override {}
  bool setTimer(WindowId window, std::uintptr_t timerId, std::uint32_t intervalMs) override;
  void killTimer(WindowId window, std::uintptr_t timerId) override;
  bool postMessage(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) override;
  void postQuit(int exitCode) override;
  void run() override;
  LResult defaultProcedure(WindowId, std::uint32_t, WParam, LParam) override { return 0; }

  // Dispatches what is queued and the timers due now, without waiting; false once quit.
  bool dispatchPending();
  // Sends a message to a window at once, on the calling thread (like SendMessageW from the UI
  // thread itself).
  LResult send(WindowId window, std::uint32_t message, WParam wParam, LParam lParam);
  bool hasTimer(WindowId window, std::uintptr_t timerId);

 private:
  struct Posted {
    WindowId window;
    std::uint32_t message;
    WParam wParam;
    LParam lParam;
  };
  struct Timer {
    WindowId window;
    std::uintptr_t id;
    std::uint32_t intervalMs;
    std::uint64_t dueMs;
  };
  // Takes the next thing to dispatch, if any is ready; false when nothing is.
  bool takeReady(Posted& out);
  void wakeLoop();
  void dispatch(const Posted& message);

  Clock& clock_;
  std::mutex mutex_;
  // Set by whatever gives the loop something to do; the loop waits on it until the next timer.
  std::unique_ptr<ClockEvent> wake_;
  std::deque<Posted> queue_;
  std::vector<Timer> timers_;
  std::map<WindowId, WindowHandler*> windows_;
  std::map<std::string, std::uint32_t> registered_;
  std::uint32_t nextRegistered_ = 0xC000;  // where Windows numbers registered messages
  WindowId nextWindow_ = 0x10010;
  bool quit_ = false;
};

}  // namespace tw
