// The UF2 drive a board in update mode brings up.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace tw {

// The first drive from C: to Z: that is removable, is labelled "RP2350" or "RPI-RP2" (any case)
// and has an "INFO_UF2.TXT" in its root whose first 599 bytes contain "RP2350". True with the
// drive as letter and colon ("E:"); false with `drive` empty. Drives that cannot be read are
// passed over.
bool findRp2350Drive(FileSystem& files, std::string& drive);

// The letter names an existing drive labelled "RP2350" or "RPI-RP2" (any case). Checked again
// right before a firmware file is copied onto it.
bool isRp2350Drive(FileSystem& files, char letter);

}  // namespace tw
