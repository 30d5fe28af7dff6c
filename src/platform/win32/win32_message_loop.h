// The UI thread's hidden window and its GetMessageW loop.
#pragma once

#include <windows.h>

#include "platform/message_loop.h"

namespace tw::win32 {

class Win32MessageLoop : public MessageLoop {
 public:
  explicit Win32MessageLoop(HINSTANCE instance) : instance_(instance) {}

  std::uint32_t registerMessage(const std::string& name) override;
  WindowId createHiddenWindow(const std::string& className, const std::string& title,
                              WindowHandler* handler) override;
  void destroyWindow(WindowId window) override;
  void allowMessage(WindowId window, std::uint32_t message) override;
  bool setTimer(WindowId window, std::uintptr_t timerId, std::uint32_t intervalMs) override;
  void killTimer(WindowId window, std::uintptr_t timerId) override;
  bool postMessage(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) override;
  void postQuit(int exitCode) override;
  void run() override;
  LResult defaultProcedure(WindowId window, std::uint32_t message, WParam wParam,
                           LParam lParam) override;

 private:
  HINSTANCE instance_;
};

}  // namespace tw::win32
