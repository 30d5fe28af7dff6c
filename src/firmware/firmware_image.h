// The flat flash image made from a UF2 file: what the installer compares, erases and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tw {

constexpr std::uint32_t kFlashStart = 0x10000000;
constexpr std::uint32_t kFlashLast = 0x10ffffff;  // last byte of the 16 MB window
constexpr std::uint32_t kFlashPageSize = 256;
constexpr std::uint32_t kFlashSectorSize = 4096;

// Owned by whoever asked `checkUf2` for it; the buffers are released by `freeFirmwareImage` or
// when the record goes away, so a moved or forgotten image never leaks.
struct FirmwareImage {
  std::uint32_t base = 0;                       // lowest written address, rounded down to a sector
  std::uint32_t size = 0;                       // bytes from base, a whole number of sectors
  std::unique_ptr<std::uint8_t[]> data;         // size bytes, 0xff where nothing was written
  std::unique_ptr<std::uint8_t[]> pageWritten;  // size / 256 flags
  std::uint32_t dataBlocks = 0;
  std::uint32_t totalBlocks = 0;
  std::uint32_t skippedBlocks = 0;
  char program[64] = {};  // declared program name, or empty
  char version[64] = {};  // declared version, or empty
};

// Frees the buffers and clears every field; a null image is ignored.
void freeFirmwareImage(FirmwareImage* image);

// True when `address` lies inside the image and a page of the 4096-byte sector starting there
// was written by the file.
bool sectorHasData(const FirmwareImage& image, std::uint32_t address);

// Copies `length` bytes at flash `address`; false unless the whole range lies inside the image.
bool readImageBytes(const FirmwareImage& image, std::uint32_t address, void* buffer,
                    std::size_t length);

// `readImageBytes` in the shape of a flash reader (context is the FirmwareImage).
bool readImageBytesCallback(void* image, std::uint32_t address, void* buffer, std::size_t length);

}  // namespace tw
