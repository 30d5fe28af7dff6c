// The notification-area icon with its balloons, and the popup menu.
#pragma once

#include <windows.h>

#include "platform/tray.h"
#include "platform/win32/scoped_win.h"

namespace tw::win32 {

class Win32Tray : public TrayPort {
 public:
  explicit Win32Tray(HINSTANCE instance) : instance_(instance) {}

  void loadIcons() override;
  bool add(const NotifyIconRecord& record) override;
  bool modify(const NotifyIconRecord& record) override;
  void remove(const NotifyIconRecord& record) override;
  void balloon(const NotifyIconRecord& record, const std::string& title, const std::string& text,
               BalloonIcon icon) override;
  bool showPopupMenu(WindowId owner, const std::vector<MenuItem>& items) override;

 private:
  HICON iconFor(int resource) const;

  HINSTANCE instance_;
  ScopedIcon icons_[3];
};

}  // namespace tw::win32
