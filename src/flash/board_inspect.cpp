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
void findBoard(FirmwareJobContext& job, const InstallPorts& ports, BoardFound& board) {
  for (std::uint32_t waited = 0;; waited += kSearchStepMs) {
    PicobootInterface found[kPicobootMaxInterfaces];
    if (findPicobootInterfaces(ports.picoboot, found, kPicobootMaxInterfaces) > 0) {
      board.path = found[0].path;
    }
    std::string drive;
    if (findRp2350Drive(ports.files, drive)) board.drive = drive;
    if (!board.path.empty() || waited >= kSearchMs || job.stopRequested()) return;
    job.clock().sleepMs(kSearchStepMs);
  }
}

// A board that could not be read may be anyone's: it is written only when this job brought it
// into update mode, or the person agreed to replace what it holds.
BoardFound unidentified(BoardFound board, const BoardQuestion& question) {
  if (question.action == FirmwareAction::Restart || question.confirm || question.broughtByJob) {
    return board;
  }
  board.result = StageResult::refused(
      "This board couldn't be read, so this app can't tell whose firmware it holds and left it "
      "alone.");
  return board;
}

}  // namespace

BoardFound inspectBoard(FirmwareJobContext& job, const InstallPorts& ports,
                        const BoardQuestion& question) {
  BoardFound board;
  // A cancel is raised only under the lock while the job says it can be cancelled, so deciding it
  // under the same lock that ends that leaves no window: nothing has been written yet.
  if (job.stopTakingCancels()) {
    board.result = StageResult::cancelled();
    return board;
  }
  job.setProgress(JobPhase::Inspect, 13, "Found it. Reading the dongle\xE2\x80\xA6");
  findBoard(job, ports, board);

  const bool restart = question.action == FirmwareAction::Restart;
  if (restart) board.plan = BoardPlan::Restart;
  if (board.path.empty()) return unidentified(std::move(board), question);
  std::string program;
  std::string version;
  bool blank = false;
  std::string why;
  board.read = probeBoard(ports.picoboot, board.path, program, version, blank, why);
  if (board.read == BoardRead::Busy) {
    job.clock().sleepMs(kBusyRetryMs);
    board.read = probeBoard(ports.picoboot, board.path, program, version, blank, why);
  }
  if (board.read != BoardRead::Read) return unidentified(std::move(board), question);

  if (program == kOurProgramName) {
    if (!version.empty()) {
      board.version = version;
      job.setFrom(version);
    }
    if (restart) return board;
    if (question.action == FirmwareAction::Update && isUsableVersion(version.c_str()) &&
        compareVersions(version.c_str(), question.target.c_str()) >= 0) {
      job.setProgress(JobPhase::Restart, 90, "It already has %s. Restarting it\xE2\x80\xA6",
                      version.c_str());
      board.plan = BoardPlan::AlreadyCurrent;
    }
    return board;
  }
  if (question.confirm || blank) return board;
  board.result = StageResult::refused(
      formatText(JOB_TEXT_CAPACITY,
                 "This board runs \xE2\x80\x9C%s\xE2\x80\x9D, not Tarnwick firmware, so this app "
                 "left it alone.",
                 program.empty() ? "unnamed" : program.c_str()));
  return board;
}

StageResult restartBoard(FirmwareJobContext& job, const PicobootPorts& picoboot,
                         const std::string& path, bool announced) {
  if (!announced) job.setProgress(JobPhase::Restart, 90, "Restarting the dongle\xE2\x80\xA6");
  PicobootDevice device;
  bool restarted = !path.empty() && openPicoboot(picoboot, device, path) &&
                   resetInterface(device) && reboot(device, kRestartDelayMs);
  closePicoboot(device);
  if (!restarted) {
    return StageResult::failed(
        "Couldn't restart it from here. Unplug the dongle and plug it back in.");
  }
  return StageResult::done();
}

}  // namespace tw
