// The desktop as the tray sees it: message boxes, finding windows and processes of other
// instances, the single-instance mutex.
// Windows: user32 and kernel32. Linux: the simulated desktop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/window_messages.h"

namespace tw {

enum class MessageBoxIcon { Information, Warning, Error };
enum class MessageBoxButtons { Ok, YesNoDefaultNo };
enum class MessageBoxAnswer { Ok, Yes, No, Failed };

enum class WaitOutcome { Signalled, Abandoned, TimedOut, Failed };

// A named mutex this process created (or opened). Destroying it closes the handle. Ownership
// belongs to the thread that took it; a thread that ends still owning it leaves it abandoned.
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  // WaitForSingleObject: takes ownership when it is free (again, for its owner).
  virtual WaitOutcome wait(std::uint32_t timeoutMs) = 0;
};

// Another process, opened only to wait for its end. Destroying it closes the handle.
class ProcessHandle {
 public:
  virtual ~ProcessHandle() = default;
  // WaitForSingleObject: Signalled once the process has ended.
  virtual WaitOutcome wait(std::uint32_t timeoutMs) = 0;
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  // A message box with no owner window.
  virtual MessageBoxAnswer messageBox(const std::string& text, const std::string& caption,
                                      MessageBoxIcon icon, MessageBoxButtons buttons) = 0;

  // CreateMutexW, initially owned. nullptr when the call fails; `alreadyExisted` reports
  // ERROR_ALREADY_EXISTS (the mutex is then opened, not owned).
  virtual std::unique_ptr<NamedMutex> createOwnedMutex(const std::string& name,
                                                       bool& alreadyExisted) = 0;

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
  // OpenProcess with SYNCHRONIZE only; nullptr on failure.
  virtual std::unique_ptr<ProcessHandle> openProcessForWaiting(std::uint32_t processId) = 0;
  virtual void allowSetForegroundWindow(std::uint32_t processId) = 0;
};

}  // namespace tw
