// The program name and version that RP-series firmware declares about itself, read from the
// binary information the Pico SDK leaves in flash. The same reader serves a flat image and a
// board's flash over USB, so it reads as little as it can.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

// Reads `length` bytes of flash at `address` into `buffer`; false when it can't.
using FlashReader = bool (*)(void* context, std::uint32_t address, void* buffer,
                             std::size_t length);

constexpr std::uint32_t kInfoMarkerStart = 0x7188ebf2;
constexpr std::uint32_t kInfoMarkerEnd = 0xe71aa390;
constexpr std::uint16_t kInfoTypeIdAndString = 6;
constexpr std::uint16_t kInfoTagRaspberryPi = 0x5052;  // "RP"
constexpr std::uint32_t kInfoIdProgramName = 0x02031c86;
constexpr std::uint32_t kInfoIdProgramVersion = 0x11a9bc3a;

// Returns -1 when the first 1024 bytes of flash can't be read, 0 when they hold no info header,
// and 1 otherwise. Both texts are emptied first and stay empty when not declared; each is cut to
// its capacity - 1 bytes, with bytes outside printable ASCII shown as "?".
int readProgramInfo(FlashReader read, void* context, char* program, std::size_t programCapacity,
                    char* version, std::size_t versionCapacity);

}  // namespace tw
