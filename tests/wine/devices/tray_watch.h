// What the program shows in the notification area, seen from inside its process: its calls to
// Shell_NotifyIconW are passed on unchanged and remembered, so a test can read the icon, the
// tooltip and the balloons that Wine's tray keeps to itself.
#pragma once

#include <string>

namespace tw::devices {

// Routes the program's imports of Shell_NotifyIconW and LoadImageW through the watch (once).
void watchTray();
// "icon N | tip", N the icon's resource number; "hidden" when no icon is shown.
std::string trayShown();
// Every balloon so far, oldest first: "title: text" lines joined by " / ".
std::string trayBalloons();

}  // namespace tw::devices
