#include "panel/panel_launcher.h"

#include <algorithm>
#include <array>

#include "common/text.h"

namespace tw {
namespace {

constexpr std::string_view kPanelTitle = "Tarnwick Panel";
constexpr std::string_view kChromiumClassPrefix = "Chrome_WidgetWin_";
constexpr std::string_view kCaption = "Tarnwick Bridge";

// Chromium-based browsers, in the order the default browser is compared against them.
constexpr std::array<std::string_view, 6> kBrowserNames = {
    "chrome.exe", "msedge.exe", "brave.exe", "vivaldi.exe", "chromium.exe", "thorium.exe"};

constexpr std::array<const char*, 2> kEdgeLocations = {
    "%ProgramFiles(x86)%\\Microsoft\\Edge\\Application\\msedge.exe",
    "%ProgramFiles%\\Microsoft\\Edge\\Application\\msedge.exe"};

constexpr std::string_view kBesideProgramFile = "Korrinlink.html";
constexpr std::array<std::string_view, 2> kDriveFiles = {"Tarnwick Bridge.html", "Korrinlink.html"};
constexpr std::array<std::string_view, 2> kDriveLabels = {"TARNWICK", "KORRINLINK"};

constexpr int kMaxWidth = 1088;
constexpr int kWidthMargin = 48;
constexpr int kMaxHeight = 932;
constexpr int kHeightMargin = 32;
constexpr double kReferenceDpi = 96.0;
constexpr ScreenRect kFallbackWorkArea{0, 0, 1280, 800};

constexpr std::size_t kAddressCapacity = 64;
constexpr std::size_t kArgumentsCapacity = 600;

}  // namespace

PanelGeometry panelWindowGeometry(const ScreenRect& workArea, double scale) {
  // Truncation toward zero after the division, as the browser takes whole units.
  const int w = static_cast<int>((workArea.right - workArea.left) / scale);
  const int h = static_cast<int>((workArea.bottom - workArea.top) / scale);
  const int left = static_cast<int>(workArea.left / scale);
  const int top = static_cast<int>(workArea.top / scale);
  PanelGeometry g;
  g.width = std::min(w, kMaxWidth) - kWidthMargin;
  g.height = std::min(h, kMaxHeight) - kHeightMargin;
  g.x = (w - g.width) / 2 + left;
  g.y = (h - g.height) / 2 + top;
  return g;
}

bool isPanelWindow(const TopWindow& window) {
  return window.visible && window.className.starts_with(kChromiumClassPrefix) &&
         window.title == kPanelTitle;
}

std::string_view windowsFileName(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

ControlPanelLauncher::ControlPanelLauncher(PanelLauncherPorts ports, PanelServer& server,
                                           PanelLauncherConfig config)
    : ports_(ports), server_(server), config_(std::move(config)) {}

void ControlPanelLauncher::openControlPanel() {
  TopWindow open;
  if (findPanelWindow(open)) {
    if (open.minimised) ports_.shell.restoreWindow(open.id);
    ports_.shell.setForegroundWindow(open.id);
    return;
  }

  if (const std::uint32_t port = server_.serverPort()) {
    openServedPanel(port);
    return;
  }

  std::string file;
  if (!findPanelFile(file)) {
    ports_.desktop.messageBox(
        "Couldn't open the control panel.\n\nThe app couldn't listen on this PC, and there's no "
        "dongle drive to fall back to. Try " +
            config_.updateHost + "/panel/ in Chrome or Edge instead.",
        std::string(kCaption), MessageBoxIcon::Information, MessageBoxButtons::Ok);
    return;
  }
  openPanelFile(file);
}

bool ControlPanelLauncher::findPanelWindow(TopWindow& found) {
  bool any = false;
  ports_.shell.enumerateWindows([&](const TopWindow& w) {
    if (!isPanelWindow(w)) return true;
    found = w;
    any = true;
    return false;
  });
  return any;
}

void ControlPanelLauncher::openServedPanel(std::uint32_t port) {
  const std::string address = formatText(kAddressCapacity, "http://127.0.0.1:%u/", port);
  std::string browser;
  if (!findBrowser(browser)) {
    // No Chromium-based browser: an ordinary tab of whatever handles web addresses.
    ports_.shell.shellOpen(address, "");
    return;
  }
  const PanelGeometry g = computeGeometry();
  const std::string arguments =
      formatText(kArgumentsCapacity, "--app=%s --window-size=%d,%d --window-position=%d,%d",
                 address.c_str(), g.width, g.height, g.x, g.y);
  // Nothing is reported if the browser fails to start: the person sees it either way.
  ports_.shell.shellOpen(browser, arguments);
}

void ControlPanelLauncher::openPanelFile(const std::string& file) {
  std::string browser;
  if (!findBrowser(browser)) {
    ports_.shell.shellOpen(file, "");
    return;
  }
  // The file is only ever a path that fits Windows' path buffers, so the quoted form fits too.
  ports_.shell.shellOpen(browser, "\"" + file + "\"");
}

bool ControlPanelLauncher::isExistingFile(const std::string& path) {
  // A path longer than Windows' buffers would be cut; a cut path must not be mistaken for it.
  if (path.empty() || utf16Length(path) >= kPathChars) return false;
  return ports_.files.pathKind(path) == PathKind::File;
}

bool ControlPanelLauncher::findAppPath(std::string_view exeName, std::string& path) {
  const std::string key =
      "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + std::string(exeName);
  for (const RegistryHive hive : {RegistryHive::CurrentUser, RegistryHive::LocalMachine}) {
    path.clear();
    if (ports_.registry.readDefaultText(hive, key, kAppPathBytes, path) && isExistingFile(path)) {
      return true;
    }
  }
  return false;
}

bool ControlPanelLauncher::findBrowser(std::string& path) {
  path.clear();
  if (ports_.registry.associatedExecutable("http", "open", kPathChars, path)) {
    const std::string_view name = windowsFileName(path);
    for (const std::string_view browser : kBrowserNames) {
      if (!equalsIgnoreCase(name, browser)) continue;
      if (isExistingFile(path)) return true;
      break;
    }
  }
  if (findAppPath("msedge.exe", path)) return true;
  for (const char* location : kEdgeLocations) {
    path.clear();
    if (ports_.files.expandEnvironment(location, kPathChars, path) && isExistingFile(path)) {
      return true;
    }
  }
  return findAppPath("chrome.exe", path);
}

double ControlPanelLauncher::screenScale() {
  std::uint32_t dpi = 0;
  if (!ports_.shell.systemDpi(dpi)) dpi = ports_.shell.screenLogPixelsX();
  return dpi == 0 ? 1.0 : dpi / kReferenceDpi;
}

PanelGeometry ControlPanelLauncher::computeGeometry() {
  const double scale = screenScale();
  ScreenRect area;
  if (!ports_.shell.workArea(area)) area = kFallbackWorkArea;
  return panelWindowGeometry(area, scale);
}

bool ControlPanelLauncher::findPanelFile(std::string& path) {
  std::string module;
  if (ports_.files.ownModulePath(kPathChars, module)) {
    const std::size_t slash = module.rfind('\\');
    if (slash != std::string::npos) {
      path = module.substr(0, slash + 1) + std::string(kBesideProgramFile);
      if (isExistingFile(path)) return true;
    }
  }

  const std::uint32_t drives = ports_.files.logicalDrives();
  for (int letter = 0; letter < 26; ++letter) {
    if ((drives & (1u << letter)) == 0) continue;
    const std::string root = std::string(1, static_cast<char>('A' + letter)) + ":\\";
    if (ports_.files.driveType(root) != DriveType::Removable) continue;
    std::string label;
    if (!ports_.files.volumeLabel(root, kPathChars, label)) continue;
    const bool dongleDrive =
        std::any_of(kDriveLabels.begin(), kDriveLabels.end(),
                    [&](std::string_view wanted) { return equalsIgnoreCase(label, wanted); });
    if (!dongleDrive) continue;
    for (const std::string_view name : kDriveFiles) {
      path = root + std::string(name);
      if (isExistingFile(path)) return true;
    }
  }
  path.clear();
  return false;
}

}  // namespace tw
