#include "flash/firmware_subsystem.h"

#include "flash/board_advice.h"
#include "flash/board_watcher.h"

namespace tw {

FirmwareSubsystem::FirmwareSubsystem(FirmwarePorts ports, FirmwareJobRunner* jobRunner)
    : ports_(ports), picoboot_{ports.usb, ports.clock}, jobRunner_(jobRunner) {}

FirmwareSubsystem::~FirmwareSubsystem() {
  firmwareStop();
}

void FirmwareSubsystem::firmwareStart(WindowId trayWindow) {
  if (thread_) return;
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    trayWindow_ = trayWindow;
  }
  // Probing removable drives must never raise a system dialog.
  ports_.files.addErrorMode(ERROR_MODE_FAIL_CRITICAL_ERRORS | ERROR_MODE_NO_OPEN_FILE_ERROR_BOX);
  // Without an event or a thread the firmware side simply does nothing.
  wakeEvent_ = ports_.clock.createEvent(EventReset::Auto, false);
  if (!wakeEvent_) return;
  thread_ = ports_.clock.startThread([this] { threadMain(); });
}

void FirmwareSubsystem::firmwareStop() {
  if (!thread_) return;
  stopFlag_.exchange(true);
  cancelFlag_.exchange(true);
  wakeEvent_->set();
  // A thread that does not end in time is let go; the process is about to end anyway.
  thread_->join(kStopWaitMs);
  thread_.reset();
}

bool FirmwareSubsystem::isFirmwareBusy() {
  std::lock_guard<std::mutex> lock(state_.lock);
  return state_.jobActive || state_.requestQueued;
}

bool FirmwareSubsystem::isBoardInUpdateMode() {
  std::lock_guard<std::mutex> lock(state_.lock);
  return state_.board.present;
}

bool FirmwareSubsystem::takeNotice(TrayNotice& notice) {
  std::lock_guard<std::mutex> lock(state_.lock);
  return tw::takeNotice(state_.notice, notice);
}

bool FirmwareSubsystem::startFirmwareAction(const std::string&, bool, std::string& error) {
  error = "Firmware updates aren't available in this version of the app.";
  return false;
}

void FirmwareSubsystem::postToTray(WParam kind) {
  WindowId window;
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    window = trayWindow_;
  }
  if (window != 0) ports_.loop.postMessage(window, WM_APP_FIRMWARE, kind, 0);
}

void FirmwareSubsystem::threadMain() {
  // Verify without the lock (it reads 2.5 MB); publish the result under it.
  BuiltInImage image;
  loadBuiltInImage(ports_.resources, image);
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    state_.builtIn = image;
    ++state_.firmwareSeq;
  }
  postToTray(FW_CHANGED);
  while (!stopFlag_.load()) {
    wakeEvent_->wait(kTurnWaitMs);
    if (stopFlag_.load()) break;
    takeTurn();
  }
}

void FirmwareSubsystem::takeTurn() {
  {
    std::unique_lock<std::mutex> lock(state_.lock);
    if (state_.requestQueued) {
      // The job that takes it up comes with the firmware job; until then nothing queues one.
      state_.requestQueued = false;
      lock.unlock();
      if (jobRunner_ != nullptr) jobRunner_->runFirmwareJob();
      return;
    }
  }
  watchBoards();
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    if (isBoardAdviceDue(state_)) giveBoardAdvice(state_);
  }
  postToTray(FW_NOTICE);
}

void FirmwareSubsystem::watchBoards() {
  BoardWatcherPorts ports{picoboot_, ports_.files, ports_.desktop};
  tw::watchBoards(ports, state_, ports_.clock);
}

}  // namespace tw
