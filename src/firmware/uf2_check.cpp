#include "firmware/uf2_check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "firmware/program_info.h"

namespace tw {
namespace {

struct Block {
  std::uint32_t magic0, magic1, flags, target, payloadSize, blockNo, numBlocks, family, magicEnd;
  const std::uint8_t* payload;
};

std::uint32_t word(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

Block readBlock(const std::uint8_t* p) {
  return Block{word(p),      word(p + 4),  word(p + 8),  word(p + 12),  word(p + 16),
               word(p + 20), word(p + 24), word(p + 28), word(p + 508), p + 32};
}

bool isSkipped(const Block& block) {
  return (block.flags & kUf2FlagNotMainFlash) != 0 || block.family == kFamilyRp2350Absolute;
}

__attribute__((format(printf, 3, 4))) int fail(char* message, std::size_t capacity,
                                               const char* format, ...) {
  if (message != nullptr && capacity > 0) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, capacity, format, args);
    va_end(args);
  }
  return 0;
}

}  // namespace

int checkUf2(const std::uint8_t* file, std::size_t length, FirmwareImage& out, char* message,
             std::size_t capacity) {
  freeFirmwareImage(&out);
  if (message != nullptr && capacity > 0) message[0] = '\0';
  if (file == nullptr || length < kUf2BlockSize || length % kUf2BlockSize != 0) {
    return fail(message, capacity, "not a firmware file (%lu bytes is not whole UF2 blocks)",
                (unsigned long)(file == nullptr ? 0 : length));
  }
  std::size_t blocks = length / kUf2BlockSize;
  if (blocks > kUf2MaxBlocks) {
    return fail(message, capacity, "firmware file is far too large (%lu blocks)",
                (unsigned long)blocks);
  }

  std::uint32_t dataBlocks = 0, skipped = 0, declared = 0;
  std::uint32_t lowest = 0xffffffff, highestEnd = 0;
  for (std::size_t i = 0; i < blocks; ++i) {
    Block block = readBlock(file + i * kUf2BlockSize);
    unsigned long at = (unsigned long)i;
    if (block.magic0 != kUf2MagicStart0 || block.magic1 != kUf2MagicStart1 ||
        block.magicEnd != kUf2MagicEnd) {
      return fail(message, capacity, "firmware file is damaged at block %lu", at);
    }
    if ((block.flags & kUf2FlagFamilyIdPresent) == 0) {
      return fail(message, capacity, "block %lu does not say which chip it is for", at);
    }
    if (isSkipped(block)) {
      ++skipped;
      continue;
    }
    if (block.family != kFamilyRp2350ArmSecure) {
      return fail(message, capacity,
                  "this file is for a different chip (family 0x%08lx), not the Bridge's RP2350",
                  (unsigned long)block.family);
    }
    if (block.payloadSize != kFlashPageSize || block.target % kFlashPageSize != 0) {
      return fail(message, capacity, "block %lu has an unexpected layout", at);
    }
    if (block.target < kFlashStart || block.target > kUf2HighestTarget) {
      return fail(message, capacity, "block %lu points outside flash", at);
    }
    if (dataBlocks == 0) declared = block.numBlocks;
    if (block.blockNo != dataBlocks || block.numBlocks != declared) {
      return fail(message, capacity, "firmware file blocks are out of order at %lu", at);
    }
    if (block.target < lowest) lowest = block.target;
    if (block.target + kFlashPageSize > highestEnd) highestEnd = block.target + kFlashPageSize;
    ++dataBlocks;
  }
  if (dataBlocks == 0) return fail(message, capacity, "no firmware in this file");
  if (declared != dataBlocks) {
    // More blocks than declared is refused the same way; "missing" then has no honest count.
    unsigned long missing = declared > dataBlocks ? (unsigned long)(declared - dataBlocks) : 0;
    return fail(message, capacity, "firmware file is incomplete (%lu blocks missing)", missing);
  }

  FirmwareImage image;
  image.base = lowest & ~(kFlashSectorSize - 1);
  std::uint32_t end = (highestEnd + kFlashSectorSize - 1) & ~(kFlashSectorSize - 1);
  image.size = end - image.base;
  std::uint32_t pages = image.size / kFlashPageSize;
  image.data.reset(new (std::nothrow) std::uint8_t[image.size]);
  image.pageWritten.reset(new (std::nothrow) std::uint8_t[pages]);
  if (!image.data || !image.pageWritten) return fail(message, capacity, "out of memory");
  std::memset(image.data.get(), 0xff, image.size);
  std::memset(image.pageWritten.get(), 0, pages);

  for (std::size_t i = 0; i < blocks; ++i) {
    Block block = readBlock(file + i * kUf2BlockSize);
    if (isSkipped(block)) continue;
    std::uint32_t offset = block.target - image.base;
    std::uint32_t page = offset / kFlashPageSize;
    if (image.pageWritten[page]) {
      return fail(message, capacity, "firmware file writes 0x%08lx twice",
                  (unsigned long)block.target);
    }
    image.pageWritten[page] = 1;
    std::memcpy(image.data.get() + offset, block.payload, kFlashPageSize);
  }

  image.dataBlocks = dataBlocks;
  image.totalBlocks = std::uint32_t(blocks);
  image.skippedBlocks = skipped;
  if (readProgramInfo(readImageBytesCallback, &image, image.program, sizeof image.program,
                      image.version, sizeof image.version) != 1) {
    image.program[0] = '\0';
    image.version[0] = '\0';
  }
  out = std::move(image);
  return 1;
}

}  // namespace tw
