// The tray process object. One per process (tests build as many as they like).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/tray_app.h"
#include "app/tray_ids.h"

namespace tw {

class TrayApp : public WindowHandler {
 public:
  TrayApp(TrayAppConfig config, TrayAppPorts ports, DongleLink& dongle, TrayAppServices services);

  // The whole life of the process: start-up, message loop, shutdown. Returns the exit code: 0
  // after a normal run or a hand-over to another instance, 1 when the window cannot be made.
  int run();

  LResult onMessage(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) override;

  // What the tray shows, for the Linux console and for tests.
  bool iconShown() const { return iconShown_; }
  const NotifyIconRecord& notifyData() const { return notifyData_; }
  const DongleStatus& status() const { return status_; }
  bool interactiveStart() const { return interactiveStart_; }
  std::uint32_t ownVersionNumber() const { return ownVersionNumber_; }
  WindowId trayWindow() const { return trayWindow_; }
  std::uint32_t versionMessage() const { return versionMessage_; }
  std::uint32_t taskbarCreatedMessage() const { return taskbarCreatedMessage_; }

  // The tray's own operations (each runs on the UI thread).
  void refreshTray();
  void showTrayMenu();
  void showFirmwareNotice();
  void showAbout();
  void updateFromMenu();
  std::string aboutText();
  std::string statusLine();

 private:
  enum class Handshake { BecomePrimary, Exit };
  Handshake singleInstanceHandshake();
  Handshake handOver();
  WindowId findRunningInstance();

  void pollStep();
  void onCommand(std::uint32_t command);
  void onTaskbarCreated();
  void onFirmwareMessage(WParam kind);
  void onDestroy();
  void quitFromCommand();
  void addIcon();
  void removeIcon();

  TrayAppConfig config_;
  TrayAppPorts ports_;
  DongleLink& dongle_;
  TrayAppServices services_;

  bool interactiveStart_ = true;
  std::uint32_t versionMessage_ = 0;
  std::uint32_t taskbarCreatedMessage_ = 0;
  std::uint32_t ownVersionNumber_ = 0;
  std::unique_ptr<NamedMutex> singleInstanceMutex_;
  WindowId trayWindow_ = 0;
  NotifyIconRecord notifyData_;
  // The tray means the icon to be in the notification area (added and not removed since)...
  bool iconWanted_ = false;
  // ...and the shell has taken it. At log-on the shell may not be up yet and refuse the add;
  // then the icon stays wanted but not shown, and later polls and "TaskbarCreated" add it again.
  bool iconShown_ = false;
  std::uint32_t missedPolls_ = 0;
  bool lowBatteryNoticeShown_ = false;
  DongleStatus status_;
};

}  // namespace tw
