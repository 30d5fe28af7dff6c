#include "firmware/update_host.h"

#ifndef TW_UPDATE_HOST
#error "TW_UPDATE_HOST names the update host; the build sets it from the CMake cache"
#endif

namespace tw {

const char UpdateHost[] = TW_UPDATE_HOST;
const char UpdateFirmwarePrefix[] = "https://" TW_UPDATE_HOST "/firmware/";

}  // namespace tw
