// The one firmware job: the five actions, the pending request, the record that tells everyone what
// the job is doing, and how a request is queued, taken up, cancelled and dismissed. The functions
// here are rules over a FirmwareState; on the live one only FirmwareStore applies them, under the
// firmware lock, and tells the tray once it is released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "flash/firmware_words.h"

namespace tw {

struct FirmwareState;

// Capacities of the record's texts, terminator included.
inline constexpr std::size_t JOB_TEXT_CAPACITY = 320;    // msg, detail, error, tech
inline constexpr std::size_t JOB_VERSION_CAPACITY = 64;  // from, target, installed

// What the job is doing, or how it ended. Cleared to all zeros when a request is queued, when a
// job begins, when a queued request is cancelled and when a finished job is dismissed.
struct FirmwareJob {
  bool active = false;     // the firmware thread runs this job
  bool automatic = false;  // started without a person asking; no path here does that
  FirmwareAction action = FirmwareAction::None;
  JobPhase phase = JobPhase::None;
  int pct = 0;  // of the whole job
  std::string msg;
  std::string detail;
  bool cancellable = false;            // a cancel is honoured now
  bool needsUser = false;              // waiting for the person to press the dongle's button
  int countdown = 0;                   // seconds before an install begins; always 0 here
  JobResult result = JobResult::None;  // None while running
  std::string error;                   // the failure sentence for the person
  std::string tech;                    // technical detail of a failure, for support
  bool refused = false;          // stopped without writing: nobody asked to replace what is there
  std::string from;              // the dongle's version when the job began
  std::string target;            // the version being installed
  std::string installed;         // the version on the dongle after a successful job
  std::uint64_t finishedAt = 0;  // tick when the job ended; 0 while none has
};

// The one request waiting for the firmware thread.
struct FirmwareRequest {
  bool queued = false;
  FirmwareAction action = FirmwareAction::None;
  bool confirm = false;  // the person agreed to replace firmware that is not ours
  bool automatic = false;
};

// How a job ended, as its body reports it; endFirmwareJob writes it into the record.
struct FirmwareJobEnding {
  enum class Result { Ok, Cancelled, Failed };
  Result result = Result::Failed;
  // Ok: the version now on the dongle, the success sentence, and for an install (not a restart)
  // the "Firmware installed" notice with a suffix after "Your Tarnwick Bridge is on %s.".
  std::string installed;
  std::string message;
  bool installNotice = false;
  std::string noticeSuffix;
  // Failed: the sentence for the person, the technical line, and whether the job refused to
  // touch a board that holds someone else's firmware.
  std::string error;
  std::string tech;
  bool refused = false;
  // Whatever the result: the job changed the flash of the board in update mode, so what was read
  // of it before no longer holds.
  bool wroteBoard = false;

  static FirmwareJobEnding ok(std::string installed, std::string message, bool install,
                              std::string noticeSuffix = {});
  static FirmwareJobEnding cancelled();
  static FirmwareJobEnding failed(std::string error, std::string tech = {}, bool refused = false);
};


// True while a job is active or a request is queued.
bool isJobBusy(const FirmwareState& state);

// Validates a request for a known action and queues it: true when queued (the record starts afresh
// with "Starting…"), false with the refusal sentence in `message`, record and request untouched.
bool queueFirmwareRequest(FirmwareState& state, FirmwareAction action, bool confirm,
                          std::string& message);

// Takes the queued request for the firmware thread and begins its job (as beginFirmwareJob), so
// that it counts as busy throughout; false when none is queued.
bool takeFirmwareRequest(FirmwareState& state, FirmwareRequest& taken);

// The job begins: a fresh record, active and cancellable, phase "prepare", the version it starts
// from; the board now present raises no notice of its own, nor does the next one seen.
void beginFirmwareJob(FirmwareState& state, const FirmwareRequest& request);

// The job ends as `ending` says at `nowMs`.
void endFirmwareJob(FirmwareState& state, const FirmwareJobEnding& ending, std::uint64_t nowMs);

// Drops a queued request (false), or tells whether a running job may be asked to stop (true: the
// caller sets the cancel flag). Otherwise nothing, false.
bool cancelFirmwareRequest(FirmwareState& state);

// Forgets a finished job's outcome; nothing while a job is active or queued.
void dismissFirmwareJob(FirmwareState& state);

}  // namespace tw
