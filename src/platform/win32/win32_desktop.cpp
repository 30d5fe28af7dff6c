#include "platform/win32/win32_desktop.h"

#include <windows.h>

#include "platform/win32/scoped_win.h"
#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

WaitOutcome waitOn(KernelHandle handle, std::uint32_t timeoutMs) {
  switch (WaitForSingleObject(toHandle(handle), timeoutMs)) {
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

KernelHandle Win32Desktop::createOwnedMutex(const std::string& name, bool& alreadyExisted) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, toUtf16(name).c_str());
  alreadyExisted = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  return fromHandle(mutex);
}

WaitOutcome Win32Desktop::waitForMutex(KernelHandle mutex, std::uint32_t timeoutMs) {
  return waitOn(mutex, timeoutMs);
}

void Win32Desktop::closeHandle(KernelHandle handle) {
  if (handle != 0) CloseHandle(toHandle(handle));
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

KernelHandle Win32Desktop::openProcessForWaiting(std::uint32_t processId) {
  return fromHandle(OpenProcess(SYNCHRONIZE, FALSE, processId));
}

WaitOutcome Win32Desktop::waitForProcess(KernelHandle process, std::uint32_t timeoutMs) {
  return waitOn(process, timeoutMs);
}

void Win32Desktop::allowSetForegroundWindow(std::uint32_t processId) {
  AllowSetForegroundWindow(processId);
}

}  // namespace tw::win32
