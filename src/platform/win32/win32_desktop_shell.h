// Top-level windows, shell launches, the system DPI and the work area.
#pragma once

#include "platform/desktop_shell.h"

namespace tw::win32 {

class Win32DesktopShell : public DesktopShell {
 public:
  void enumerateWindows(const std::function<bool(const TopWindow&)>& visit) override;
  WindowId findWindowByTitle(const std::string& title) override;
  void restoreWindow(WindowId window) override;
  bool setForegroundWindow(WindowId window) override;
  bool shellOpen(const std::string& file, const std::string& parameters) override;
  bool systemDpi(std::uint32_t& dpi) override;
  std::uint32_t screenLogPixelsX() override;
  bool workArea(ScreenRect& area) override;
};

}  // namespace tw::win32
