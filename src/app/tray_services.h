// What the tray asks of the other subsystems. Each later subsystem implements its interface; until
// it lands, app/stand_ins.h provides the least behaviour the tray expects.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window_messages.h"

namespace tw {

class PanelServer {
 public:
  virtual ~PanelServer() = default;
  // Starts the local HTTP server; failure is not fatal (serverPort stays 0).
  virtual bool startServer() = 0;
  // The listening port, 0 when not listening.
  virtual std::uint32_t serverPort() = 0;
};

class PanelLauncher {
 public:
  virtual ~PanelLauncher() = default;
  virtual void openControlPanel() = 0;
};

// A balloon the firmware side leaves for the tray.
struct TrayNotice {
  std::string title;  // at most 63 characters
  std::string text;   // at most 255 characters
  bool warning = false;
};

class FirmwareService {
 public:
  virtual ~FirmwareService() = default;
  // Remembers the window that firmware threads post to and starts the firmware thread.
  virtual void firmwareStart(WindowId trayWindow) = 0;
  // Asks the firmware thread to stop and waits for it at most 4000 ms.
  virtual void firmwareStop() = 0;
  // The running dongle's presence and firmware text after every poll.
  virtual void reportDongle(bool present, const std::string& firmware) = 0;
  virtual bool isFirmwareBusy() = 0;
  virtual bool isBoardInUpdateMode() = 0;
  // True with the job's one-line description while a job is queued or running.
  virtual bool jobTrayText(std::string& line) = 0;
  // True with the version ready to install on the connected dongle.
  virtual bool offeredUpdate(std::string& version) = 0;
  // Takes the pending notice, if any; a notice is shown at most once.
  virtual bool takeNotice(TrayNotice& notice) = 0;
  // Queues a firmware action; false with a one-sentence reason when refused.
  virtual bool startFirmwareAction(const std::string& action, bool confirm, std::string& error) = 0;
  // Asks for a release-list check whose result is announced as a notice; returns at once.
  virtual void requestUpdateCheck() = 0;
};

class StartWithWindows {
 public:
  virtual ~StartWithWindows() = default;
  virtual bool isStartWithWindowsOn() = 0;
  virtual void setStartWithWindows(bool on) = 0;
  // Called once at start-up, before the tray window exists.
  virtual void refreshInstalledCopy() = 0;
};

}  // namespace tw
