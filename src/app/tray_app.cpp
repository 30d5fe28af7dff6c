// Start-up, the single-instance hand-over and shutdown.
#include "app/tray_app_impl.h"

#include "firmware/versions.h"

namespace tw {
namespace {

constexpr std::uint32_t kVersionQueryTimeoutMs = 2000;
constexpr std::uint32_t kOldInstanceExitTimeoutMs = 30000;
constexpr std::uint32_t kMutexTakeOverTimeoutMs = 5000;
constexpr const char* kLookingTip = "Tarnwick Bridge \xE2\x80\x94 looking\xE2\x80\xA6";

}  // namespace

TrayApp::TrayApp(TrayAppConfig config, TrayAppPorts ports, DongleLink& dongle,
                 TrayAppServices services)
    : config_(std::move(config)),
      ports_(ports),
      dongle_(dongle),
      services_(services),
      ownVersionNumber_(packedVersion(config_.versionText)) {}

int TrayApp::run() {
  interactiveStart_ = config_.commandLine.find("--startup") == std::string::npos;
  // The dongle link (and its lock) exists before this object; nothing touched HID yet.
  versionMessage_ = ports_.loop.registerMessage(VERSION_MESSAGE_NAME);

  bool alreadyExisted = false;
  singleInstanceMutex_ = ports_.desktop.createOwnedMutex(SINGLE_INSTANCE_MUTEX, alreadyExisted);
  if (singleInstanceMutex_ && alreadyExisted && singleInstanceHandshake() == Handshake::Exit) {
    return 0;
  }

  services_.startWithWindows.refreshInstalledCopy();

  trayWindow_ = ports_.loop.createHiddenWindow(TRAY_WINDOW_CLASS, APP_NAME, this);
  if (trayWindow_ == 0) return 1;
  ports_.tray.loadIcons();

  taskbarCreatedMessage_ = ports_.loop.registerMessage(TASKBAR_CREATED_MESSAGE_NAME);
  ports_.loop.allowMessage(trayWindow_, taskbarCreatedMessage_);
  if (versionMessage_ != 0) ports_.loop.allowMessage(trayWindow_, versionMessage_);

  notifyData_ = NotifyIconRecord{trayWindow_, 1, WM_APP_TRAY, 2, kLookingTip};

  services_.server.startServer();
  services_.firmware.firmwareStart(trayWindow_);

  dongle_.discoverDongle(status_, true);
  services_.firmware.reportDongle(status_.present, status_.firmware);
  // At log-on with no dongle the icon stays away until there is something to show.
  if (status_.present || interactiveStart_) {
    if (!iconShown_) addIcon();
    refreshTray();
  }
  ports_.loop.setTimer(trayWindow_, POLL_TIMER, POLL_INTERVAL_MS);
  if (interactiveStart_) services_.launcher.openControlPanel();

  ports_.loop.run();

  services_.firmware.firmwareStop();
  singleInstanceMutex_.reset();
  return 0;
}

WindowId TrayApp::findRunningInstance() {
  WindowId window = ports_.desktop.findWindowByClass(TRAY_WINDOW_CLASS);
  if (window == 0) window = ports_.desktop.findMessageOnlyWindowByClass(TRAY_WINDOW_CLASS);
  return window;
}

TrayApp::Handshake TrayApp::singleInstanceHandshake() {
  Desktop& desktop = ports_.desktop;
  WindowId running = findRunningInstance();
  if (running == 0) return handOver();

  std::uintptr_t runningVersion = 0;
  if (versionMessage_ != 0 &&
      !desktop.sendMessageWithTimeout(running, versionMessage_, 0, 0, kVersionQueryTimeoutMs,
                                      runningVersion)) {
    runningVersion = 0;  // a silent or hung instance counts as the oldest
  }
  if (static_cast<std::uint32_t>(runningVersion) >= ownVersionNumber_) return handOver();

  // The running copy is older: ask it to quit (it may ask its user first) and take its place.
  std::uint32_t processId = desktop.windowProcessId(running);
  if (processId == 0) return handOver();
  std::unique_ptr<ProcessHandle> process = desktop.openProcessForWaiting(processId);
  if (!process) return handOver();
  desktop.postMessageTo(running, msg::COMMAND, ID_QUIT, 0);
  WaitOutcome exited = process->wait(kOldInstanceExitTimeoutMs);
  process.reset();
  if (exited != WaitOutcome::Signalled) return handOver();

  WaitOutcome taken = singleInstanceMutex_->wait(kMutexTakeOverTimeoutMs);
  if (taken == WaitOutcome::Signalled || taken == WaitOutcome::Abandoned) {
    return Handshake::BecomePrimary;
  }
  return handOver();
}

TrayApp::Handshake TrayApp::handOver() {
  Desktop& desktop = ports_.desktop;
  WindowId running = findRunningInstance();
  if (running != 0 && interactiveStart_) {
    // The running instance may bring the panel to the front only if we allow it.
    std::uint32_t processId = desktop.windowProcessId(running);
    if (processId != 0) desktop.allowSetForegroundWindow(processId);
    desktop.postMessageTo(running, msg::COMMAND, ID_OPEN_PANEL, 0);
  }
  singleInstanceMutex_.reset();
  return Handshake::Exit;
}

void TrayApp::addIcon() {
  iconWanted_ = true;
  // A busy shell can time out an add that it still carries out; then the icon is there after all
  // and only a modify reaches it.
  iconShown_ = ports_.tray.add(notifyData_) || ports_.tray.modify(notifyData_);
}

void TrayApp::removeIcon() {
  if (iconShown_) ports_.tray.remove(notifyData_);
  iconWanted_ = false;
  iconShown_ = false;
  lowBatteryNoticeShown_ = false;
}

}  // namespace tw
