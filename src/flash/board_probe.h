// What firmware a board in update mode carries, read over PICOBOOT through a one-page cache, as
// the board watcher needs it. The probe never asks for exclusive access and never writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "flash/boot_board.h"
#include "flash/picoboot.h"

namespace tw {

inline constexpr std::uint32_t kFlashPageReaderPage = 4096;
// Texts the probe fills: program name and version (64 bytes with terminator), failure line.
inline constexpr std::size_t kProbeNameCapacity = 64;

// A cache of one 4096-byte flash page read through `device`.
struct FlashPageReader {
  PicobootDevice* device = nullptr;
  std::uint32_t pageAddress = 0;
  bool valid = false;
  // A read over USB failed: whatever was made of the reads since cannot be trusted.
  bool usbFailed = false;
  std::uint8_t page[kFlashPageReaderPage];
};

// Copies `length` bytes of flash from `address` into `buffer`, reading whole pages through the
// cache. Fails, without any USB traffic, for a page outside the flash window 0x10000000 to
// 0x10FFFFFF. `context` is the FlashPageReader, so this serves as a FlashReader.
bool readFlashCached(void* context, std::uint32_t address, void* buffer, std::size_t length);

// Opens the board at `path` and reads its program name and version (each at most 63 bytes, empty
// when not declared). Without declared information, `blank` tells whether the first flash sector
// is erased. Returns Read, Failed with the failure line (at most 199 bytes) in `why`, or Busy
// when another program holds the board.
BoardRead probeBoard(const PicobootPorts& ports, const std::string& path, std::string& program,
                     std::string& version, bool& blank, std::string& why);

}  // namespace tw
