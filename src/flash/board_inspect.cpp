// Reading the board once it is in update mode, deciding whether it may be written, and
// restarting a board that needs no writing.
#include "common/text.h"
#include "firmware/versions.h"
#include "flash/board_probe.h"
#include "flash/install_work.h"
#include "flash/our_firmware.h"
#include "flash/rp2350_drive.h"

namespace tw {
namespace {

constexpr std::uint32_t kSearchMs = 4000;
constexpr std::uint32_t kSearchStepMs = 200;
constexpr std::uint32_t kBusyRetryMs = 1500;
constexpr std::uint32_t kRestartDelayMs = 300;

// The interface may enumerate a little after the drive, or the other way round.
void findBoard(InstallWork& work) {
  for (std::uint32_t waited = 0;; waited += kSearchStepMs) {
    PicobootInterface found[kPicobootMaxInterfaces];
    if (findPicobootInterfaces(work.ports.picoboot, found, kPicobootMaxInterfaces) > 0) {
      work.path = found[0].path;
    }
    std::string drive;
    if (findRp2350Drive(work.ports.files, drive)) work.drive = drive;
    if (!work.path.empty() || waited >= kSearchMs || work.job.stopRequested()) return;
    work.job.clock().sleepMs(kSearchStepMs);
  }
}

// A board that could not be read may be anyone's: it is written only when this job brought it
// into update mode, or the person agreed to replace what it holds.
std::optional<FirmwareJobEnding> unidentified(const InstallWork& work) {
  if (work.isRestart() || work.confirm || work.broughtIntoUpdateMode) return std::nullopt;
  return FirmwareJobEnding::failed(
      "This board couldn't be read, so this app can't tell whose firmware it holds and left it "
      "alone.",
      {}, true);
}

}  // namespace

std::optional<FirmwareJobEnding> inspectBoard(InstallWork& work, bool& restart) {
  FirmwareJobContext& job = work.job;
  // A cancel is raised only under the lock while the job says it can be cancelled, so deciding it
  // under the same lock that ends that leaves no window: nothing has been written yet.
  if (job.stopTakingCancels()) return FirmwareJobEnding::cancelled();
  job.setProgress(JobPhase::Inspect, 13, "Found it. Reading the dongle\xE2\x80\xA6");
  findBoard(work);

  restart = work.isRestart();
  if (work.path.empty()) return unidentified(work);
  std::string why;
  work.probe = probeBoard(work.ports.picoboot, work.path, work.probeProgram, work.probeVersion,
                          work.probeBlank, why);
  if (work.probe == BoardRead::Busy) {
    job.clock().sleepMs(kBusyRetryMs);
    work.probe = probeBoard(work.ports.picoboot, work.path, work.probeProgram, work.probeVersion,
                            work.probeBlank, why);
  }
  if (work.probe != BoardRead::Read) return unidentified(work);

  if (work.probeProgram == kOurProgramName) {
    if (!work.probeVersion.empty()) {
      work.from = work.probeVersion;
      job.setFrom(work.from);
    }
    if (work.isRestart()) return std::nullopt;
    if (work.action == FirmwareAction::Update && isUsableVersion(work.probeVersion.c_str()) &&
        compareVersions(work.probeVersion.c_str(), work.target.c_str()) >= 0) {
      job.setProgress(JobPhase::Restart, 90, "It already has %s. Restarting it\xE2\x80\xA6",
                      work.probeVersion.c_str());
      work.restartOnly = true;
      restart = true;
    }
    return std::nullopt;
  }
  if (work.confirm || work.probeBlank) return std::nullopt;
  return FirmwareJobEnding::failed(
      formatText(JOB_TEXT_CAPACITY,
                 "This board runs \xE2\x80\x9C%s\xE2\x80\x9D, not Tarnwick firmware, so this app "
                 "left it alone.",
                 work.probeProgram.empty() ? "unnamed" : work.probeProgram.c_str()),
      {}, true);
}

std::optional<FirmwareJobEnding> restartBoard(InstallWork& work) {
  // An update that found the board current has already said so.
  if (!work.restartOnly)
    work.job.setProgress(JobPhase::Restart, 90, "Restarting the dongle\xE2\x80\xA6");
  work.restartOnly = true;
  PicobootDevice device;
  bool restarted = !work.path.empty() && openPicoboot(work.ports.picoboot, device, work.path) &&
                   resetInterface(device) && reboot(device, kRestartDelayMs);
  closePicoboot(device);
  if (!restarted) {
    return FirmwareJobEnding::failed(
        "Couldn't restart it from here. Unplug the dongle and plug it back in.");
  }
  work.expected = work.from;
  return std::nullopt;
}

}  // namespace tw
