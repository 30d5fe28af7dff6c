#include "platform/win32/win32_message_loop.h"

#include "platform/win32/scoped_win.h"
#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

// The handler lives in the window's user data. Messages sent while CreateWindowExW is still
// running (WM_NCCREATE, WM_CREATE, ...) arrive before it is stored and get the default treatment.
LRESULT CALLBACK forwardToHandler(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* handler = reinterpret_cast<WindowHandler*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (handler == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return handler->onMessage(fromHwnd(hwnd), message, wParam, lParam);
}

}  // namespace

std::uint32_t Win32MessageLoop::registerMessage(const std::string& name) {
  return RegisterWindowMessageW(toUtf16(name).c_str());
}

WindowId Win32MessageLoop::createHiddenWindow(const std::string& className,
                                              const std::string& title, WindowHandler* handler) {
  const std::wstring wideClass = toUtf16(className);
  const std::wstring wideTitle = toUtf16(title);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = forwardToHandler;
  windowClass.hInstance = instance_;
  windowClass.lpszClassName = wideClass.c_str();
  // Registering twice (a second window of the class) fails harmlessly; creation tells the truth.
  RegisterClassExW(&windowClass);
  HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, wideClass.c_str(), wideTitle.c_str(), WS_POPUP, 0,
                              0, 0, 0, nullptr, nullptr, instance_, nullptr);
  if (hwnd == nullptr) return 0;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(handler));
  return fromHwnd(hwnd);
}

void Win32MessageLoop::destroyWindow(WindowId window) {
  DestroyWindow(toHwnd(window));
}

void Win32MessageLoop::allowMessage(WindowId window, std::uint32_t message) {
  ChangeWindowMessageFilterEx(toHwnd(window), message, MSGFLT_ALLOW, nullptr);
}

bool Win32MessageLoop::setTimer(WindowId window, std::uintptr_t timerId, std::uint32_t intervalMs) {
  return SetTimer(toHwnd(window), timerId, intervalMs, nullptr) != 0;
}

void Win32MessageLoop::killTimer(WindowId window, std::uintptr_t timerId) {
  KillTimer(toHwnd(window), timerId);
}

bool Win32MessageLoop::postMessage(WindowId window, std::uint32_t message, WParam wParam,
                                   LParam lParam) {
  return PostMessageW(toHwnd(window), message, wParam, lParam) != FALSE;
}

void Win32MessageLoop::postQuit(int exitCode) {
  PostQuitMessage(exitCode);
}

void Win32MessageLoop::run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

LResult Win32MessageLoop::defaultProcedure(WindowId window, std::uint32_t message, WParam wParam,
                                           LParam lParam) {
  return DefWindowProcW(toHwnd(window), message, wParam, lParam);
}

}  // namespace tw::win32
