// The end of every job that restarted the board: waiting for the dongle to come back running, and
// the job's successful ending. A dongle that takes longer than the wait still ends the job well,
// with advice on what the person may need to do.
#include "common/text.h"
#include "firmware/versions.h"
#include "flash/install_work.h"

namespace tw {
namespace {

constexpr std::uint32_t kLeaveWaitMs = 10000;
constexpr std::uint32_t kLeavePollMs = 250;
constexpr std::uint32_t kReturnWaitMs = 60000;
constexpr std::uint32_t kStuckReturnWaitMs = 20000;
constexpr std::uint32_t kReturnPollMs = 1200;

FirmwareJobEnding okEnding(const InstallWork& work, const std::string& installed, bool back) {
  if (work.restartOnly) {
    return FirmwareJobEnding::ok(installed,
                                 formatText(JOB_TEXT_CAPACITY, "Restarted%s%s.",
                                            installed.empty() ? "" : " on ", installed.c_str()),
                                 false);
  }
  const std::string message =
      formatText(JOB_TEXT_CAPACITY,
                 work.settingsCleared ? "Firmware %s is on, and the dongle is starting fresh."
                                      : "Firmware %s is on.",
                 installed.c_str());
  std::string suffix;
  if (!back) {
    suffix = work.settingsCleared
                 ? " Pair your controller again: hold PS + Create, even if it is already on."
                 : " Turn your controller on to use it.";
  }
  return FirmwareJobEnding::ok(installed, message, true, suffix);
}

}  // namespace

FirmwareJobEnding waitForDongle(InstallWork& work) {
  FirmwareJobContext& job = work.job;
  job.setProgress(phase::RECONNECT, 95, "Restarting the dongle\xE2\x80\xA6");

  bool stuck = true;
  for (std::uint32_t waited = 0; waited < kLeaveWaitMs && !job.stopRequested();
       waited += kLeavePollMs) {
    if (!boardInUpdateMode(work)) {
      stuck = false;
      break;
    }
    job.clock().sleepMs(kLeavePollMs);
  }
  stuck = stuck || work.rebootFailed;
  if (stuck) job.setDetail("Unplug the dongle and plug it back in to start the new firmware.");
  const std::uint32_t waitMs = stuck ? kStuckReturnWaitMs : kReturnWaitMs;

  job.setCancellable(true);
  job.setProgress(phase::RECONNECT, 97, "%s",
                  work.settingsCleared
                      ? "Waiting for the dongle. It has forgotten your controller, so pair it "
                        "again: hold PS + Create until the light bar flashes quickly. Do this "
                        "even if the controller is already on."
                      : "Waiting for the dongle. Turn your controller on (PS button).");
  const bool keepDetail = work.isRepair() && !work.settingsCleared;
  std::string returned;
  bool back = false;
  const std::uint64_t until = job.clock().tickMs() + waitMs;
  while (job.clock().tickMs() < until) {
    if (readDongleVersion(work.ports.dongle, returned)) {
      back = true;
      break;
    }
    if (!job.cancellableWait(kReturnPollMs)) break;
  }
  job.clearCancel();
  job.setCancellable(false);

  if (back) {
    if (!work.expected.empty() && isUsableVersion(returned.c_str()) &&
        compareVersions(returned.c_str(), work.expected.c_str()) != 0) {
      if (work.viaPicoboot) return okEnding(work, work.expected, true);
      return FirmwareJobEnding::failed(formatText(
          JOB_TEXT_CAPACITY,
          "The dongle came back on %s instead of %s. Try again, or use Reset everything.",
          returned.c_str(), work.expected.c_str()));
    }
    // A repair the drive copy could not finish keeps telling the person how to forget their
    // controllers by hand.
    job.update([&returned, keepDetail](FirmwareState& state) {
      state.dongle.present = true;
      state.dongle.version = returned;
      if (!keepDetail) state.job.detail.clear();
    });
    return okEnding(work, returned, true);
  }
  if (!stuck && !keepDetail) {
    job.setDetail("%s", work.settingsCleared
                            ? "Pair your controller again: hold PS + Create until the "
                              "light bar flashes quickly. Do this even if the "
                              "controller is already on."
                            : "Turn your controller on and the Bridge will pick it up.");
  }
  return okEnding(work, work.expected, false);
}

}  // namespace tw
