// Turns a UF2 file into a flat flash image after checking that it is a complete RP2350 image
// that writes each flash page at most once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "firmware/firmware_image.h"

namespace tw {

constexpr std::uint32_t kUf2BlockSize = 512;
constexpr std::uint32_t kUf2MaxBlocks = 65536;
constexpr std::uint32_t kUf2MagicStart0 = 0x0a324655;
constexpr std::uint32_t kUf2MagicStart1 = 0x9e5d5157;
constexpr std::uint32_t kUf2MagicEnd = 0x0ab16f30;
constexpr std::uint32_t kUf2FlagNotMainFlash = 0x00000001;
constexpr std::uint32_t kUf2FlagFamilyIdPresent = 0x00002000;
constexpr std::uint32_t kFamilyRp2350ArmSecure = 0xe48bff59;
constexpr std::uint32_t kFamilyRp2350Absolute = 0xe48bff57;
constexpr std::uint32_t kUf2HighestTarget = 0x10ffff00;

// Returns 1 with a complete image in `out`, or 0 with `out` cleared and the first problem found
// written to `message` (cut to `capacity`) when a buffer is given.
int checkUf2(const std::uint8_t* file, std::size_t length, FirmwareImage& out,
             char* message = nullptr, std::size_t capacity = 0);

}  // namespace tw
