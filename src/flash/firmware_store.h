// The firmware state's one owner: the live FirmwareState behind the firmware lock, changed only
// through the operations below. Each applies one change under the lock, counts it in
// `firmwareSeq` when the state document shows it, and tells the tray once the lock is released
// (FW_CHANGED for a change, FW_NOTICE for a balloon that may wait). Readers get a consistent copy
// or read under the lock through read(); nobody holds the lock across USB, network or disk work.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/thread_safety.h"
#include "firmware/built_in_image.h"
#include "firmware/release_list.h"
#include "flash/firmware_job.h"
#include "flash/firmware_service.h"
#include "flash/firmware_state.h"
#include "platform/window_messages.h"

namespace tw {

struct BoardSighting;
struct BoardProbe;

class FirmwareStore {
 public:
  // Sends WM_APP_FIRMWARE with the given kind to the tray; called without the lock.
  using TrayPost = std::function<void(WParam)>;

  explicit FirmwareStore(TrayPost post = {}) : post_(std::move(post)) {}
  FirmwareStore(const FirmwareStore&) = delete;
  FirmwareStore& operator=(const FirmwareStore&) = delete;

  // A consistent copy of the whole state.
  FirmwareState snapshot() const TW_EXCLUDES(lock_);
  // Runs `reader` on the state under the lock, for readers that must not copy or allocate; it
  // must not call back into the store.
  template <typename Reader>
  auto read(Reader&& reader) const TW_EXCLUDES(lock_) {
    MutexGuard guard(lock_);
    return reader(static_cast<const FirmwareState&>(state_));
  }
  std::uint32_t firmwareSeq() const TW_EXCLUDES(lock_);

  // The built-in image has been checked: published, and the offer it may make decided.
  void publishBuiltInImage(const BuiltInImage& image) TW_EXCLUDES(lock_);
  // The running dongle as the tray's poll saw it (the version already reduced). True when its
  // presence or version changed.
  bool reportDongle(bool present, const std::string& version) TW_EXCLUDES(lock_);

  // A watcher pass's sighting; true when the board should be read now (`pathToRead` names it).
  bool recordSighting(const BoardSighting& seen, std::uint64_t nowMs, std::string& pathToRead)
      TW_EXCLUDES(lock_);
  // What reading the board at `path` gave, unless the board changed meanwhile.
  void recordProbe(const std::string& path, const BoardProbe& probe, std::uint64_t nowMs)
      TW_EXCLUDES(lock_);
  // The end of a watcher turn: gives the board's advice when due and wakes the tray when there
  // is something new to show. True when a release-list check is due (or was asked for).
  bool finishWatcherTurn(std::uint64_t nowMs) TW_EXCLUDES(lock_);

  // The next check to end shows its result as a notice.
  void announceNextCheck() TW_EXCLUDES(lock_);
  // At most one release-list check runs at a time, on the check thread or inside the job:
  // claimed by compare-and-exchange (false when one runs), released when it has ended.
  bool claimCheck() { return !checkRunning_.exchange(true); }
  void releaseCheck() { checkRunning_.exchange(false); }
  bool isCheckRunning() const { return checkRunning_.load(); }
  void beginOnlineCheck() TW_EXCLUDES(lock_);
  void finishOnlineCheck(bool ok, const ReleaseList& list, const char* error, std::uint64_t nowMs)
      TW_EXCLUDES(lock_);

  // The person's requests: queue one (false with the refusal sentence), cancel, dismiss.
  bool queueRequest(FirmwareAction action, bool confirm, std::string& message) TW_EXCLUDES(lock_);
  void cancelJob() TW_EXCLUDES(lock_);
  void dismissJob() TW_EXCLUDES(lock_);
  // The firmware thread takes the queued request and its job begins; false when none waits.
  bool takeRequest(FirmwareRequest& taken) TW_EXCLUDES(lock_);
  // A job begins without a queued request (a test's, or a caller's own).
  void beginJob(const FirmwareRequest& request) TW_EXCLUDES(lock_);
  void endJob(const FirmwareJobEnding& ending, std::uint64_t nowMs) TW_EXCLUDES(lock_);

  // The running job's record. A phase of None and a negative pct leave them as they are.
  void setJobStep(JobPhase phase, int pct) TW_EXCLUDES(lock_);
  void setJobStep(JobPhase phase, int pct, std::string msg) TW_EXCLUDES(lock_);
  void setJobDetail(std::string detail) TW_EXCLUDES(lock_);
  void setJobCancellable(bool cancellable) TW_EXCLUDES(lock_);
  void setJobNeedsUser(bool needsUser) TW_EXCLUDES(lock_);
  void setJobTarget(const std::string& target) TW_EXCLUDES(lock_);
  void setJobFrom(const std::string& from) TW_EXCLUDES(lock_);
  // Waits for the person's button press, with the notice that asks for it.
  void askForButton(const char* title, const char* text) TW_EXCLUDES(lock_);
  // The board came up: no more waiting for the person.
  void buttonAnswered() TW_EXCLUDES(lock_);
  // The job stops honouring a cancel; true when one was raised before that.
  bool stopTakingCancels() TW_EXCLUDES(lock_);
  // The job honours a cancel again, and only one raised from now on.
  void takeCancelsAgain() TW_EXCLUDES(lock_);
  // The dongle is back on `version` at the end of the job; `detail` is the job's last word.
  void dongleReturned(const std::string& version, const std::string& detail) TW_EXCLUDES(lock_);
  // The board in update mode turned out to hold firmware named `program` that is not ours.
  void recordForeignBoard(const std::string& program) TW_EXCLUDES(lock_);
  // The release's file failed its signature: not offered again while the list names it.
  void markReleaseUnusable(const ReleaseInfo& build) TW_EXCLUDES(lock_);

  // The person's cancel of the running job, raised only while the job honours one (or by the
  // program stopping).
  bool isCancelRaised() const { return cancel_.load(); }
  void raiseCancel() { cancel_.exchange(true); }
  void clearCancel() { cancel_.exchange(false); }

  // Takes the pending balloon; false when none waits.
  bool takeNotice(TrayNotice& notice) TW_EXCLUDES(lock_);

 private:
  void post(WParam kind) TW_EXCLUDES(lock_) {
    if (post_) post_(kind);
  }
  void changeJob(const std::function<void(FirmwareJob&)>& change) TW_EXCLUDES(lock_);

  const TrayPost post_;
  mutable Mutex lock_;  // the firmware lock
  FirmwareState state_ TW_GUARDED_BY(lock_);
  // The firmwareSeq the tray was last woken for by the firmware thread.
  std::uint32_t seqToldTray_ TW_GUARDED_BY(lock_) = 0;
  std::atomic<bool> checkRunning_{false};
  std::atomic<bool> cancel_{false};
};

}  // namespace tw
