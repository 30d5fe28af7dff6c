// Message boxes, the single-instance mutex, and reaching the windows and processes of other
// instances.
#pragma once

#include "platform/desktop.h"

namespace tw::win32 {

class Win32Desktop : public Desktop {
 public:
  MessageBoxAnswer messageBox(const std::string& text, const std::string& caption,
                              MessageBoxIcon icon, MessageBoxButtons buttons) override;
  std::unique_ptr<NamedMutex> createOwnedMutex(const std::string& name,
                                               bool& alreadyExisted) override;
  WindowId findWindowByClass(const std::string& className) override;
  WindowId findMessageOnlyWindowByClass(const std::string& className) override;
  bool sendMessageWithTimeout(WindowId window, std::uint32_t message, WParam wParam, LParam lParam,
                              std::uint32_t timeoutMs, std::uintptr_t& result) override;
  bool postMessageTo(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) override;
  std::uint32_t windowProcessId(WindowId window) override;
  std::unique_ptr<ProcessHandle> openProcessForWaiting(std::uint32_t processId) override;
  void allowSetForegroundWindow(std::uint32_t processId) override;
};

}  // namespace tw::win32
