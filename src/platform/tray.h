// The notification-area icon, its balloons and the popup menu.
// Windows: Shell_NotifyIconW, CreatePopupMenu/TrackPopupMenu. Linux: console lines or a recorder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window_messages.h"

namespace tw {

// The icon record (NOTIFYICONDATAW with NIF_MESSAGE | NIF_ICON | NIF_TIP). Texts are UTF-8 and
// already cut to what the record holds.
struct NotifyIconRecord {
  WindowId window = 0;
  std::uint32_t iconId = 1;
  std::uint32_t callbackMessage = 0;
  int iconResource = 2;  // 1 connected or busy, 2 no dongle, 3 battery low
  std::string tip;
};

enum class BalloonIcon { Info, Warning };

struct MenuItem {
  enum class Kind { Command, Separator };
  Kind kind = Kind::Command;
  std::uint32_t command = 0;
  std::string text;
  bool greyed = false;
  bool checked = false;
};

class TrayPort {
 public:
  virtual ~TrayPort() = default;
  // Loads icon resources 1, 2 and 3 at small-icon size.
  virtual void loadIcons() = 0;
  // NIM_ADD; false when the shell refuses it (not running yet, or it has the icon already).
  virtual bool add(const NotifyIconRecord& record) = 0;
  // NIM_MODIFY; false when the shell refuses it (for one, when it no longer has the icon).
  virtual bool modify(const NotifyIconRecord& record) = 0;
  virtual void remove(const NotifyIconRecord& record) = 0;  // NIM_DELETE
  // NIM_MODIFY from a copy of the record carrying only NIF_INFO.
  virtual void balloon(const NotifyIconRecord& record, const std::string& title,
                       const std::string& text, BalloonIcon icon) = 0;
  // Builds the menu, brings `owner` forward, tracks it at the cursor (the choice arrives as
  // WM_COMMAND), posts WM_NULL and destroys it. False when the menu cannot be created.
  virtual bool showPopupMenu(WindowId owner, const std::vector<MenuItem>& items) = 0;
};

}  // namespace tw
