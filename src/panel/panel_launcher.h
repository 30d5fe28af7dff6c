// Opening the control panel: bring an open panel window forward, or start a Chromium-based
// browser as an app window on the local server's page, or fall back to a copy of the page beside
// the program or on the dongle's own drive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "panel/panel_service.h"
#include "platform/desktop.h"
#include "platform/desktop_shell.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace tw {

struct PanelLauncherPorts {
  DesktopShell& shell;
  Registry& registry;
  FileSystem& files;
  Desktop& desktop;  // message boxes
};

struct PanelLauncherConfig {
  // The vendor's update host as the error box names it, e.g. "updates.tarnwick.example"; the box
  // appends "/panel/".
  std::string updateHost;
};

// The app window's size and position in device-independent units.
struct PanelGeometry {
  int width = 0;
  int height = 0;
  int x = 0;
  int y = 0;
};

// Window geometry for a work area (physical pixels) at `scale` (DPI / 96).
PanelGeometry panelWindowGeometry(const ScreenRect& workArea, double scale);

// The panel window: visible, a Chromium widget class and the page's exact title.
bool isPanelWindow(const TopWindow& window);

// The file name part of a Windows path (after the last backslash, or all of it).
std::string_view windowsFileName(std::string_view path);

class ControlPanelLauncher : public PanelLauncher {
 public:
  // Paths and registry texts the launcher handles, in UTF-16 units with the terminator.
  static constexpr std::size_t kPathChars = 260;
  static constexpr std::size_t kAppPathBytes = 520;

  ControlPanelLauncher(PanelLauncherPorts ports, PanelServer& server, PanelLauncherConfig config);

  void openControlPanel() override;

  // The first open panel window in Z order; false when there is none.
  bool findPanelWindow(TopWindow& found);
  // True with the path of a Chromium-based browser: the default one when it is one of them,
  // else Edge, else Chrome.
  bool findBrowser(std::string& path);
  // True when the App Paths entry of `exeName` (current user first) names an existing file.
  bool findAppPath(std::string_view exeName, std::string& path);
  // The app window's geometry from the screen's scale and work area, with their fallbacks.
  PanelGeometry computeGeometry();
  // A copy of the page beside the program or on a dongle drive; false when there is none.
  bool findPanelFile(std::string& path);

 private:
  bool isExistingFile(const std::string& path);
  double screenScale();
  void openServedPanel(std::uint32_t port);
  void openPanelFile(const std::string& file);

  PanelLauncherPorts ports_;
  PanelServer& server_;
  PanelLauncherConfig config_;
};

}  // namespace tw
