#include "sim/boot_blocks.h"

#include <algorithm>

namespace tw::sim {
namespace {

// The ROM's buffers: larger blocks are not read, and an IMAGE_DEF above 384 bytes is ignored.
constexpr std::uint32_t kBlockMax = 640;
constexpr std::uint32_t kImageDefMax = 384;
// Enough for an IMAGE_DEF, its signed copy and a few appended blocks; a longer chain is no loop.
constexpr std::size_t kLoopMax = 16;

struct Block {
  std::uint8_t firstItem = 0;
  std::uint16_t imageTypeFlags = 0;
  std::uint32_t bytes = 0;
  std::int32_t link = 0;
};

bool readWord(const FlashReader& read, std::uint32_t at, std::uint32_t& value) {
  std::uint8_t b[4];
  if (!read(at, b, sizeof b)) return false;
  value = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
          std::uint32_t(b[3]) << 24;
  return true;
}

// A well-formed block at `at`: its items chain up to a last item that counts their words, then
// the link and the end marker.
bool parseBlock(const FlashReader& read, std::uint32_t at, Block& block) {
  std::uint32_t value = 0;
  if (!readWord(read, at, value) || value != kBlockMarkerStart) return false;
  std::uint32_t p = at + 4;
  bool first = true;
  while (p + 12 - at <= kBlockMax) {
    std::uint32_t item = 0;
    if (!readWord(read, p, item)) return false;
    const std::uint8_t type = item & 0xff;
    const std::uint32_t words = type & 0x80 ? (item >> 8) & 0xffff : (item >> 8) & 0xff;
    if (type == kBlockItemLast) {
      std::uint32_t link = 0, end = 0;
      if (first || words != (p - at - 4) / 4 || !readWord(read, p + 4, link) ||
          !readWord(read, p + 8, end) || end != kBlockMarkerEnd) {
        return false;
      }
      block.link = static_cast<std::int32_t>(link);
      block.bytes = p + 12 - at;
      return true;
    }
    if (words == 0) return false;
    if (first) {
      block.firstItem = type;
      if (type == kBlockItemImageType)
        block.imageTypeFlags = static_cast<std::uint16_t>(item >> 16);
      first = false;
    }
    p += words * 4;
  }
  return false;
}

// The loop that starts at `first`, when its links come back to it without going below it.
bool walkLoop(const FlashReader& read, std::uint32_t first, BlockLoop& loop) {
  std::uint32_t at = first;
  for (std::size_t n = 0; n < kLoopMax; ++n) {
    Block block;
    if (!parseBlock(read, at, block)) return false;
    loop.blocks.push_back(at);
    if (block.firstItem == kBlockItemImageType && block.bytes <= kImageDefMax) {
      loop.imageDef = true;
      loop.imageDefAt = at;
      loop.imageTypeFlags = block.imageTypeFlags;
    }
    if ((block.firstItem & 0x7f) == kBlockItemPartitionTable) loop.partitionTable = true;
    const std::uint32_t next = at + static_cast<std::uint32_t>(block.link);
    if (next == first) return true;
    const bool seen = std::find(loop.blocks.begin(), loop.blocks.end(), next) != loop.blocks.end();
    if (next < first || (next & 3) != 0 || seen) return false;
    at = next;
  }
  return false;
}

}  // namespace

BlockLoop findBlockLoop(const FlashReader& read, std::uint32_t base) {
  std::vector<std::uint8_t> window(kBlockSearchWindow);
  if (!read(base, window.data(), window.size())) return {};
  for (std::uint32_t off = 0; off + 4 <= kBlockSearchWindow; off += 4) {
    const std::uint8_t* w = window.data() + off;
    const std::uint32_t marker = std::uint32_t(w[0]) | std::uint32_t(w[1]) << 8 |
                                 std::uint32_t(w[2]) << 16 | std::uint32_t(w[3]) << 24;
    if (marker != kBlockMarkerStart) continue;
    BlockLoop loop;
    if (walkLoop(read, base + off, loop)) {
      loop.found = true;
      return loop;
    }
  }
  return {};
}

bool startsOnRp2350(std::uint16_t flags) {
  const std::uint16_t type = flags & 0xf;
  const std::uint16_t security = (flags >> 4) & 0x3;
  const std::uint16_t cpu = (flags >> 8) & 0x7;
  const std::uint16_t chip = (flags >> 12) & 0x7;
  if (type != kImageTypeExe || chip != kExeChipRp2350) return false;
  if (cpu == kExeCpuArm) return security != kExeSecurityNonSecure;
  return cpu == kExeCpuRiscv;
}

}  // namespace tw::sim
