// The parts of the desktop the panel launcher needs beyond message boxes: the top-level windows,
// bringing one forward, starting programs through the shell, and the screen's scale and work area.
// Windows: user32, gdi32, shell32. Linux: the simulated desktop, which records what it starts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/window_messages.h"

namespace tw {

// One top-level window as EnumWindows hands it over, with the facts a caller may test.
struct TopWindow {
  WindowId id = 0;
  std::string className;   // GetClassNameW, UTF-8
  std::string title;       // GetWindowTextW, UTF-8
  bool visible = false;    // IsWindowVisible
  bool minimised = false;  // IsIconic
};

// A rectangle in physical pixels, as RECT holds it.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

class DesktopShell {
 public:
  virtual ~DesktopShell() = default;

  // EnumWindows: calls `visit` for each top-level window in Z order until it returns false.
  virtual void enumerateWindows(const std::function<bool(const TopWindow&)>& visit) = 0;
  // FindWindowW with no class: the first top-level window whose title matches, compared the way
  // Windows compares it (without regard to case); 0 when there is none. Titles are read as the
  // system keeps them, so a window of a busy thread, even one of this process, does not hold the
  // caller up, unlike reading each title in turn.
  virtual WindowId findWindowByTitle(const std::string& title) = 0;
  // ShowWindow with SW_RESTORE.
  virtual void restoreWindow(WindowId window) = 0;
  virtual bool setForegroundWindow(WindowId window) = 0;

  // ShellExecuteW with the verb "open", no working folder and SW_SHOWNORMAL. `parameters` may be
  // empty (none). True when the shell reports success (a result above 32).
  virtual bool shellOpen(const std::string& file, const std::string& parameters) = 0;

  // GetDpiForSystem looked up in user32 at run time. False when user32 does not export it;
  // otherwise true with its result (which may be 0).
  virtual bool systemDpi(std::uint32_t& dpi) = 0;
  // LOGPIXELSX of a screen device context; 0 when no device context can be had.
  virtual std::uint32_t screenLogPixelsX() = 0;
  // SystemParametersInfoW(SPI_GETWORKAREA).
  virtual bool workArea(ScreenRect& area) = 0;
};

}  // namespace tw
