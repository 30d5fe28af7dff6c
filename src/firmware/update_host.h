// The vendor's update host: the release list and the firmware files are served from it over
// HTTPS only. Fixed at build time (CMake cache variable TW_UPDATE_HOST) so that test builds can
// point it at "localhost".
#pragma once

namespace tw {

extern const char UpdateHost[];

// "https://" + UpdateHost + "/firmware/": every download address the release list may name
// starts with it.
extern const char UpdateFirmwarePrefix[];

}  // namespace tw
