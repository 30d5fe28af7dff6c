// The words the tray uses for the dongle's state: battery and signal words and the status line.
#pragma once

#include <cstdint>
#include <string>

#include "dongle/dongle_status.h"

namespace tw {

// "full", "nearly full", ... "critically low" for a level 0..10.
const char* batteryWord(std::int32_t level);
// " • signal strong" / good / weak, or "" when there is no reading (0 or above).
const char* signalPart(std::int32_t signalDbm);

// The tray's one-line status, cut to 95 UTF-16 units. `jobLine` (when non-empty) wins over the
// dongle's own state.
std::string buildStatusLine(const DongleStatus& status, const std::string& jobLine,
                            bool boardInUpdateMode);

// A battery level the user should hear about: 0..2 while running on battery.
bool isBatteryLow(const DongleStatus& status);

}  // namespace tw
