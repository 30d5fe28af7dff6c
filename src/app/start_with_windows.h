// Start with Windows as the tray menu uses it.
#pragma once

namespace tw {

class StartWithWindows {
 public:
  virtual ~StartWithWindows() = default;
  virtual bool isStartWithWindowsOn() = 0;
  virtual void setStartWithWindows(bool on) = 0;
  // Called once at start-up, before the tray window exists.
  virtual void refreshInstalledCopy() = 0;
};

}  // namespace tw
