// What a board finds in its flash when it starts: whether the boot ROM has an RP2350 executable
// to run (the IMAGE_DEF of the block loop found in the first 4 KB), and the program name and
// version the firmware declares about itself in the Pico SDK's binary information (a header in the
// first 1 KB pointing at an array of entry pointers, with a copy table for entries that live in RAM
// once the program runs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/boot_blocks.h"
#include "sim/nor_flash.h"
#include "sim/program_info_layout.h"

namespace tw::sim {

struct FlashImageInfo {
  bool bootable = false;          // the boot ROM finds an executable image for this chip
  bool bootSectorErased = false;  // the first 4 KB are all 0xFF
  bool binaryInfo = false;        // a binary information header is there
  std::string program;            // declared program name, or empty
  std::string version;            // declared program version, or empty
};

FlashImageInfo inspectFlashImage(const FlashReader& read);
FlashImageInfo inspectFlash(const NorFlash& flash);
// Over a flat image that starts at `base`.
FlashImageInfo inspectImage(const std::vector<std::uint8_t>& image,
                            std::uint32_t base = kFlashBase);

}  // namespace tw::sim
