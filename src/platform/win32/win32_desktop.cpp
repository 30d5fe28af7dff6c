#include "platform/win32/win32_desktop.h"

#include <windows.h>

#include "platform/win32/scoped_win.h"
#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

WaitOutcome waitOn(HANDLE handle, std::uint32_t timeoutMs) {
  switch (WaitForSingleObject(handle, timeoutMs)) {
    case WAIT_OBJECT_0:
      return WaitOutcome::Signalled;
    case WAIT_ABANDONED:
      return WaitOutcome::Abandoned;
    case WAIT_TIMEOUT:
      return WaitOutcome::TimedOut;
    default:
      return WaitOutcome::Failed;
  }
}

class Win32NamedMutex : public NamedMutex {
 public:
  explicit Win32NamedMutex(HANDLE mutex) : mutex_(mutex) {}
  WaitOutcome wait(std::uint32_t timeoutMs) override { return waitOn(mutex_.get(), timeoutMs); }

 private:
  ScopedHandle mutex_;
};

class Win32ProcessHandle : public ProcessHandle {
 public:
  explicit Win32ProcessHandle(HANDLE process) : process_(process) {}
  WaitOutcome wait(std::uint32_t timeoutMs) override { return waitOn(process_.get(), timeoutMs); }

 private:
  ScopedHandle process_;
};

}  // namespace

MessageBoxAnswer Win32Desktop::messageBox(const std::string& text, const std::string& caption,
                                          MessageBoxIcon icon, MessageBoxButtons buttons) {
  UINT style = icon == MessageBoxIcon::Warning ? MB_ICONWARNING
               : icon == MessageBoxIcon::Error ? MB_ICONERROR
                                               : MB_ICONINFORMATION;
  style |= buttons == MessageBoxButtons::YesNoDefaultNo ? MB_YESNO | MB_DEFBUTTON2 : MB_OK;
  switch (MessageBoxW(nullptr, toUtf16(text).c_str(), toUtf16(caption).c_str(), style)) {
    case IDOK:
      return MessageBoxAnswer::Ok;
    case IDYES:
      return MessageBoxAnswer::Yes;
    case IDNO:
      return MessageBoxAnswer::No;
    default:
      return MessageBoxAnswer::Failed;
  }
}

std::unique_ptr<NamedMutex> Win32Desktop::createOwnedMutex(const std::string& name,
                                                           bool& alreadyExisted) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, toUtf16(name).c_str());
  alreadyExisted = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  if (mutex == nullptr) return nullptr;
  return std::make_unique<Win32NamedMutex>(mutex);
}

WindowId Win32Desktop::findWindowByClass(const std::string& className) {
  return fromHwnd(FindWindowW(toUtf16(className).c_str(), nullptr));
}

WindowId Win32Desktop::findMessageOnlyWindowByClass(const std::string& className) {
  return fromHwnd(FindWindowExW(HWND_MESSAGE, nullptr, toUtf16(className).c_str(), nullptr));
}

bool Win32Desktop::sendMessageWithTimeout(WindowId window, std::uint32_t message, WParam wParam,
                                          LParam lParam, std::uint32_t timeoutMs,
                                          std::uintptr_t& result) {
  DWORD_PTR answer = 0;
  const bool ok = SendMessageTimeoutW(toHwnd(window), message, wParam, lParam,
                                      SMTO_BLOCK | SMTO_ABORTIFHUNG, timeoutMs, &answer) != 0;
  result = ok ? answer : 0;
  return ok;
}

bool Win32Desktop::postMessageTo(WindowId window, std::uint32_t message, WParam wParam,
                                 LParam lParam) {
  return PostMessageW(toHwnd(window), message, wParam, lParam) != FALSE;
}

std::uint32_t Win32Desktop::windowProcessId(WindowId window) {
  DWORD processId = 0;
  if (GetWindowThreadProcessId(toHwnd(window), &processId) == 0) return 0;
  return processId;
}

std::unique_ptr<ProcessHandle> Win32Desktop::openProcessForWaiting(std::uint32_t processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return nullptr;
  return std::make_unique<Win32ProcessHandle>(process);
}

void Win32Desktop::allowSetForegroundWindow(std::uint32_t processId) {
  AllowSetForegroundWindow(processId);
}

}  // namespace tw::win32
