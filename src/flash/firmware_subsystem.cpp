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
      store_([this](WParam kind) { postToTray(kind); }),
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
    MutexGuard guard(checkThreadLock_);
    stopFlag_.exchange(true);
    check = std::move(checkThread_);
  }
  if (check) check->join(kWaitForever);
}

void FirmwareSubsystem::firmwareStart(WindowId trayWindow) {
  if (thread_) return;
  trayWindow_.store(trayWindow);
  // Probing removable drives must never raise a system dialog.
  ports_.files.addErrorMode(ERROR_MODE_FAIL_CRITICAL_ERRORS | ERROR_MODE_NO_OPEN_FILE_ERROR_BOX);
  // Without an event or a thread the firmware side simply does nothing.
  if (!wakeEvent_) return;
  thread_ = ports_.clock.startThread([this] { threadMain(); });
}

void FirmwareSubsystem::firmwareStop() {
  if (!thread_) return;
  stopFlag_.exchange(true);
  store_.raiseCancel();
  wakeEvent_->set();
  // A thread that does not end in time is let go; the process is about to end anyway.
  thread_->join(kStopWaitMs);
  thread_.reset();
}

void FirmwareSubsystem::reportDongle(bool present, const std::string& firmware) {
  if (!store_.reportDongle(present, reduceDongleVersion(firmware))) return;
  // A dongle that came or went may make a check due; the firmware thread looks at once.
  if (wakeEvent_) wakeEvent_->set();
}

void FirmwareSubsystem::requestUpdateCheck() {
  store_.announceNextCheck();
  // A check already running announces its own result.
  if (!store_.isCheckRunning()) startCheck();
}

void FirmwareSubsystem::startCheck() {
  if (!store_.claimCheck()) return;
  MutexGuard guard(checkThreadLock_);
  std::unique_ptr<ClockThread> thread;
  if (!stopFlag_.load()) {
    thread = ports_.clock.startThread([this] {
      runCheck();
      store_.releaseCheck();
    });
  }
  if (!thread) {
    // A later pass of the schedule tries again.
    store_.releaseCheck();
    return;
  }
  // The previous check thread has released the flag, so it is at its very end: let it go.
  checkThread_ = std::move(thread);
}

void FirmwareSubsystem::runCheck() {
  store_.beginOnlineCheck();
  // Network and parsing without the lock; only the outcome is stored under it.
  ReleaseList list;
  char error[CHECK_ERROR_CAPACITY];
  const bool ok = fetchReleaseList(ports_.https, &stopFlag_, list, error, sizeof error) == 1;
  store_.finishOnlineCheck(ok, list, error, ports_.clock.tickMs());
}

bool FirmwareSubsystem::fetchRelease(const ReleaseInfo& release, FetchedBytes& data,
                                     std::size_t& size, std::string& reason,
                                     const FirmwareFetchProgress& progress) {
  const FirmwareFetchPorts ports{ports_.https, ports_.files, ports_.signatures, ports_.releaseKey,
                                 &stopFlag_};
  return fetchFirmware(ports, release, data, size, reason, progress);
}

bool FirmwareSubsystem::isFirmwareBusy() {
  return store_.read([](const FirmwareState& state) { return isJobBusy(state); });
}

bool FirmwareSubsystem::isBoardInUpdateMode() {
  return store_.read([](const FirmwareState& state) { return state.board.present; });
}

bool FirmwareSubsystem::takeNotice(TrayNotice& notice) {
  return store_.takeNotice(notice);
}

bool FirmwareSubsystem::jobTrayText(std::string& line) {
  return store_.read([&line](const FirmwareState& state) { return tw::jobTrayText(state, line); });
}

bool FirmwareSubsystem::offeredUpdate(std::string& version) {
  return store_.read(
      [&version](const FirmwareState& state) { return tw::offeredUpdate(state, version); });
}

bool FirmwareSubsystem::startFirmwareAction(const std::string& action, bool confirm,
                                            std::string& error) {
  error.clear();
  FirmwareAction word;
  if (!parseFirmwareAction(action, word)) {
    error = "Unknown action.";
    return false;
  }
  const bool queued = store_.queueRequest(word, confirm, error);
  if (queued && wakeEvent_) wakeEvent_->set();
  return queued;
}

void FirmwareSubsystem::cancelFirmwareJob() {
  store_.cancelJob();
}

void FirmwareSubsystem::dismissFirmwareResult() {
  store_.dismissJob();
}

std::uint32_t FirmwareSubsystem::firmwareSeq() {
  return store_.firmwareSeq();
}

bool FirmwareSubsystem::writeFirmwareState(char* buffer, std::size_t capacity) {
  // Every "ago" of one document is measured from one moment, read before the lock.
  const std::uint64_t now = ports_.clock.tickMs();
  const FirmwareDocumentFacts facts{options_.appVersion};
  return store_.read([&](const FirmwareState& state) {
    return tw::writeFirmwareState(state, facts, now, buffer, capacity);
  });
}

void FirmwareSubsystem::runFirmwareJob(const FirmwareRequest& request) {
  store_.beginJob(request);
  runBegunJob(request);
}

void FirmwareSubsystem::runBegunJob(const FirmwareRequest& request) {
  FirmwareJobBody& body = options_.jobBody != nullptr ? *options_.jobBody : *pipeline_;
  FirmwareJobContext context(store_, ports_.clock, stopFlag_);
  const FirmwareJobEnding ending = body.runFirmwareJob(context, request);
  store_.endJob(ending, ports_.clock.tickMs());
}

void FirmwareSubsystem::postToTray(WParam kind) {
  const WindowId window = trayWindow_.load();
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
  store_.publishBuiltInImage(image);
}

void FirmwareSubsystem::takeTurn() {
  // A queued request takes the whole turn: no watcher pass runs beside a job.
  FirmwareRequest request;
  if (store_.takeRequest(request)) {
    runBegunJob(request);
    return;
  }
  watchBoards();
  if (store_.finishWatcherTurn(ports_.clock.tickMs())) startCheck();
}

void FirmwareSubsystem::watchBoards() {
  BoardWatcherPorts ports{picoboot_, ports_.files, ports_.desktop};
  tw::watchBoards(ports, store_, ports_.clock);
}

}  // namespace tw
