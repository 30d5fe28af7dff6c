#include "flash/firmware_job.h"

#include "common/text.h"
#include "firmware/versions.h"
#include "flash/firmware_state.h"

namespace tw {
namespace {

constexpr char kStarting[] = "Starting\xE2\x80\xA6";
constexpr char kCancelled[] = "Cancelled. Nothing was changed.";
constexpr char kSomethingWentWrong[] = "Something went wrong.";

void forgetBoardRead(BootBoard& board) {
  board.read = BoardRead::NotRead;
  board.blank = false;
  board.ours = false;
  board.program.clear();
  board.version.clear();
  board.why.clear();
  board.retryAt = 0;
}

}  // namespace

FirmwareJobEnding FirmwareJobEnding::ok(std::string installed, std::string message, bool install,
                                        std::string noticeSuffix) {
  FirmwareJobEnding ending;
  ending.result = Result::Ok;
  ending.installed = std::move(installed);
  ending.message = std::move(message);
  ending.installNotice = install;
  ending.noticeSuffix = std::move(noticeSuffix);
  return ending;
}

FirmwareJobEnding FirmwareJobEnding::cancelled() {
  FirmwareJobEnding ending;
  ending.result = Result::Cancelled;
  return ending;
}

FirmwareJobEnding FirmwareJobEnding::failed(std::string error, std::string tech, bool refused) {
  FirmwareJobEnding ending;
  ending.result = Result::Failed;
  ending.error = std::move(error);
  ending.tech = std::move(tech);
  ending.refused = refused;
  return ending;
}

bool isJobBusy(const FirmwareState& state) {
  return state.job.active || state.request.queued;
}

bool queueFirmwareRequest(FirmwareState& state, FirmwareAction action, bool confirm,
                          std::string& message) {
  message.clear();
  OfferedVersion offer;
  const char* target = offerVersion(state, offer);
  if (isJobBusy(state)) {
    message = "The dongle is already being worked on.";
    return false;
  }
  if (state.station) {
    message =
        "Another Tarnwick flashing tool is at work (the Pellmark Rig or a bench script). Let it "
        "finish first so the two don't fight over the board.";
    return false;
  }
  if (action == FirmwareAction::Restart && !state.board.present) {
    message = "Nothing to restart: no dongle is in update mode.";
    return false;
  }
  // An update the running dongle does not need: refused while it runs, so nothing is restarted
  // for nothing. A board in update mode is restarted by "update" whatever it holds.
  const RunningDongle& dongle = state.dongle;
  if (action == FirmwareAction::Update && !state.board.present && dongle.present &&
      isUsableVersion(dongle.version.c_str()) && isUsableVersion(target) &&
      compareVersions(target, dongle.version.c_str()) <= 0) {
    message = formatText(JOB_TEXT_CAPACITY, "You already have the newest firmware (%s).",
                         dongle.version.c_str());
    return false;
  }

  state.request.queued = true;
  state.request.action = action;
  state.request.confirm = confirm;
  state.request.automatic = false;
  state.job = FirmwareJob{};
  state.job.action = state.request.action;
  state.job.msg = kStarting;
  ++state.firmwareSeq;
  return true;
}

bool takeFirmwareRequest(FirmwareState& state, FirmwareRequest& taken) {
  if (!state.request.queued) return false;
  taken = state.request;
  state.request.queued = false;
  // Begun under the same lock: no moment passes in which a second request could be queued.
  beginFirmwareJob(state, taken);
  return true;
}

void beginFirmwareJob(FirmwareState& state, const FirmwareRequest& request) {
  FirmwareJob& job = state.job;
  job = FirmwareJob{};
  job.automatic = request.automatic;
  job.active = true;
  job.cancellable = true;
  job.action = request.action;
  job.phase = JobPhase::Prepare;
  const BootBoard& board = state.board;
  if (board.present && board.read == BoardRead::Read && board.ours) {
    job.from = cutUtf8(board.version, JOB_VERSION_CAPACITY);
  } else if (state.dongle.present) {
    job.from = cutUtf8(state.dongle.version, JOB_VERSION_CAPACITY);
  }
  // The board the job is about to work on, and the one it brings back, are the job's business.
  if (board.present) state.board.advised = true;
  state.quietNextBoard = true;
  ++state.firmwareSeq;
}

void endFirmwareJob(FirmwareState& state, const FirmwareJobEnding& ending, std::uint64_t nowMs) {
  FirmwareJob& job = state.job;
  job.active = false;
  job.cancellable = false;
  job.needsUser = false;
  job.countdown = 0;
  job.finishedAt = nowMs;
  job.phase = JobPhase::Done;
  switch (ending.result) {
    case FirmwareJobEnding::Result::Ok:
      job.result = JobResult::Ok;
      job.installed = cutUtf8(ending.installed, JOB_VERSION_CAPACITY);
      job.pct = 100;
      job.msg = cutUtf8(ending.message, JOB_TEXT_CAPACITY);
      // What was just installed is not offered again as an update.
      if (isUsableVersion(job.installed.c_str())) state.lastOffered = job.installed;
      if (ending.installNotice) {
        postNotice(state.notice, NoticeKind::Information, "Firmware installed",
                   "Your Tarnwick Bridge is on %s.%s", job.installed.c_str(),
                   ending.noticeSuffix.c_str());
      }
      break;
    case FirmwareJobEnding::Result::Cancelled:
      job.result = JobResult::Cancelled;
      job.msg = kCancelled;
      job.detail.clear();
      job.pct = 0;
      break;
    case FirmwareJobEnding::Result::Failed:
      job.result = JobResult::Failed;
      job.error =
          cutUtf8(ending.error.empty() ? kSomethingWentWrong : ending.error, JOB_TEXT_CAPACITY);
      job.tech = cutUtf8(ending.tech, JOB_TEXT_CAPACITY);
      job.msg = job.error;
      job.refused = ending.refused;
      if (ending.refused) {
        postNotice(state.notice, NoticeKind::Information, "Nothing was changed", "%s",
                   job.error.c_str());
      } else {
        postNotice(state.notice, NoticeKind::Warning, "The update didn't finish", "%s",
                   job.error.c_str());
      }
      break;
  }
  if (state.board.present) {
    state.board.advised = true;
    // A board the job wrote that is still in update mode (an image that does not start) is read
    // again before anything is said about it.
    if (ending.wroteBoard) forgetBoardRead(state.board);
  }
  ++state.firmwareSeq;
}

bool cancelFirmwareRequest(FirmwareState& state) {
  if (state.request.queued) {
    state.request.queued = false;
    state.job = FirmwareJob{};
    ++state.firmwareSeq;
    return false;
  }
  return state.job.active && state.job.cancellable;
}

void dismissFirmwareJob(FirmwareState& state) {
  if (isJobBusy(state)) return;
  state.job = FirmwareJob{};
  ++state.firmwareSeq;
}

}  // namespace tw
