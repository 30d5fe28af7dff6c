// The one notification a board in update mode earns when it has been read (or could not be).
#pragma once

#include "flash/firmware_state.h"

namespace tw {

// True when the board's advice is due now: a board is present, not yet advised, read (or failed),
// no job is active or queued, and no other flashing tool is at work.
bool isBoardAdviceDue(const FirmwareState& state);

// Marks the board advised, posts its notice by the first matching rule and counts the change.
// FirmwareStore gives it at the end of a watcher turn and wakes the tray.
void giveBoardAdvice(FirmwareState& state);

}  // namespace tw
