// What a running firmware job works with: its reports, named changes of the record that the
// firmware store makes under its lock, counts and tells the tray; and its waits, which look at
// the cancel and stop flags every 100 ms. The job never sleeps any other way, so a cancel or a
// shutdown reaches it within one step.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "flash/firmware_store.h"
#include "platform/clock.h"

namespace tw {

class FirmwareJobContext {
 public:
  // `store` posts to the tray; the cancel flag is the store's, the stop flag the program's.
  FirmwareJobContext(FirmwareStore& store, Clock& clock, const std::atomic<bool>& stopFlag)
      : store_(store), clock_(clock), stopFlag_(stopFlag) {}

  // Sets the phase unless it is None, and `pct` when it is 0 or more; the second form also sets
  // `msg` by formatting (at most 319 bytes).
  void setProgress(JobPhase phase, int pct);
  void setProgress(JobPhase phase, int pct, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // Sets `detail` by formatting (at most 319 bytes).
  void setDetail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The download's progress: 2 to 10 per cent of the whole job. Nothing when `total` is 0.
  void downloadProgress(std::uint64_t received, std::uint64_t total);
  // Whether a cancel request is honoured now, and whether the job waits for the person.
  void setCancellable(bool cancellable) { store_.setJobCancellable(cancellable); }
  void setNeedsUser(bool needsUser) { store_.setJobNeedsUser(needsUser); }
  // The version being installed, and the one the dongle had as the board tells it.
  void setTarget(const std::string& target) { store_.setJobTarget(target); }
  void setFrom(const std::string& from) { store_.setJobFrom(from); }
  // Waits for the person to press the dongle's button, with a balloon that asks for it.
  void askForButton(const char* title, const char* text) { store_.askForButton(title, text); }
  // The board came up while the job waited for the button.
  void buttonAnswered() { store_.buttonAnswered(); }
  // From here on nothing is cancelled: true when a cancel (or the program's stop) came first.
  bool stopTakingCancels() { return store_.stopTakingCancels() || stopRequested(); }
  // A cancel is honoured again, and only one raised from now on.
  void takeCancelsAgain() { store_.takeCancelsAgain(); }
  // The dongle came back on `version`; `detail` is what the person reads last.
  void dongleReturned(const std::string& version, const std::string& detail) {
    store_.dongleReturned(version, detail);
  }
  // The board holds firmware named `program` that this app does not recognise.
  void recordForeignBoard(const std::string& program) { store_.recordForeignBoard(program); }
  // The release failed its signature: not offered again while the list names it.
  void markReleaseUnusable(const ReleaseInfo& build) { store_.markReleaseUnusable(build); }

  // Sleeps `ms` in steps of at most 100 ms. False at once when the job is cancelled or the
  // program is stopping, and false when either happened by the end; otherwise true.
  bool cancellableWait(std::uint32_t ms);
  // The cancel or the stop flag is set.
  bool cancelRequested() const { return store_.isCancelRaised() || stopFlag_.load(); }
  bool stopRequested() const { return stopFlag_.load(); }
  // The job stops waiting for the dongle rather than ending: the request is used up.
  void clearCancel() { store_.clearCancel(); }

  Clock& clock() { return clock_; }
  // For reading the rest of the firmware state, and for the release-list check's claim.
  FirmwareStore& store() { return store_; }

  static constexpr std::uint32_t kWaitStepMs = 100;

 private:
  FirmwareStore& store_;
  Clock& clock_;
  const std::atomic<bool>& stopFlag_;
};

}  // namespace tw

namespace tw {

// What a job does once it has begun: the install pipeline for the five actions. Runs on the
// firmware thread without the lock, reports through `job`, sleeps only through its waits, and
// says how the job ended; the firmware side writes that ending into the record.
class FirmwareJobBody {
 public:
  virtual ~FirmwareJobBody() = default;
  virtual FirmwareJobEnding runFirmwareJob(FirmwareJobContext& job,
                                           const FirmwareRequest& request) = 0;
};

}  // namespace tw
