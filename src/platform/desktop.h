// The desktop as the tray sees it: message boxes, finding windows and processes of other
// instances, the single-instance mutex.
// Windows: user32 and kernel32. Linux: the simulated desktop.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window_messages.h"

namespace tw {

enum class MessageBoxIcon { Information, Warning, Error };
enum class MessageBoxButtons { Ok, YesNoDefaultNo };
enum class MessageBoxAnswer { Ok, Yes, No, Failed };

// Opaque kernel object handle; 0 means none.
using KernelHandle = std::uintptr_t;

enum class WaitOutcome { Signalled, Abandoned, TimedOut, Failed };

class Desktop {
 public:
  virtual ~Desktop() = default;

  // A message box with no owner window.
  virtual MessageBoxAnswer messageBox(const std::string& text, const std::string& caption,
                                      MessageBoxIcon icon, MessageBoxButtons buttons) = 0;

  // CreateMutexW, initially owned. Returns 0 when the call fails; `alreadyExisted` reports
  // ERROR_ALREADY_EXISTS.
  virtual KernelHandle createOwnedMutex(const std::string& name, bool& alreadyExisted) = 0;
  virtual WaitOutcome waitForMutex(KernelHandle mutex, std::uint32_t timeoutMs) = 0;
  virtual void closeHandle(KernelHandle handle) = 0;

  // FindWindowW by class, and FindWindowExW among message-only windows by class.
  virtual WindowId findWindowByClass(const std::string& className) = 0;
  virtual WindowId findMessageOnlyWindowByClass(const std::string& className) = 0;
  // SendMessageTimeoutW with SMTO_BLOCK | SMTO_ABORTIFHUNG; false when it failed or timed out.
  virtual bool sendMessageWithTimeout(WindowId window, std::uint32_t message, WParam wParam,
                                      LParam lParam, std::uint32_t timeoutMs,
                                      std::uintptr_t& result) = 0;
  virtual bool postMessageTo(WindowId window, std::uint32_t message, WParam wParam,
                             LParam lParam) = 0;
  // GetWindowThreadProcessId; 0 when unknown.
  virtual std::uint32_t windowProcessId(WindowId window) = 0;
  // OpenProcess with SYNCHRONIZE only; 0 on failure.
  virtual KernelHandle openProcessForWaiting(std::uint32_t processId) = 0;
  // WaitForSingleObject on a process handle.
  virtual WaitOutcome waitForProcess(KernelHandle process, std::uint32_t timeoutMs) = 0;
  virtual void allowSetForegroundWindow(std::uint32_t processId) = 0;
};

}  // namespace tw
