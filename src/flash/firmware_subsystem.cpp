#include "flash/firmware_subsystem.h"

#include "flash/board_advice.h"
#include "flash/board_watcher.h"
#include "flash/firmware_document.h"
#include "flash/install_pipeline.h"
#include "flash/online_check.h"
#include "firmware/release_list_fetch.h"

namespace tw {

FirmwareSubsystem::FirmwareSubsystem(FirmwarePorts ports, FirmwareOptions options)
    : ports_(ports),
      picoboot_{ports.usb, ports.clock},
      options_(std::move(options)),
      // Made before any thread can start a request, so that every caller finds it.
      wakeEvent_(ports.clock.createEvent(EventReset::Auto, false)) {
  InstallPorts install{picoboot_, ports_.files, ports_.dongle, [this] { runCheck(); },
                       [this](const ReleaseInfo& release, FetchedBytes& data, std::size_t& size,
                              std::string& reason, const FirmwareFetchProgress& progress) {
                         return fetchRelease(release, data, size, reason, progress);
                       }};
  pipeline_ = std::make_unique<InstallPipeline>(std::move(install));
}

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
  return isJobBusy(state_);
}

bool FirmwareSubsystem::isBoardInUpdateMode() {
  std::lock_guard<std::mutex> lock(state_.lock);
  return state_.board.present;
}

bool FirmwareSubsystem::takeNotice(TrayNotice& notice) {
  std::lock_guard<std::mutex> lock(state_.lock);
  return tw::takeNotice(state_.notice, notice);
}

bool FirmwareSubsystem::jobTrayText(std::string& line) {
  std::lock_guard<std::mutex> lock(state_.lock);
  return tw::jobTrayText(state_, line);
}

bool FirmwareSubsystem::offeredUpdate(std::string& version) {
  std::lock_guard<std::mutex> lock(state_.lock);
  return tw::offeredUpdate(state_, version);
}

bool FirmwareSubsystem::startFirmwareAction(const std::string& action, bool confirm,
                                            std::string& error) {
  error.clear();
  FirmwareAction word;
  if (!parseFirmwareAction(action, word)) {
    error = "Unknown action.";
    return false;
  }
  bool queued;
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    queued = queueFirmwareRequest(state_, word, confirm, error);
  }
  if (queued && wakeEvent_) wakeEvent_->set();
  postToTray(FW_CHANGED);
  return queued;
}

void FirmwareSubsystem::cancelFirmwareJob() {
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    // Set under the lock: the job changes `cancellable` under it, so a cancel is only ever
    // raised while the job says it will honour one.
    if (cancelFirmwareRequest(state_)) cancelFlag_.exchange(true);
  }
  postToTray(FW_CHANGED);
}

void FirmwareSubsystem::dismissFirmwareResult() {
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    dismissFirmwareJob(state_);
  }
  postToTray(FW_CHANGED);
}

std::uint32_t FirmwareSubsystem::firmwareSeq() {
  std::lock_guard<std::mutex> lock(state_.lock);
  return state_.firmwareSeq;
}

bool FirmwareSubsystem::writeFirmwareState(char* buffer, std::size_t capacity) {
  // Every "ago" of one document is measured from one moment, read before the lock.
  const std::uint64_t now = ports_.clock.tickMs();
  std::lock_guard<std::mutex> lock(state_.lock);
  return tw::writeFirmwareState(state_, FirmwareDocumentFacts{options_.appVersion}, now, buffer,
                                capacity);
}

void FirmwareSubsystem::runFirmwareJob(const FirmwareRequest& request) {
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    cancelFlag_.exchange(false);
    beginFirmwareJob(state_, request);
  }
  runBegunJob(request);
}

void FirmwareSubsystem::runBegunJob(const FirmwareRequest& request) {
  postToTray(FW_CHANGED);

  FirmwareJobBody& body = options_.jobBody != nullptr ? *options_.jobBody : *pipeline_;
  FirmwareJobContext context(state_, ports_.clock, cancelFlag_, stopFlag_,
                             [this](WParam kind) { postToTray(kind); });
  const FirmwareJobEnding ending = body.runFirmwareJob(context, request);

  {
    std::lock_guard<std::mutex> lock(state_.lock);
    endFirmwareJob(state_, ending, ports_.clock.tickMs());
  }
  postToTray(FW_CHANGED);
  postToTray(FW_NOTICE);
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
  publishBuiltInImage(image);
  while (!stopFlag_.load()) {
    wakeEvent_->wait(kTurnWaitMs);
    if (stopFlag_.load()) break;
    takeTurn();
  }
}

void FirmwareSubsystem::publishBuiltInImage(const BuiltInImage& image) {
  bool notice;
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    state_.builtIn = image;
    ++state_.firmwareSeq;
    // The tray usually reports the dongle before the image is checked, and reports the same
    // values again afterwards; the offer it may now have is decided here.
    runOfferNoticeRule(state_);
    notice = state_.notice.pending;
    seqToldTray_ = state_.firmwareSeq;
  }
  postToTray(FW_CHANGED);
  if (notice) postToTray(FW_NOTICE);  // the tray is woken only for something to show
}

void FirmwareSubsystem::takeTurn() {
  // A queued request takes the whole turn: no watcher pass runs beside a job.
  FirmwareRequest request;
  bool taken;
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    // Cleared before the job begins: from then on a cancel is the person's, for this job.
    cancelFlag_.exchange(false);
    taken = takeFirmwareRequest(state_, request);
  }
  if (taken) {
    runBegunJob(request);
    return;
  }
  watchBoards();
  bool checkNow = false;
  bool tellTray = false;
  {
    std::lock_guard<std::mutex> lock(state_.lock);
    if (isBoardAdviceDue(state_)) giveBoardAdvice(state_);
    // The tray refreshes on its own poll: wake it only when there is something new to show, a
    // notice or any change of the state since it was last told.
    tellTray = state_.notice.pending || state_.firmwareSeq != seqToldTray_;
    seqToldTray_ = state_.firmwareSeq;
    // A check the person asked for just after the last one took its result is still owed.
    checkNow = !state_.checkRunning.load() &&
               (state_.online.announce || isCheckDue(state_, ports_.clock.tickMs()));
  }
  if (tellTray) postToTray(FW_NOTICE);
  if (checkNow) startCheck();
}

void FirmwareSubsystem::watchBoards() {
  BoardWatcherPorts ports{picoboot_, ports_.files, ports_.desktop};
  tw::watchBoards(ports, state_, ports_.clock);
}

}  // namespace tw
