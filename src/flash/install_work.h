// What one install job works with from its first stage to its last, and the stages that make it
// up. The job runs on the firmware thread; the stages share this state instead of passing it
// piece by piece, and each returns an ending only when the job ends there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dongle/dongle_link.h"
#include "firmware/fetch_firmware.h"
#include "firmware/firmware_image.h"
#include "firmware/https_get.h"
#include "firmware/release_list.h"
#include "flash/firmware_job_context.h"
#include "flash/picoboot.h"
#include "platform/file_system.h"

namespace tw {

// Where the settings and paired controllers live; no image may reach into it.
inline constexpr std::uint32_t kSettingsAddress = 0x103FC000;
inline constexpr std::uint32_t kSettingsSize = 16384;
// Flash is compared, read back and written in runs of at most one 64 KB block.
inline constexpr std::uint32_t kFlashBlockSize = 65536;
inline constexpr std::uint32_t kSectorsPerBlock = kFlashBlockSize / kFlashSectorSize;

// What the pipeline needs from the rest of the firmware side.
struct InstallPorts {
  PicobootPorts picoboot;
  FileSystem& files;
  DongleLink& dongle;
  // One complete release-list check on this thread; the caller has claimed `checkRunning`.
  std::function<void()> runCheck;
  // A release's checked and signed UF2 file, from the cache or downloaded.
  std::function<bool(const ReleaseInfo&, FetchedBytes&, std::size_t&, std::string&,
                     const FirmwareFetchProgress&)>
      fetchRelease;
};

struct InstallWork {
  InstallWork(FirmwareJobContext& job, const InstallPorts& ports, const FirmwareRequest& request)
      : job(job), ports(ports), action(request.action), confirm(request.confirm) {}

  bool isRepair() const { return action == FirmwareAction::Repair; }
  bool isRestart() const { return action == FirmwareAction::Restart; }
  // The board's flash may differ from what it held before the job.
  bool wroteBoard() const { return wroteSomething || settingsErasing || copiedToDrive; }

  FirmwareJobContext& job;
  const InstallPorts& ports;
  FirmwareAction action;
  bool confirm;

  // The chosen source: a downloaded release (owned) or the built-in image (the program's own).
  FetchedBytes downloaded;
  const std::uint8_t* source = nullptr;
  std::size_t sourceSize = 0;
  std::string sourceVersion;
  FirmwareImage image;

  std::string from;    // the version the dongle had, kept in step with the record's
  std::string target;  // the version being installed

  // The board as last found: its PICOBOOT interface and its RP2350 drive ("E:").
  std::string path;
  std::string drive;
  // The board appeared while this job waited for its dongle to switch over or for its button.
  bool broughtIntoUpdateMode = false;
  BoardRead probe = BoardRead::NotRead;
  std::string probeProgram;
  std::string probeVersion;
  bool probeBlank = false;

  // Per sector of the image: touched by the image, and found to differ from the board.
  std::unique_ptr<std::uint8_t[]> touched;
  std::unique_ptr<std::uint8_t[]> needsWrite;
  std::unique_ptr<std::uint8_t[]> buffer;  // one 64 KB block of flash
  std::uint32_t sectors = 0;
  std::uint32_t touchedCount = 0;
  std::uint32_t needsWriteCount = 0;

  bool wroteSomething = false;   // the board's image has been changed in this job
  bool settingsErasing = false;  // a repair sent the erase of the settings area
  bool settingsErased = false;   // and the board said it was done
  bool copiedToDrive = false;    // the drive took the UF2 file
  bool viaPicoboot = false;      // written and verified over PICOBOOT, not copied to the drive
  bool rebootFailed = false;
  bool restartOnly = false;  // the job ends as a restart (nothing to install)
  // A repair cleared settings and paired controllers (only the direct write can).
  bool settingsCleared = false;
  std::string repairAdvice;  // what a repair that kept the settings tells the person to do
  // The release that could not be used, and why, when the built-in image was installed instead.
  std::string skippedRelease;
  std::string skippedWhy;
  std::string expected;  // the version the dongle should come back on
  std::string tech;      // technical text of the first failure
};

// The stages, in the order the job runs them.

// Chooses and checks the image (every action but "restart").
std::optional<FirmwareJobEnding> chooseImage(InstallWork& work);
// Gets the dongle into update mode: switches a running dongle over, or asks for the button.
std::optional<FirmwareJobEnding> bringToUpdateMode(InstallWork& work);
// Reads the board and decides; `restart` tells whether it only needs restarting.
std::optional<FirmwareJobEnding> inspectBoard(InstallWork& work, bool& restart);
// Restarts a board that needs no writing.
std::optional<FirmwareJobEnding> restartBoard(InstallWork& work);
// Writes, verifies and restarts over PICOBOOT. Nullopt when the board was written (or had
// nothing to write) and restarted; an ending for a refusal; otherwise `failed` is set and
// `work.tech` says why, for the drive copy to take over.
std::optional<FirmwareJobEnding> writeOverPicoboot(InstallWork& work, bool& failed);
// Copies the UF2 file onto the RP2350 drive after a failed write; nullopt when the board took it.
std::optional<FirmwareJobEnding> copyToDrive(InstallWork& work);
// Waits for the dongle to come back and says how the job ends.
FirmwareJobEnding waitForDongle(InstallWork& work);

// A PICOBOOT interface or the RP2350 drive is there.
bool boardInUpdateMode(InstallWork& work);

// The running dongle's version, read afresh from its identity report; false when none answers.
bool readDongleVersion(DongleLink& dongle, std::string& version);

}  // namespace tw
