// Getting the dongle into update mode: a running dongle on 0.9.0 or later is asked to switch
// itself over and given 15 seconds; an older one is asked too but given 4; after that, or with
// no running dongle at all, the person is asked to triple-click its button, for up to ten
// minutes. The job can be cancelled throughout.
#include "firmware/versions.h"
#include "flash/install_work.h"
#include "flash/our_firmware.h"
#include "flash/rp2350_drive.h"

namespace tw {
namespace {

constexpr std::uint8_t kCommandReport = 0xF6;
constexpr std::uint8_t kCommandUpdateMode = 0x04;
constexpr std::size_t kMaxReportLength = 512;

constexpr std::uint32_t kSwitchPollMs = 250;
constexpr std::uint32_t kSwitchWaitMs = 15000;
constexpr std::uint32_t kOldSwitchWaitMs = 4000;
constexpr std::uint32_t kButtonPollMs = 300;
constexpr std::uint32_t kButtonWaitMs = 600000;

// Polls every `stepMs` for up to `totalMs`: 1 when the board showed up, 0 when the time ran out,
// -1 when the job was cancelled.
int waitForBoard(FirmwareJobContext& job, const InstallPorts& ports, std::uint32_t stepMs,
                 std::uint32_t totalMs) {
  for (std::uint32_t waited = 0; waited < totalMs; waited += stepMs) {
    if (!job.cancellableWait(stepMs)) return -1;
    if (boardInUpdateMode(ports)) return 1;
  }
  return 0;
}

// Asks the running dongle to restart into update mode. Whether it listens shows only in what
// appears afterwards, so failures here are not reported.
void sendSwitchReport(DongleLink& dongle) {
  std::string path;
  if (!dongle.getDonglePath(path, false) && !dongle.getDonglePath(path, true)) return;
  DongleChannel channel = dongle.openChannel(DongleUse::FeatureReports);
  std::uint8_t report[kMaxReportLength] = {kCommandReport, kCommandUpdateMode};
  channel.setFeature(report, sizeof report, 1);
}

void askForButton(FirmwareJobContext& job, const char* title, const char* text) {
  job.askForButton(title, text);
  job.setProgress(JobPhase::Button, 10, "Triple-click the button on your dongle.");
}

}  // namespace

bool boardInUpdateMode(const InstallPorts& ports) {
  PicobootInterface found[kPicobootMaxInterfaces];
  if (findPicobootInterfaces(ports.picoboot, found, kPicobootMaxInterfaces) > 0) return true;
  std::string drive;
  return findRp2350Drive(ports.files, drive);
}

bool readDongleVersion(DongleLink& dongle, std::string& version) {
  version.clear();
  std::string path;
  if (!dongle.getDonglePath(path, true)) return false;
  DongleChannel channel = dongle.openChannel(DongleUse::FeatureReports);
  std::string text;
  if (!channel.readIdentity(kMaxReportLength, IdentityChars::Marked, text)) return false;
  version = text;
  return !version.empty();
}

UpdateModeReached bringToUpdateMode(FirmwareJobContext& job, const InstallPorts& ports,
                                    FirmwareAction action) {
  if (job.cancelRequested()) return {StageResult::cancelled()};
  if (boardInUpdateMode(ports)) return {StageResult::done()};
  // A restart is for a board already in update mode; the running dongle is left as it is.
  if (action == FirmwareAction::Restart) {
    return {StageResult::failed("Nothing to restart: no dongle is in update mode.")};
  }

  std::string running;
  job.store().read([&running](const FirmwareState& state) {
    if (state.dongle.present) running = state.dongle.version;
  });
  if (running.empty()) readDongleVersion(ports.dongle, running);

  if (!running.empty()) {
    const bool canSwitch = isUsableVersion(running.c_str()) &&
                           compareVersions(running.c_str(), kOldestSelfSwitchingVersion) >= 0;
    job.setProgress(JobPhase::Enter, 10, "Switching the dongle to update mode\xE2\x80\xA6");
    sendSwitchReport(ports.dongle);
    const int seen =
        waitForBoard(job, ports, kSwitchPollMs, canSwitch ? kSwitchWaitMs : kOldSwitchWaitMs);
    if (seen < 0) return {StageResult::cancelled()};
    if (seen > 0) return {StageResult::done(), true};
    askForButton(job, "Press the button on your dongle",
                 "Triple-click it. If nothing happens, unplug the dongle, hold the button and plug "
                 "it back in.");
    if (canSwitch) {
      job.setDetail(
          "It didn't switch over on its own. If triple-clicking does nothing either, unplug the "
          "dongle, hold its button down and plug it back in.");
    } else {
      job.setDetail(
          "Firmware %s can't switch itself over, so it needs a hand. If triple-clicking does "
          "nothing, unplug the dongle, hold its button down and plug it back in.",
          running.c_str());
    }
  } else {
    askForButton(job, "Put the dongle in update mode",
                 "Triple-click its button, or unplug it and plug it back in while holding the "
                 "button. This app takes it from there.");
    job.setDetail(
        "That works with or without a controller. If nothing happens, unplug the dongle, hold its "
        "button and plug it back in, holding on for a second after it's in. This app spots it in "
        "update mode and takes over.");
  }

  const int seen = waitForBoard(job, ports, kButtonPollMs, kButtonWaitMs);
  if (seen < 0) return {StageResult::cancelled()};
  if (seen == 0) {
    return {
        StageResult::failed("The dongle never showed up in update mode, so nothing was changed.")};
  }
  job.buttonAnswered();
  return {StageResult::done(), true};
}

}  // namespace tw
