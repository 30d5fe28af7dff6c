// The hidden window's procedure: messages from the shell, the timer, other instances and the
// firmware threads, and the menu's commands.
#include "app/tray_app_impl.h"

namespace tw {
namespace {

constexpr const char* kQuitWhileBusyText =
    "The dongle's firmware is being updated.\n\nQuitting now can leave it needing a repair. "
    "That's always fixable (hold its button while plugging it in), but it's easier to let this "
    "finish.\n\nQuit anyway?";
// Consecutive empty polls after which a log-on launch takes its icon away again.
constexpr std::uint32_t kMissedPollsBeforeHiding = 2;

}  // namespace

LResult TrayApp::onMessage(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) {
  // Registered numbers first; a registration that failed (0) never matches.
  if (versionMessage_ != 0 && message == versionMessage_) {
    return static_cast<LResult>(ownVersionNumber_);
  }
  if (taskbarCreatedMessage_ != 0 && message == taskbarCreatedMessage_) {
    onTaskbarCreated();
    return 0;
  }
  switch (message) {
    case msg::DESTROY:
      onDestroy();
      return 0;
    case msg::QUERYENDSESSION:
      return 1;
    case msg::COMMAND:
      onCommand(static_cast<std::uint32_t>(wParam & 0xFFFF));
      return 0;
    case msg::TIMER:
      if (wParam == POLL_TIMER) pollStep();
      return 0;
    case WM_APP_TRAY:
      if (lParam == msg::LBUTTONUP || lParam == msg::LBUTTONDBLCLK ||
          lParam == msg::BALLOON_USER_CLICK) {
        services_.launcher.openControlPanel();
      } else if (lParam == msg::RBUTTONUP || lParam == msg::CONTEXTMENU) {
        showTrayMenu();
      }
      return 0;
    case WM_APP_FIRMWARE:
      onFirmwareMessage(wParam);
      return 0;
    default:
      return ports_.loop.defaultProcedure(window, message, wParam, lParam);
  }
}

void TrayApp::onCommand(std::uint32_t command) {
  switch (command) {
    case ID_OPEN_PANEL:
    case ID_REPAIR:
      services_.launcher.openControlPanel();
      break;
    case ID_START_WITH_WINDOWS:
      services_.startWithWindows.setStartWithWindows(
          !services_.startWithWindows.isStartWithWindowsOn());
      break;
    case ID_ABOUT:
      showAbout();
      break;
    case ID_QUIT:
      quitFromCommand();
      break;
    case ID_UPDATE_FIRMWARE:
      updateFromMenu();
      break;
    case ID_CHECK_UPDATES:
      services_.firmware.requestUpdateCheck();
      break;
    default:
      break;  // ID_STATUS and anything unknown do nothing
  }
}

void TrayApp::quitFromCommand() {
  if (services_.firmware.isFirmwareBusy()) {
    MessageBoxAnswer answer = ports_.desktop.messageBox(
        kQuitWhileBusyText, APP_NAME, MessageBoxIcon::Warning, MessageBoxButtons::YesNoDefaultNo);
    if (answer != MessageBoxAnswer::Yes) return;
  }
  ports_.loop.destroyWindow(trayWindow_);
}

void TrayApp::onDestroy() {
  ports_.loop.killTimer(trayWindow_, POLL_TIMER);
  removeIcon();
  ports_.loop.postQuit(0);
}

void TrayApp::onTaskbarCreated() {
  // Explorer (re)started and has no icon of ours; bring back only one that ought to be showing,
  // including one the shell refused before it was up.
  if (!iconWanted_) return;
  iconShown_ = false;
  addIcon();
  refreshTray();
}

void TrayApp::onFirmwareMessage(WParam kind) {
  if (kind == FW_NOTICE) showFirmwareNotice();
  FirmwareService& firmware = services_.firmware;
  if (!iconShown_ && (iconWanted_ || firmware.isFirmwareBusy() || firmware.isBoardInUpdateMode())) {
    addIcon();
  }
  refreshTray();
}

void TrayApp::pollStep() {
  dongle_.discoverDongle(status_, true);
  FirmwareService& firmware = services_.firmware;
  firmware.reportDongle(status_.present, status_.firmware);

  if (status_.present || firmware.isBoardInUpdateMode() || firmware.isFirmwareBusy()) {
    missedPolls_ = 0;
    if (!iconShown_) addIcon();
    refreshTray();
    return;
  }
  if (missedPolls_ < UINT32_MAX) ++missedPolls_;
  if (missedPolls_ <= kMissedPollsBeforeHiding || interactiveStart_) {
    if (iconWanted_ && !iconShown_) addIcon();  // refused so far: try again
    refreshTray();
  } else {
    removeIcon();
  }
}

}  // namespace tw
