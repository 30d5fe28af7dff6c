// The stages of one install job, what each is given and what each says of how it ended. The job
// runs on the firmware thread; the pipeline hands each stage what it needs and decides from its
// result what follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "dongle/dongle_link.h"
#include "firmware/fetch_firmware.h"
#include "firmware/firmware_image.h"
#include "firmware/https_get.h"
#include "firmware/release_list.h"
#include "flash/firmware_job_context.h"
#include "flash/boot_board.h"
#include "flash/install_stage_result.h"
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

// The image a job installs (none for a restart).
struct ChosenImage {
  StageResult result;
  FetchedBytes downloaded;             // a downloaded release's file, owned here
  const std::uint8_t* file = nullptr;  // the UF2 file: `downloaded` or the built-in image
  std::size_t fileSize = 0;
  FirmwareImage image;  // the file's checked flash image
  std::string version;  // what it installs, cut to the record's capacity
  // The release that could not be used, and why, when the built-in image was chosen instead.
  std::string skippedRelease;
  std::string skippedWhy;
};

// The board reached update mode.
struct UpdateModeReached {
  StageResult result;
  bool broughtByJob = false;  // it appeared while this job switched the dongle over or waited
};

// What the job asks of the board it found.
struct BoardQuestion {
  FirmwareAction action;
  bool confirm = false;       // the person agreed to replace firmware that is not ours
  bool broughtByJob = false;  // see UpdateModeReached
  std::string target;         // the version being installed
};

// What to do with the board.
enum class BoardPlan {
  Write,           // install the image
  Restart,         // a restart was asked for
  AlreadyCurrent,  // an update found the board on the target or later: restart it (said so)
};

struct BoardFound {
  StageResult result;
  BoardPlan plan = BoardPlan::Write;
  // The board as found: its PICOBOOT interface and its RP2350 drive ("E:"), each may be empty.
  std::string path;
  std::string drive;
  BoardRead read = BoardRead::NotRead;  // how reading it over PICOBOOT went
  std::string version;  // the version our firmware on it declares; empty when unknown
};

// The write over PICOBOOT.
struct BoardWrite {
  const FirmwareImage& image;
  std::string path;
  bool confirm = false;  // the person agreed to replace firmware that is not ours
  bool repair = false;   // also clear the settings and paired controllers
};

// Written, NothingToWrite, Refused, or Failed with only `tech` (for the drive copy to take over).
struct BoardWritten {
  StageResult result;
  bool imageChanged = false;     // an erase or write may have changed the board's image
  bool settingsErasing = false;  // a repair sent the erase of the settings area
  bool settingsErased = false;   // and the board said it was done
  bool settingsCleared = false;  // and they read back clear
  bool rebootFailed = false;
  // The flash of the board may differ from what it held before.
  bool changedBoard() const { return imageChanged || settingsErasing; }
};

// The copy onto the RP2350 drive after a failed write.
struct DriveCopy {
  const std::uint8_t* file = nullptr;
  std::size_t fileSize = 0;
  std::string drive;  // as the board was found; searched again when empty
  bool repair = false;
  bool boardBusy = false;      // the board could not be read for another program holding it
  const BoardWritten& before;  // how the direct write left the board
};

struct DriveCopied {
  StageResult result;
  bool settingsCleared = false;
  std::string repairAdvice;  // what a repair that kept the settings tells the person to do
};

// How the board was restarted, for the wait for the dongle.
enum class BoardRestart {
  RestartOnly,     // nothing was installed
  WrittenOverUsb,  // installed and read back over PICOBOOT
  CopiedToDrive,   // the drive took the file
};

struct DongleReturn {
  BoardRestart how = BoardRestart::RestartOnly;
  std::string expected;  // the version the dongle should come back on
  std::string target;    // the version installed
  bool rebootFailed = false;
  bool settingsCleared = false;  // a repair cleared settings and paired controllers
  std::string repairAdvice;
  std::string skippedRelease;  // as in ChosenImage
  std::string skippedWhy;
};

// The stages, in the order the job runs them. Each reports its progress through `job`.

// Chooses and checks the image (every action but a restart); `from` is the dongle's version.
ChosenImage chooseImage(FirmwareJobContext& job, const InstallPorts& ports, FirmwareAction action,
                        const std::string& from);
// Gets the dongle into update mode: switches a running dongle over, or asks for the button.
UpdateModeReached bringToUpdateMode(FirmwareJobContext& job, const InstallPorts& ports,
                                    FirmwareAction action);
// Reads the board and decides what may be done with it.
BoardFound inspectBoard(FirmwareJobContext& job, const InstallPorts& ports,
                        const BoardQuestion& question);
// Restarts a board that needs no writing; `announced` when the inspection already said so.
StageResult restartBoard(FirmwareJobContext& job, const PicobootPorts& picoboot,
                         const std::string& path, bool announced);
// Writes, reads back and restarts over PICOBOOT.
BoardWritten writeOverPicoboot(FirmwareJobContext& job, const PicobootPorts& picoboot,
                               const BoardWrite& write);
// Copies the UF2 file onto the RP2350 drive; Done when the board took it.
DriveCopied copyToDrive(FirmwareJobContext& job, FileSystem& files, const DriveCopy& copy);
// Waits for the dongle to come back and says how the job ends.
FirmwareJobEnding waitForDongle(FirmwareJobContext& job, const InstallPorts& ports,
                                const DongleReturn& after);

// A PICOBOOT interface or the RP2350 drive is there.
bool boardInUpdateMode(const InstallPorts& ports);

// The running dongle's version, read afresh from its identity report; false when none answers.
bool readDongleVersion(DongleLink& dongle, std::string& version);

}  // namespace tw
