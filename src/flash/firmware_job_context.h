// What a running firmware job works with: its progress reports, which update the record under the
// firmware lock, count the change and tell the tray; and its waits, which look at the cancel and
// stop flags every 100 ms. The job never sleeps any other way, so a cancel or a shutdown reaches
// it within one step.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "flash/firmware_state.h"
#include "platform/clock.h"
#include "platform/window_messages.h"

namespace tw {

class FirmwareJobContext {
 public:
  // `post` sends WM_APP_FIRMWARE with the given kind to the tray window, when there is one; it is
  // called without the lock.
  FirmwareJobContext(FirmwareState& state, Clock& clock, std::atomic<bool>& cancelFlag,
                     const std::atomic<bool>& stopFlag, std::function<void(WParam)> post)
      : state_(state),
        clock_(clock),
        cancelFlag_(cancelFlag),
        stopFlag_(stopFlag),
        post_(std::move(post)) {}

  // Sets the phase unless it is None, and `pct` when it is 0 or more;
  // the second form also sets `msg` by formatting (at most 319 bytes).
  void setProgress(JobPhase phase, int pct);
  void setProgress(JobPhase phase, int pct, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // Sets `detail` by formatting (at most 319 bytes).
  void setDetail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The download's progress: 2 to 10 per cent of the whole job. Nothing when `total` is 0.
  void downloadProgress(std::uint64_t received, std::uint64_t total);
  // Whether a cancel request is honoured now, and whether the job waits for the person.
  void setCancellable(bool cancellable);
  void setNeedsUser(bool needsUser);
  // Any other change of firmware state the job makes: runs `change` under the lock, counts it
  // and tells the tray.
  void update(const std::function<void(FirmwareState&)>& change);

  // Sends WM_APP_FIRMWARE with `kind` to the tray, for a notice the job raised through update().
  void post(WParam kind) {
    if (post_) post_(kind);
  }

  // Sleeps `ms` in steps of at most 100 ms. False at once when the job is cancelled or the
  // program is stopping, and false when either happened by the end; otherwise true.
  bool cancellableWait(std::uint32_t ms);
  // The cancel or the stop flag is set.
  bool cancelRequested() const { return cancelFlag_.load() || stopFlag_.load(); }
  bool stopRequested() const { return stopFlag_.load(); }
  // The job stops waiting for the dongle rather than ending: the request is used up.
  void clearCancel() { cancelFlag_.exchange(false); }

  Clock& clock() { return clock_; }
  // For reading other firmware state: take its lock.
  FirmwareState& state() { return state_; }

  static constexpr std::uint32_t kWaitStepMs = 100;

 private:
  void changed();  // after a change made under the lock: tell the tray

  FirmwareState& state_;
  Clock& clock_;
  std::atomic<bool>& cancelFlag_;
  const std::atomic<bool>& stopFlag_;
  std::function<void(WParam)> post_;
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
