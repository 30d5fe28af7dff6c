// The least behaviour the tray expects of subsystems that are not built yet: no server, no
// firmware work, no start with Windows. Each is replaced by its real subsystem later.
#pragma once

#include "app/tray_services.h"

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

class IdleFirmware : public FirmwareService {
 public:
  void firmwareStart(WindowId) override {}
  void firmwareStop() override {}
  void reportDongle(bool, const std::string&) override {}
  bool isFirmwareBusy() override { return false; }
  bool isBoardInUpdateMode() override { return false; }
  bool jobTrayText(std::string&) override { return false; }
  bool offeredUpdate(std::string&) override { return false; }
  bool takeNotice(TrayNotice&) override { return false; }
  bool startFirmwareAction(const std::string&, bool, std::string& error) override {
    error = "Firmware updates aren't available in this version of the app.";
    return false;
  }
  void requestUpdateCheck() override {}
};

class NoStartWithWindows : public StartWithWindows {
 public:
  bool isStartWithWindowsOn() override { return false; }
  void setStartWithWindows(bool) override {}
  void refreshInstalledCopy() override {}
};

}  // namespace tw
