#include "platform/win32/win32_desktop_shell.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/scoped_win.h"
#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

struct EnumContext {
  const std::function<bool(const TopWindow&)>* visit;
};

BOOL CALLBACK visitWindow(HWND hwnd, LPARAM lParam) {
  auto* context = reinterpret_cast<EnumContext*>(lParam);
  wchar_t className[256] = {};
  wchar_t title[256] = {};
  GetClassNameW(hwnd, className, 256);
  GetWindowTextW(hwnd, title, 256);
  TopWindow w;
  w.id = fromHwnd(hwnd);
  w.className = toUtf8(className);
  w.title = toUtf8(title);
  w.visible = IsWindowVisible(hwnd) != FALSE;
  w.minimised = IsIconic(hwnd) != FALSE;
  return (*context->visit)(w) ? TRUE : FALSE;
}

}  // namespace

void Win32DesktopShell::enumerateWindows(const std::function<bool(const TopWindow&)>& visit) {
  EnumContext context{&visit};
  EnumWindows(visitWindow, reinterpret_cast<LPARAM>(&context));
}

WindowId Win32DesktopShell::findWindowByTitle(const std::string& title) {
  return fromHwnd(FindWindowW(nullptr, toUtf16(title).c_str()));
}

void Win32DesktopShell::restoreWindow(WindowId window) {
  ShowWindow(toHwnd(window), SW_RESTORE);
}

bool Win32DesktopShell::setForegroundWindow(WindowId window) {
  return SetForegroundWindow(toHwnd(window)) != FALSE;
}

bool Win32DesktopShell::shellOpen(const std::string& file, const std::string& parameters) {
  const std::wstring wideFile = toUtf16(file);
  const std::wstring wideParameters = toUtf16(parameters);
  HINSTANCE result =
      ShellExecuteW(nullptr, L"open", wideFile.c_str(),
                    parameters.empty() ? nullptr : wideParameters.c_str(), nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

bool Win32DesktopShell::systemDpi(std::uint32_t& dpi) {
  // Windows 10 1607 and later; older systems and Wine builds may not have it.
  using GetDpiForSystemFn = UINT(WINAPI*)();
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return false;
  // Through void* because FARPROC's own signature never matches the function's.
  auto getDpi = reinterpret_cast<GetDpiForSystemFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForSystem")));
  if (getDpi == nullptr) return false;
  dpi = getDpi();
  return true;
}

std::uint32_t Win32DesktopShell::screenLogPixelsX() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return 0;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<std::uint32_t>(dpi) : 0;
}

bool Win32DesktopShell::workArea(ScreenRect& area) {
  RECT rect;
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &rect, 0)) return false;
  area = ScreenRect{rect.left, rect.top, rect.right, rect.bottom};
  return true;
}

}  // namespace tw::win32
