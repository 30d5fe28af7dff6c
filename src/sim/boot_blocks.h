// How the RP2350 boot ROM finds an image's definition in flash: it searches the first 4 KB for a
// well-formed block (start marker, items, a last item counting them, a relative link, end marker)
// that is part of a closed block loop, follows the links (which may lead past the first 4 KB),
// and takes the last IMAGE_DEF of the loop. Real SDK images put their IMAGE_DEF early and close
// the loop with an "ignored" block near their end; a signed image adds a later IMAGE_DEF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tw::sim {

// Reads `length` bytes at an address of the XIP window; false where nothing can be read.
using FlashReader = std::function<bool(std::uint32_t address, std::uint8_t* out, std::size_t)>;

inline constexpr std::uint32_t kBlockMarkerStart = 0xffffded3;
inline constexpr std::uint32_t kBlockMarkerEnd = 0xab123579;
inline constexpr std::uint8_t kBlockItemImageType = 0x42;       // one-byte size
inline constexpr std::uint8_t kBlockItemPartitionTable = 0x0a;  // with either size flag
inline constexpr std::uint8_t kBlockItemIgnored = 0xfe;         // two-byte size
inline constexpr std::uint8_t kBlockItemLast = 0xff;            // two-byte size
inline constexpr std::uint32_t kBlockSearchWindow = 4096;

// IMAGE_TYPE flags: image type (bits 0-3), security (4-5), CPU (8-10), chip (12-14).
inline constexpr std::uint16_t kImageTypeExe = 0x1;
inline constexpr std::uint16_t kImageTypeData = 0x2;
inline constexpr std::uint16_t kExeSecurityNonSecure = 0x1;
inline constexpr std::uint16_t kExeSecuritySecure = 0x2;
inline constexpr std::uint16_t kExeCpuArm = 0x0;
inline constexpr std::uint16_t kExeCpuRiscv = 0x1;
inline constexpr std::uint16_t kExeChipRp2350 = 0x1;

struct BlockLoop {
  bool found = false;                 // a closed loop starts in the search window
  std::vector<std::uint32_t> blocks;  // its blocks' addresses in link order, the first lowest
  bool imageDef = false;              // the loop holds an IMAGE_DEF
  std::uint32_t imageDefAt = 0;       // the one that counts: the last in the loop
  std::uint16_t imageTypeFlags = 0;   // its IMAGE_TYPE item
  bool partitionTable = false;        // the loop holds a partition table
};

// The first block loop the ROM finds from `base`.
BlockLoop findBlockLoop(const FlashReader& read, std::uint32_t base);

// Whether image type flags describe an executable the RP2350 starts from flash by itself: EXE for
// this chip, on Arm (secure or unspecified: a non-secure image needs secure code to start it) or
// on RISC-V.
bool startsOnRp2350(std::uint16_t imageTypeFlags);

}  // namespace tw::sim
