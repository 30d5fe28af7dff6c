// The least behaviour the tray expects of parts that are not built yet: no server, no launcher,
// no start with Windows. Each is replaced by its real subsystem later.
#pragma once

#include "app/start_with_windows.h"
#include "panel/panel_service.h"

namespace tw {

class NoPanelServer : public PanelServer {
 public:
  bool startServer() override { return false; }
  std::uint32_t serverPort() override { return 0; }
};

class NoPanelLauncher : public PanelLauncher {
 public:
  void openControlPanel() override {}
};

class NoStartWithWindows : public StartWithWindows {
 public:
  bool isStartWithWindowsOn() override { return false; }
  void setStartWithWindows(bool) override {}
  void refreshInstalledCopy() override {}
};

}  // namespace tw
