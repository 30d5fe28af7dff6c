// Where the dongle's firmware keeps what must survive a restart: its saved configuration and its
// paired controller, in the 16 KB settings area at the end of the 4 MB flash. A firmware image
// never covers that area; erasing it forgets both, so the dongle starts with factory settings and
// no controller.
#pragma once

#include <cstdint>

#include "sim/dongle_model.h"
#include "sim/nor_flash.h"

namespace tw::sim {

inline constexpr std::uint32_t kSettingsAreaAddress = 0x103FC000;
inline constexpr std::uint32_t kSettingsAreaSize = 0x4000;

// The saved configuration; factory settings when none is saved.
DongleConfigBytes loadSavedConfig(const NorFlash& flash);
// Erases the configuration's sector and programs the record, as the firmware does on "save".
void storeSavedConfig(NorFlash& flash, const DongleConfigBytes& config);
bool loadPairing(const NorFlash& flash);
void storePairing(NorFlash& flash, bool paired);

}  // namespace tw::sim
