// The UI thread's hidden window, its timers and message loop.
// Windows: a real window class and GetMessageW loop. Linux: a small queue (host) or a recording
// fake (tests).
#pragma once

#include <cstdint>
#include <string>

#include "platform/window_messages.h"

namespace tw {

// The window procedure's body, written by the system.
class WindowHandler {
 public:
  virtual ~WindowHandler() = default;
  virtual LResult onMessage(WindowId window, std::uint32_t message, WParam wParam,
                            LParam lParam) = 0;
};

class MessageLoop {
 public:
  virtual ~MessageLoop() = default;
  // RegisterWindowMessageW; 0 when registration fails.
  virtual std::uint32_t registerMessage(const std::string& name) = 0;
  // Registers the class with the handler (and nothing else) and creates the hidden tool window
  // (WS_EX_TOOLWINDOW, WS_POPUP, zero position and size, no parent, no menu). 0 on failure.
  virtual WindowId createHiddenWindow(const std::string& className, const std::string& title,
                                      WindowHandler* handler) = 0;
  virtual void destroyWindow(WindowId window) = 0;
  // ChangeWindowMessageFilterEx with MSGFLT_ALLOW.
  virtual void allowMessage(WindowId window, std::uint32_t message) = 0;
  virtual bool setTimer(WindowId window, std::uintptr_t timerId, std::uint32_t intervalMs) = 0;
  virtual void killTimer(WindowId window, std::uintptr_t timerId) = 0;
  virtual bool postMessage(WindowId window, std::uint32_t message, WParam wParam,
                           LParam lParam) = 0;
  virtual void postQuit(int exitCode) = 0;
  // GetMessageW / TranslateMessage / DispatchMessageW until the quit message.
  virtual void run() = 0;
  // DefWindowProcW.
  virtual LResult defaultProcedure(WindowId window, std::uint32_t message, WParam wParam,
                                   LParam lParam) = 0;
};

}  // namespace tw
