// What the firmware side knows, as one plain value: the built-in image, the board in update mode,
// the station flag, the online check with its release list, the running dongle, the pending
// notice, the job and the change counter. The live copy belongs to FirmwareStore, behind the
// firmware lock; readers get consistent copies of it, and the rules that change it (board_record,
// online_check, firmware_job, board_advice) are applied by the store under that lock.
#pragma once

#include <cstdint>
#include <string>

#include "firmware/built_in_image.h"
#include "firmware/release_list.h"
#include "flash/boot_board.h"
#include "flash/firmware_job.h"
#include "flash/pending_notice.h"

namespace tw {

// The names are what the state document shows.
enum class OnlineState { Never = 0, Checking = 1, Ok = 2, Failed = 3 };

// The release-list check's outcome.
struct OnlineCheck {
  OnlineState state = OnlineState::Never;
  ReleaseList list{};           // of the last successful check; consulted only while Ok
  std::string error;            // the last failed check's message (at most 199 bytes)
  std::uint64_t checkedAt = 0;  // tick when the last check ended, 0 before the first
  bool announce = false;        // the next check to end shows its result as a notice
};

// The dongle in normal operation, as the tray's status poll last saw it.
struct RunningDongle {
  bool present = false;
  std::string version;  // printable ASCII, at most 63 characters; may be empty
};

struct FirmwareState {
  // Incremented on every change the state document shows; starts at 1.
  std::uint32_t firmwareSeq = 1;

  BuiltInImage builtIn;
  BootBoard board;
  bool station = false;         // another flashing tool is at work: leave boards alone
  bool quietNextBoard = false;  // a board first seen while set starts advised
  PendingNotice notice;

  OnlineCheck online;
  RunningDongle dongle;
  std::string lastOffered;  // the version "Firmware update ready" was last shown for
  // The published build whose file failed its signature (see releaseIdentity): it is not offered
  // again while the release list still names exactly that file.
  std::string unusableRelease;

  FirmwareJob job;          // what the one firmware job is doing, or how it ended
  FirmwareRequest request;  // the one request waiting for the firmware thread
};

// What tells one published build from another: its version, checksum and signature.
std::string releaseIdentity(const ReleaseInfo& build);

// The version this program would install now (empty when it has none), and whether it comes
// from the release list (so it needs a download) rather than the built-in image. The release list
// counts only after a successful check, and only when it names something newer that did not fail
// its signature.
std::string offerVersion(const FirmwareState& state, bool* fromList = nullptr);

// The same into a buffer of the caller's, for readers that must not allocate; returns its text.
struct OfferedVersion {
  char text[64];
};
const char* offerVersion(const FirmwareState& state, OfferedVersion& out, bool* fromList = nullptr);

}  // namespace tw
