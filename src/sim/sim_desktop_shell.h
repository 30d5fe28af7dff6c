// A simulated desktop for the launcher's side of the desktop: a list of top-level windows, the
// programs started through the shell (recorded, never run), and a screen with a scale and a work
// area. Everything can be set and inspected from tests and from the Linux app.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop_shell.h"

namespace tw::sim {

struct ShellLaunch {
  std::string file;
  std::string parameters;
};

class SimDesktopShell : public DesktopShell {
 public:
  // Adds a top-level window at the bottom of the Z order; returns its id.
  WindowId addWindow(const std::string& className, const std::string& title, bool visible = true,
                     bool minimised = false);
  void removeWindow(WindowId window);
  std::optional<TopWindow> window(WindowId window) const;
  WindowId foregroundWindow() const;
  int restoreCount() const;

  std::vector<ShellLaunch> launches() const;
  void clearLaunches();
  // Called (outside the lock) for every program started, e.g. to print it.
  void setLaunchObserver(std::function<void(const ShellLaunch&)> observer);
  // What ShellExecuteW reports; it records the launch either way.
  void setShellOpenSucceeds(bool succeeds);

  // nullopt models a user32 without GetDpiForSystem.
  void setSystemDpi(std::optional<std::uint32_t> dpi);
  void setScreenLogPixelsX(std::uint32_t dpi);
  // nullopt makes the work-area query fail.
  void setWorkArea(std::optional<ScreenRect> area);

  void enumerateWindows(const std::function<bool(const TopWindow&)>& visit) override;
  // Titles compared without regard to case (ASCII), as FindWindowW compares them.
  WindowId findWindowByTitle(const std::string& title) override;
  void restoreWindow(WindowId window) override;
  bool setForegroundWindow(WindowId window) override;
  bool shellOpen(const std::string& file, const std::string& parameters) override;
  bool systemDpi(std::uint32_t& dpi) override;
  std::uint32_t screenLogPixelsX() override;
  bool workArea(ScreenRect& area) override;

 private:
  mutable std::mutex mutex_;
  std::vector<TopWindow> windows_;
  WindowId nextId_ = 0x10010;
  WindowId foreground_ = 0;
  int restores_ = 0;
  std::vector<ShellLaunch> launches_;
  std::function<void(const ShellLaunch&)> observer_;
  bool shellOpenSucceeds_ = true;
  std::optional<std::uint32_t> systemDpi_ = 96;
  std::uint32_t logPixelsX_ = 96;
  std::optional<ScreenRect> workArea_ = ScreenRect{0, 0, 1920, 1040};
};

}  // namespace tw::sim
