// Firmware for the simulated world to put on boards: small generated flash images laid out as
// Pico SDK programs are (vector table, binary information header, an IMAGE_DEF block, code,
// the declared strings and entries near the end), UF2 files made from them, and loading either
// into a flash chip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/nor_flash.h"
#include "sim/uf2_download.h"

namespace tw::sim {

struct FirmwareRecipe {
  std::string program = "korrinlink";  // not declared when empty
  std::string version = "0.9.3";       // not declared when empty
  bool binaryInfo = true;              // false: no binary information at all
  bool entriesInRam = false;           // entries found through the copy table
  bool bootable = true;                // false: no IMAGE_DEF, the ROM will not run it
  std::uint32_t size = 16 * 1024;      // bytes from 0x10000000, at least 4096
  std::uint32_t seed = 1;              // varies the code bytes
};

std::vector<std::uint8_t> makeFirmwareImage(const FirmwareRecipe& recipe);

// One 512-byte block per 256 bytes of the image, numbered from 0.
std::vector<std::uint8_t> makeUf2(const std::vector<std::uint8_t>& image,
                                  std::uint32_t base = kFlashBase,
                                  std::uint32_t family = kFamilyRp2350ArmSecure);

// The build the simulated update host publishes as `version`: as large as the built-in image,
// declaring our program, so a board it is installed on starts as the dongle on that version.
std::vector<std::uint8_t> makeReleaseUf2(const std::string& version);

// Erases the sectors the image covers and programs it.
void writeImage(NorFlash& flash, const std::vector<std::uint8_t>& image,
                std::uint32_t base = kFlashBase);
// Writes a UF2 file the way the RP2350 drive takes it (without its timing); the number of
// blocks written.
std::uint32_t writeUf2(NorFlash& flash, const std::vector<std::uint8_t>& uf2);

}  // namespace tw::sim
