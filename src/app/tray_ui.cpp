// What the user sees: icon and tooltip, the low-battery balloon, the menu, firmware notices and
// the About box.
#include <vector>

#include "app/status_text.h"
#include "app/tray_app_impl.h"
#include "common/text.h"

namespace tw {
namespace {

constexpr std::size_t kTipUnits = 127;
constexpr std::size_t kMenuItemUnits = 95;
constexpr std::size_t kBalloonTitleUnits = 63;
constexpr std::size_t kBalloonTextUnits = 255;
constexpr std::size_t kAboutUnits = 767;
constexpr std::size_t kRefusalUnits = 255;
constexpr std::size_t kTextCapacity = 1024;

constexpr int kIconConnected = 1;
constexpr int kIconNoDongle = 2;
constexpr int kIconBatteryLow = 3;

std::string capitalised(std::string word) {
  if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 32);
  return word;
}

MenuItem command(std::uint32_t id, std::string text, bool greyed = false, bool checked = false) {
  return MenuItem{MenuItem::Kind::Command, id, std::move(text), greyed, checked};
}

MenuItem separator() {
  return MenuItem{MenuItem::Kind::Separator, 0, {}, false, false};
}

}  // namespace

std::string TrayApp::statusLine() {
  std::string jobLine;
  if (!services_.firmware.jobTrayText(jobLine)) jobLine.clear();
  return buildStatusLine(status_, jobLine, services_.firmware.isBoardInUpdateMode());
}

void TrayApp::refreshTray() {
  bool busy = services_.firmware.isFirmwareBusy();
  bool lowBattery = false;
  if (busy) {
    notifyData_.iconResource = kIconConnected;
  } else if (!status_.present) {
    notifyData_.iconResource = kIconNoDongle;
  } else if (isBatteryLow(status_)) {
    notifyData_.iconResource = kIconBatteryLow;
    lowBattery = true;
  } else {
    notifyData_.iconResource = kIconConnected;
  }
  notifyData_.tip = cutToUtf16Units(
      formatText(kTextCapacity, "%s \xE2\x80\x94 %s", APP_NAME, statusLine().c_str()), kTipUnits);
  if (iconShown_ && !ports_.tray.modify(notifyData_)) {
    // The shell lost the icon without a word (it tells of a restart with "TaskbarCreated", but
    // not always in time): add it again.
    iconShown_ = ports_.tray.add(notifyData_);
  }

  if (!lowBattery) {
    lowBatteryNoticeShown_ = false;  // the spell is over
    return;
  }
  // Once per spell, and only where the user can see it.
  if (!iconShown_ || lowBatteryNoticeShown_) return;
  lowBatteryNoticeShown_ = true;
  std::string text = formatText(kTextCapacity, "%s \xE2\x80\x94 plug it in when you get a chance.",
                                capitalised(batteryWord(status_.batteryLevel)).c_str());
  ports_.tray.balloon(notifyData_, "Controller battery", cutToUtf16Units(text, kBalloonTextUnits),
                      BalloonIcon::Warning);
}

void TrayApp::showTrayMenu() {
  FirmwareService& firmware = services_.firmware;
  bool busy = firmware.isFirmwareBusy();
  std::vector<MenuItem> items;
  items.push_back(command(ID_OPEN_PANEL, "Open control panel"));
  items.push_back(separator());
  items.push_back(command(ID_STATUS, statusLine(), true));
  items.push_back(separator());
  std::string offered;
  if (firmware.offeredUpdate(offered)) {
    std::string text = formatText(kTextCapacity, "Update firmware to %s", offered.c_str());
    items.push_back(command(ID_UPDATE_FIRMWARE, cutToUtf16Units(text, kMenuItemUnits), busy));
  }
  items.push_back(command(ID_CHECK_UPDATES, "Check for firmware updates", busy));
  items.push_back(command(ID_REPAIR, "Repair a dongle\xE2\x80\xA6"));
  items.push_back(separator());
  items.push_back(command(ID_START_WITH_WINDOWS, "Start with Windows", false,
                          services_.startWithWindows.isStartWithWindowsOn()));
  items.push_back(command(ID_ABOUT, "About"));
  items.push_back(separator());
  items.push_back(command(ID_QUIT, "Quit"));
  ports_.tray.showPopupMenu(trayWindow_, items);
}

void TrayApp::showFirmwareNotice() {
  TrayNotice notice;
  if (!services_.firmware.takeNotice(notice)) return;
  if (!iconShown_) addIcon();  // a notice at log-on may arrive before any dongle did
  if (!iconShown_) return;     // no shell to show it in
  ports_.tray.balloon(notifyData_, cutToUtf16Units(notice.title, kBalloonTitleUnits),
                      cutToUtf16Units(notice.text, kBalloonTextUnits),
                      notice.warning ? BalloonIcon::Warning : BalloonIcon::Info);
}

std::string TrayApp::aboutText() {
  FirmwareService& firmware = services_.firmware;
  const char* dongleFirmware =
      status_.present && !status_.firmware.empty() ? status_.firmware.c_str() : "not connected";
  const char* connection =
      status_.present ? "Connected" : "Plug the Bridge in and turn your controller on.";
  std::string offered;
  std::string firmwareLine;
  if (firmware.offeredUpdate(offered)) {
    firmwareLine = formatText(kTextCapacity, "Firmware %s is ready to install.", offered.c_str());
  } else if (status_.present) {
    firmwareLine = "Firmware is up to date.";
  }
  std::uint32_t port = services_.server.serverPort();
  std::string address =
      port != 0 ? formatText(64, "http://127.0.0.1:%u/", port) : std::string("(not listening)");
  std::string text = formatText(
      kTextCapacity * 2,
      "%s for Windows %s\n\nDongle firmware: %s\n%s\n%s\n\nThe control panel is served by this "
      "app at %s \xE2\x80\x94 it works in any browser, and doesn't need the dongle's "
      "drive.\n\n%s\n%s",
      APP_NAME, config_.versionText.c_str(), dongleFirmware, connection, firmwareLine.c_str(),
      address.c_str(), config_.vendorWebAddress.c_str(), config_.supportEmail.c_str());
  return cutToUtf16Units(text, kAboutUnits);
}

void TrayApp::showAbout() {
  ports_.desktop.messageBox(aboutText(), APP_NAME, MessageBoxIcon::Information,
                            MessageBoxButtons::Ok);
}

void TrayApp::updateFromMenu() {
  std::string reason;
  if (services_.firmware.startFirmwareAction("update", false, reason)) {
    services_.launcher.openControlPanel();
    return;
  }
  ports_.desktop.messageBox(cutToUtf16Units(reason, kRefusalUnits), APP_NAME,
                            MessageBoxIcon::Information, MessageBoxButtons::Ok);
}

}  // namespace tw
