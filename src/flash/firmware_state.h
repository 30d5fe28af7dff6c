// All firmware state behind one lock: the built-in image, the board in update mode, the station
// flag, the pending notice and the change counter. USB, disk and device enumeration run without
// the lock; their results are applied under it; window messages are posted only after it is
// released. Other threads read it under the lock and never hold it across I/O.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "firmware/built_in_image.h"
#include "flash/boot_board.h"
#include "flash/firmware_job.h"
#include "flash/pending_notice.h"

namespace tw {

struct FirmwareState {
  std::mutex lock;  // the firmware lock

  // Incremented under the lock on every change the state document shows; starts at 1.
  std::uint32_t firmwareSeq = 1;

  BuiltInImage builtIn;
  BootBoard board;
  bool station = false;         // another flashing tool is at work: leave boards alone
  bool quietNextBoard = false;  // a board first seen while set starts advised
  PendingNotice notice;

  FirmwareJob job;          // what the one firmware job is doing, or how it ended
  FirmwareRequest request;  // the one request waiting for the firmware thread
};

// The version this program would install now (empty when it has none), and whether it comes
// from the release list (so it needs a download) rather than the built-in image. Lock held.
std::string offerVersion(const FirmwareState& state, bool* fromList = nullptr);

}  // namespace tw
