#include "flash/firmware_store.h"

#include "common/text.h"
#include "flash/board_advice.h"
#include "flash/board_record.h"
#include "flash/online_check.h"
#include "flash/pending_notice.h"

namespace tw {

FirmwareState FirmwareStore::snapshot() const {
  MutexGuard guard(lock_);
  return state_;
}

std::uint32_t FirmwareStore::firmwareSeq() const {
  MutexGuard guard(lock_);
  return state_.firmwareSeq;
}

void FirmwareStore::publishBuiltInImage(const BuiltInImage& image) {
  bool notice;
  {
    MutexGuard guard(lock_);
    state_.builtIn = image;
    ++state_.firmwareSeq;
    // The tray usually reports the dongle before the image is checked, and reports the same
    // values again afterwards; the offer it may now have is decided here.
    runOfferNoticeRule(state_);
    notice = state_.notice.pending;
    seqToldTray_ = state_.firmwareSeq;
  }
  post(FW_CHANGED);
  if (notice) post(FW_NOTICE);  // the tray is woken only for something to show
}

bool FirmwareStore::reportDongle(bool present, const std::string& version) {
  {
    MutexGuard guard(lock_);
    if (!applyDongleReport(state_, present, version)) return false;
  }
  post(FW_CHANGED);
  post(FW_NOTICE);
  return true;
}

bool FirmwareStore::recordSighting(const BoardSighting& seen, std::uint64_t nowMs,
                                   std::string& pathToRead) {
  MutexGuard guard(lock_);
  return tw::recordSighting(state_, seen, nowMs, pathToRead);
}

void FirmwareStore::recordProbe(const std::string& path, const BoardProbe& probe,
                                std::uint64_t nowMs) {
  MutexGuard guard(lock_);
  tw::recordProbe(state_, path, probe, nowMs);
}

bool FirmwareStore::finishWatcherTurn(std::uint64_t nowMs) {
  bool tellTray;
  bool checkNow;
  {
    MutexGuard guard(lock_);
    if (isBoardAdviceDue(state_)) giveBoardAdvice(state_);
    // The tray refreshes on its own poll: wake it only when there is something new to show, a
    // notice or any change of the state since it was last told.
    tellTray = state_.notice.pending || state_.firmwareSeq != seqToldTray_;
    seqToldTray_ = state_.firmwareSeq;
    // A check the person asked for just after the last one took its result is still owed.
    checkNow = !isCheckRunning() && (state_.online.announce || isCheckDue(state_, nowMs));
  }
  if (tellTray) post(FW_NOTICE);
  return checkNow;
}

void FirmwareStore::announceNextCheck() {
  MutexGuard guard(lock_);
  state_.online.announce = true;
}

void FirmwareStore::beginOnlineCheck() {
  {
    MutexGuard guard(lock_);
    tw::beginOnlineCheck(state_);
  }
  post(FW_CHANGED);
}

void FirmwareStore::finishOnlineCheck(bool ok, const ReleaseList& list, const char* error,
                                      std::uint64_t nowMs) {
  {
    MutexGuard guard(lock_);
    tw::finishOnlineCheck(state_, ok, list, error, nowMs);
  }
  post(FW_CHANGED);
  post(FW_NOTICE);
}

bool FirmwareStore::queueRequest(FirmwareAction action, bool confirm, std::string& message) {
  bool queued;
  {
    MutexGuard guard(lock_);
    queued = queueFirmwareRequest(state_, action, confirm, message);
  }
  post(FW_CHANGED);
  return queued;
}

void FirmwareStore::cancelJob() {
  {
    MutexGuard guard(lock_);
    // Raised under the lock: the job changes `cancellable` under it, so a cancel is only ever
    // raised while the job says it will honour one.
    if (cancelFirmwareRequest(state_)) raiseCancel();
  }
  post(FW_CHANGED);
}

void FirmwareStore::dismissJob() {
  {
    MutexGuard guard(lock_);
    dismissFirmwareJob(state_);
  }
  post(FW_CHANGED);
}

bool FirmwareStore::takeRequest(FirmwareRequest& taken) {
  bool found;
  {
    MutexGuard guard(lock_);
    // Cleared before the job begins: from then on a cancel is the person's, for this job.
    clearCancel();
    found = takeFirmwareRequest(state_, taken);
  }
  if (found) post(FW_CHANGED);
  return found;
}

void FirmwareStore::beginJob(const FirmwareRequest& request) {
  {
    MutexGuard guard(lock_);
    clearCancel();
    beginFirmwareJob(state_, request);
  }
  post(FW_CHANGED);
}

void FirmwareStore::endJob(const FirmwareJobEnding& ending, std::uint64_t nowMs) {
  {
    MutexGuard guard(lock_);
    endFirmwareJob(state_, ending, nowMs);
  }
  post(FW_CHANGED);
  post(FW_NOTICE);
}

void FirmwareStore::changeJob(const std::function<void(FirmwareJob&)>& change) {
  {
    MutexGuard guard(lock_);
    change(state_.job);
    ++state_.firmwareSeq;
  }
  post(FW_CHANGED);
}

void FirmwareStore::setJobStep(JobPhase phase, int pct) {
  changeJob([&](FirmwareJob& job) {
    if (phase != JobPhase::None) job.phase = phase;
    if (pct >= 0) job.pct = pct;
  });
}

void FirmwareStore::setJobStep(JobPhase phase, int pct, std::string msg) {
  changeJob([&](FirmwareJob& job) {
    if (phase != JobPhase::None) job.phase = phase;
    if (pct >= 0) job.pct = pct;
    job.msg = std::move(msg);
  });
}

void FirmwareStore::setJobDetail(std::string detail) {
  changeJob([&](FirmwareJob& job) { job.detail = std::move(detail); });
}

void FirmwareStore::setJobCancellable(bool cancellable) {
  changeJob([&](FirmwareJob& job) { job.cancellable = cancellable; });
}

void FirmwareStore::setJobNeedsUser(bool needsUser) {
  changeJob([&](FirmwareJob& job) { job.needsUser = needsUser; });
}

void FirmwareStore::setJobTarget(const std::string& target) {
  changeJob([&](FirmwareJob& job) { job.target = target; });
}

void FirmwareStore::setJobFrom(const std::string& from) {
  changeJob([&](FirmwareJob& job) { job.from = from; });
}

void FirmwareStore::askForButton(const char* title, const char* text) {
  {
    MutexGuard guard(lock_);
    state_.job.cancellable = true;
    state_.job.needsUser = true;
    postNotice(state_.notice, NoticeKind::Information, title, "%s", text);
    ++state_.firmwareSeq;
  }
  post(FW_CHANGED);
  post(FW_NOTICE);
}

void FirmwareStore::buttonAnswered() {
  changeJob([](FirmwareJob& job) {
    job.needsUser = false;
    job.detail.clear();
  });
}

bool FirmwareStore::stopTakingCancels() {
  // Decided under the lock that raises a cancel: no cancel can slip in after this answer.
  bool raised = false;
  changeJob([&](FirmwareJob& job) {
    raised = isCancelRaised();
    job.cancellable = false;
    job.needsUser = false;
  });
  return raised;
}

void FirmwareStore::takeCancelsAgain() {
  changeJob([&](FirmwareJob& job) {
    clearCancel();
    job.cancellable = true;
  });
}

void FirmwareStore::dongleReturned(const std::string& version, const std::string& detail) {
  {
    MutexGuard guard(lock_);
    state_.dongle.present = true;
    state_.dongle.version = version;
    state_.job.detail = detail;
    ++state_.firmwareSeq;
  }
  post(FW_CHANGED);
}

void FirmwareStore::recordForeignBoard(const std::string& program) {
  {
    MutexGuard guard(lock_);
    BootBoard& board = state_.board;
    if (board.present) {
      board.read = BoardRead::Read;
      board.blank = false;
      board.ours = false;
      board.program = program;
      board.version.clear();
    }
    ++state_.firmwareSeq;
  }
  post(FW_CHANGED);
}

void FirmwareStore::markReleaseUnusable(const ReleaseInfo& build) {
  {
    MutexGuard guard(lock_);
    state_.unusableRelease = releaseIdentity(build);
    ++state_.firmwareSeq;
  }
  post(FW_CHANGED);
}

bool FirmwareStore::takeNotice(TrayNotice& notice) {
  MutexGuard guard(lock_);
  return tw::takeNotice(state_.notice, notice);
}

}  // namespace tw
