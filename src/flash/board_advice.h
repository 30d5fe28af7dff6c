// The one notification a board in update mode earns when it has been read (or could not be).
#pragma once

#include "flash/firmware_state.h"

namespace tw {

// True when the board's advice is due now: a board is present, not yet advised, read (or failed),
// no job is active or queued, and no other flashing tool is at work. Lock held.
bool isBoardAdviceDue(const FirmwareState& state);

// Marks the board advised, posts its notice by the first matching rule and counts the change.
// Lock held; the caller posts FW_NOTICE once the lock is released.
void giveBoardAdvice(FirmwareState& state);

}  // namespace tw
