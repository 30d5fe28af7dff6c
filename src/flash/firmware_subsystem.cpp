#include "flash/firmware_subsystem.h"

#include "flash/board_advice.h"
#include "flash/board_watcher.h"
#include "flash/online_check.h"
#include "firmware/release_list_fetch.h"

namespace tw {

FirmwareSubsystem::FirmwareSubsystem(FirmwarePorts ports, FirmwareJobRunner* jobRunner)
    : ports_(ports), picoboot_{ports.usb, ports.clock}, jobRunner_(jobRunner) {}

FirmwareSubsystem::~FirmwareSubsystem() {
  firmwareStop();
  // The check thread works on this object to its end; with the stop flag set it ends after its
  // next read at the latest, and no other starts.
  std::unique_ptr<ClockThread> check;
  {
    std::lock_guard<std::mutex> guard(checkThreadLock_);
    stopFlag_.exchange(true);
    check = std::move(checkThread_);
  }
  if (check) check->join(kWaitForever);
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

void FirmwareSubsystem::reportDongle(bool present, const std::string& firmware) {
  const std::string version = reduceDongleVersion(firmware);
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    if (!applyDongleReport(state_, present, version)) return;
  }
  postToTray(FW_CHANGED);
  postToTray(FW_NOTICE);
  // A dongle that came or went may make a check due; the firmware thread looks at once.
  if (wakeEvent_) wakeEvent_->set();
}

void FirmwareSubsystem::requestUpdateCheck() {
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    state_.online.announce = true;
  }
  // A check already running announces its own result.
  if (!state_.checkRunning.load()) startCheck();
}

void FirmwareSubsystem::startCheck() {
  bool expected = false;
  if (!state_.checkRunning.compare_exchange_strong(expected, true)) return;
  std::lock_guard<std::mutex> guard(checkThreadLock_);
  std::unique_ptr<ClockThread> thread;
  if (!stopFlag_.load()) {
    thread = ports_.clock.startThread([this] {
      runCheck();
      state_.checkRunning.exchange(false);
    });
  }
  if (!thread) {
    // A later pass of the schedule tries again.
    state_.checkRunning.exchange(false);
    return;
  }
  // The previous check thread has released the flag, so it is at its very end: let it go.
  checkThread_ = std::move(thread);
}

void FirmwareSubsystem::runCheck() {
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    beginOnlineCheck(state_);
  }
  postToTray(FW_CHANGED);
  // Network and parsing without the lock; only the outcome is stored under it.
  ReleaseList list;
  char error[CHECK_ERROR_CAPACITY];
  const bool ok = fetchReleaseList(ports_.https, &stopFlag_, list, error, sizeof error) == 1;
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    finishOnlineCheck(state_, ok, list, error, ports_.clock.tickMs());
  }
  postToTray(FW_CHANGED);
  postToTray(FW_NOTICE);
}

bool FirmwareSubsystem::fetchRelease(const ReleaseInfo& release, FetchedBytes& data,
                                     std::size_t& size, std::string& reason,
                                     const FirmwareFetchProgress& progress) {
  const FirmwareFetchPorts ports{ports_.https, ports_.files, ports_.signatures, ports_.releaseKey,
                                 &stopFlag_};
  return fetchFirmware(ports, release, data, size, reason, progress);
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
  bool checkNow = false;
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    if (isBoardAdviceDue(state_)) giveBoardAdvice(state_);
    // A check the person asked for just after the last one took its result is still owed.
    checkNow = !state_.checkRunning.load() &&
               (state_.online.announce || isCheckDue(state_, ports_.clock.tickMs()));
  }
  postToTray(FW_NOTICE);
  if (checkNow) startCheck();
}

void FirmwareSubsystem::watchBoards() {
  BoardWatcherPorts ports{picoboot_, ports_.files, ports_.desktop};
  tw::watchBoards(ports, state_, ports_.clock);
}

}  // namespace tw
