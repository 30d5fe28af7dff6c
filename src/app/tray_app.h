// The tray process: start-up and the single-instance hand-over, the hidden window's procedure,
// the poll step, and everything the user sees in the notification area.
#pragma once

#include <cstdint>
#include <string>

#include "app/start_with_windows.h"
#include "flash/firmware_service.h"
#include "panel/panel_service.h"
#include "dongle/dongle_link.h"
#include "platform/desktop.h"
#include "platform/message_loop.h"
#include "platform/tray.h"

namespace tw {

struct TrayAppConfig {
  std::string versionText;  // the program's own version, "1.2.0"
  std::string commandLine;  // the whole command line; "--startup" marks a launch at log-on
  std::string vendorWebAddress = "https://tarnwick.example/bridge";
  std::string supportEmail = "support@tarnwick.example";
};

struct TrayAppPorts {
  MessageLoop& loop;
  TrayPort& tray;
  Desktop& desktop;
};

struct TrayAppServices {
  PanelServer& server;
  PanelLauncher& launcher;
  FirmwareService& firmware;
  StartWithWindows& startWithWindows;
};

class TrayApp;  // defined in app/tray_app_impl.h

}  // namespace tw
