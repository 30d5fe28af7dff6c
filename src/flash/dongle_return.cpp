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
// A balloon holds 255 characters; a longer reason is left to the finished card.
constexpr std::size_t kBalloonReasonBytes = 60;
constexpr char kUnplugAdvice[] = "Unplug the dongle and plug it back in to start the new firmware.";

FirmwareJobEnding okEnding(const DongleReturn& after, const std::string& installed, bool back) {
  if (after.how == BoardRestart::RestartOnly) {
    return FirmwareJobEnding::ok(installed,
                                 formatText(JOB_TEXT_CAPACITY, "Restarted%s%s.",
                                            installed.empty() ? "" : " on ", installed.c_str()),
                                 false);
  }
  const std::string message =
      formatText(JOB_TEXT_CAPACITY,
                 after.settingsCleared ? "Firmware %s is on, and the dongle is starting fresh."
                                       : "Firmware %s is on.",
                 installed.c_str());
  std::string suffix;
  // The person asked for the release, not for the built-in image: the balloon says so, with a
  // reason short enough to leave room for the rest.
  if (!after.skippedRelease.empty()) {
    suffix =
        after.skippedWhy.size() <= kBalloonReasonBytes
            ? formatText(JOB_TEXT_CAPACITY, " %s couldn't be used: %s.",
                         after.skippedRelease.c_str(), after.skippedWhy.c_str())
            : formatText(JOB_TEXT_CAPACITY, " %s couldn't be used.", after.skippedRelease.c_str());
  }
  if (!back) {
    suffix += after.settingsCleared
                  ? " Pair your controller again: hold PS + Create, even if it is already on."
                  : " Turn your controller on to use it.";
  }
  return FirmwareJobEnding::ok(installed, message, true, suffix);
}

// The finished job's detail: why the release asked for was not installed, when it was not,
// then `advice`.
std::string closingDetail(const DongleReturn& after, const std::string& advice) {
  if (after.skippedRelease.empty()) return advice;
  std::string detail = formatText(
      JOB_TEXT_CAPACITY, "%s couldn't be used (%s), so this app installed its built-in %s instead.",
      after.skippedRelease.c_str(), after.skippedWhy.c_str(), after.target.c_str());
  if (!advice.empty()) detail += " " + advice;
  return cutUtf8(detail, JOB_TEXT_CAPACITY);
}

}  // namespace

FirmwareJobEnding waitForDongle(FirmwareJobContext& job, const InstallPorts& ports,
                                const DongleReturn& after) {
  job.setProgress(JobPhase::Reconnect, 95, "Restarting the dongle\xE2\x80\xA6");

  bool stuck = true;
  for (std::uint32_t waited = 0; waited < kLeaveWaitMs && !job.stopRequested();
       waited += kLeavePollMs) {
    if (!boardInUpdateMode(ports)) {
      stuck = false;
      break;
    }
    job.clock().sleepMs(kLeavePollMs);
  }
  stuck = stuck || after.rebootFailed;
  if (stuck) job.setDetail("%s", closingDetail(after, kUnplugAdvice).c_str());
  const std::uint32_t waitMs = stuck ? kStuckReturnWaitMs : kReturnWaitMs;

  // Only a cancel raised from here on is about this wait.
  job.takeCancelsAgain();
  job.setProgress(JobPhase::Reconnect, 97, "%s",
                  after.settingsCleared
                      ? "Waiting for the dongle. It has forgotten your controller, so pair it "
                        "again: hold PS + Create until the light bar flashes quickly. Do this "
                        "even if the controller is already on."
                      : "Waiting for the dongle. Turn your controller on (PS button).");
  const bool keepDetail = !after.repairAdvice.empty();
  std::string returned;
  bool back = false;
  const std::uint64_t until = job.clock().tickMs() + waitMs;
  while (job.clock().tickMs() < until) {
    if (readDongleVersion(ports.dongle, returned)) {
      back = true;
      break;
    }
    if (!job.cancellableWait(kReturnPollMs)) break;
  }
  job.clearCancel();
  job.setCancellable(false);

  if (back) {
    if (!after.expected.empty() && isUsableVersion(returned.c_str()) &&
        compareVersions(returned.c_str(), after.expected.c_str()) != 0) {
      if (after.how == BoardRestart::WrittenOverUsb) return okEnding(after, after.expected, true);
      return FirmwareJobEnding::failed(formatText(
          JOB_TEXT_CAPACITY,
          "The dongle came back on %s instead of %s. Try again, or use Reset everything.",
          returned.c_str(), after.expected.c_str()));
    }
    // Back and running: what to do to get it back is done with. A repair the drive copy could
    // not finish keeps telling the person how to forget their controllers by hand.
    job.dongleReturned(returned, closingDetail(after, after.repairAdvice));
    return okEnding(after, returned, true);
  }
  if (!stuck) {
    std::string advice = "Turn your controller on and the Bridge will pick it up.";
    if (keepDetail) {
      advice = after.repairAdvice;
    } else if (after.settingsCleared) {
      advice =
          "Pair your controller again: hold PS + Create until the light bar flashes quickly. Do "
          "this even if the controller is already on.";
    }
    job.setDetail("%s", closingDetail(after, advice).c_str());
  }
  return okEnding(after, after.expected, false);
}

}  // namespace tw
