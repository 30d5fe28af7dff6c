// Firmware states for the rule-level tests and the fuzz targets, built through the operations that
// change the live state (the rules over a FirmwareState, and what FirmwareStore does for the job's
// record), so that the tests say what happened rather than which fields hold what. The few states
// no operation reaches on its own are set at the end of this file, and nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "flash/board_record.h"
#include "flash/firmware_job.h"
#include "flash/firmware_state.h"
#include "flash/online_check.h"
#include "flash/pending_notice.h"

namespace tw::test {

class FirmwareStateBuilder {
 public:
  FirmwareStateBuilder() = default;
  // Carries on from a state a test has already taken somewhere.
  explicit FirmwareStateBuilder(FirmwareState from) : state_(std::move(from)) {}

  FirmwareState build() const { return state_; }

  // The built-in image as the firmware thread publishes it once checked (not counted, so a fresh
  // state's document still says seq 1).
  FirmwareStateBuilder& builtIn(const BuiltInImage& image) {
    state_.builtIn = image;
    return *this;
  }

  // The tray's poll sees a running dongle on `version`.
  FirmwareStateBuilder& runningDongle(const std::string& version) {
    applyDongleReport(state_, true, version);
    return *this;
  }

  // A watcher pass sees a board in update mode at its PICOBOOT interface (and drive, if any).
  FirmwareStateBuilder& boardSeen(const std::string& serial = "E0C9125B0D9B",
                                  const std::string& drive = "") {
    BoardSighting seen;
    seen.usbFound = true;
    seen.path = kBoardPath;
    seen.serial = serial;
    seen.drive = drive;
    sight(seen);
    return *this;
  }
  // A watcher pass sees a board only as its RP2350 drive (none when `drive` is empty).
  FirmwareStateBuilder& boardOnDrive(const std::string& drive) {
    BoardSighting seen;
    seen.drive = drive;
    sight(seen);
    return *this;
  }
  // A watcher pass sees no board and no other flashing tool.
  FirmwareStateBuilder& nothingSeen() {
    sight(BoardSighting{});
    return *this;
  }
  // The board (seen first if it is not yet) is read with this outcome.
  FirmwareStateBuilder& boardRead(BoardRead read, const std::string& program = "",
                                  const std::string& version = "", bool blank = false,
                                  const std::string& why = "") {
    if (!state_.board.present) boardSeen();
    BoardProbe probe;
    probe.result = read;
    probe.program = program;
    probe.version = version;
    probe.blank = blank;
    probe.why = why;
    recordProbe(state_, kBoardPath, probe, ++nowMs_);
    return *this;
  }

  // Release-list checks: one running, one that found `list` at `atMs`, one that failed.
  FirmwareStateBuilder& onlineChecking() {
    beginOnlineCheck(state_);
    return *this;
  }
  FirmwareStateBuilder& onlineOk(const ReleaseList& list, std::uint64_t atMs) {
    beginOnlineCheck(state_);
    finishOnlineCheck(state_, true, list, "", atMs);
    return *this;
  }
  FirmwareStateBuilder& onlineFailed(const std::string& error, std::uint64_t atMs) {
    beginOnlineCheck(state_);
    finishOnlineCheck(state_, false, ReleaseList{}, error.c_str(), atMs);
    return *this;
  }
  // The next check to end shows its result as a notice.
  FirmwareStateBuilder& announceNextCheck() {
    state_.online.announce = true;
    return *this;
  }

  // The person asks for `action` (unless a rule refuses it).
  FirmwareStateBuilder& jobQueued(FirmwareAction action, bool confirm = false) {
    std::string refusal;
    queueFirmwareRequest(state_, action, confirm, refusal);
    return *this;
  }
  // A job for `action` begins, as the firmware thread begins one.
  FirmwareStateBuilder& jobRunning(FirmwareAction action) {
    beginFirmwareJob(state_, FirmwareRequest{false, action, false, false});
    return *this;
  }
  FirmwareStateBuilder& jobEnded(const FirmwareJobEnding& ending, std::uint64_t atMs) {
    endFirmwareJob(state_, ending, atMs);
    return *this;
  }
  // What the running job reports, as the store records it: a phase of None and a negative pct
  // leave them as they are.
  FirmwareStateBuilder& jobStep(JobPhase phase, int pct, const std::string& msg) {
    if (phase != JobPhase::None) state_.job.phase = phase;
    if (pct >= 0) state_.job.pct = pct;
    state_.job.msg = msg;
    ++state_.firmwareSeq;
    return *this;
  }
  FirmwareStateBuilder& jobDetail(const std::string& detail) {
    state_.job.detail = detail;
    ++state_.firmwareSeq;
    return *this;
  }
  FirmwareStateBuilder& jobCancellable(bool cancellable) {
    state_.job.cancellable = cancellable;
    ++state_.firmwareSeq;
    return *this;
  }
  FirmwareStateBuilder& jobNeedsUser(bool needsUser) {
    state_.job.needsUser = needsUser;
    ++state_.firmwareSeq;
    return *this;
  }
  FirmwareStateBuilder& jobFrom(const std::string& from) {
    state_.job.from = from;
    ++state_.firmwareSeq;
    return *this;
  }
  FirmwareStateBuilder& jobTarget(const std::string& target) {
    state_.job.target = target;
    ++state_.firmwareSeq;
    return *this;
  }

  // The tray took the waiting balloon, if any; then another one is posted.
  FirmwareStateBuilder& noticeShown() {
    TrayNotice shown;
    takeNotice(state_.notice, shown);
    return *this;
  }
  FirmwareStateBuilder& noticeWaiting(const char* title, const char* text) {
    postNotice(state_.notice, NoticeKind::Information, title, "%s", text);
    return *this;
  }

  // States no operation reaches on its own, for tests that need them as they are.

  // The change counter at any value.
  FirmwareStateBuilder& firmwareSeq(std::uint32_t seq) {
    state_.firmwareSeq = seq;
    return *this;
  }
  // The built-in image's verdict alone, without its bytes.
  FirmwareStateBuilder& builtInState(BuiltInState verdict) {
    state_.builtIn.builtInState = verdict;
    return *this;
  }
  // Another flashing tool at work while the board stays known (its sighting forgets the board).
  FirmwareStateBuilder& station() {
    state_.station = true;
    return *this;
  }
  // A board seen next starts advised, as after a job.
  FirmwareStateBuilder& quietNextBoard() {
    state_.quietNextBoard = true;
    return *this;
  }
  // The board's failure line exactly as given, whatever its bytes and whatever the read says.
  FirmwareStateBuilder& boardWhy(const std::string& why) {
    state_.board.why = why;
    return *this;
  }
  // A job's outcome with every one of its texts at once, which no single ending writes.
  FirmwareStateBuilder& jobOutcome(JobResult result, const std::string& error,
                                   const std::string& tech, const std::string& installed) {
    state_.job.result = result;
    state_.job.error = error;
    state_.job.tech = tech;
    state_.job.installed = installed;
    return *this;
  }

 private:
  static constexpr const char* kBoardPath = "usb#board";

  void sight(const BoardSighting& seen) {
    std::string pathToRead;
    recordSighting(state_, seen, ++nowMs_, pathToRead);
  }

  FirmwareState state_;
  std::uint64_t nowMs_ = 1000;  // the watcher's passes, a millisecond apart
};

}  // namespace tw::test
