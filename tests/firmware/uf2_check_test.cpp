#include "firmware/uf2_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/firmware_test_support.h"

namespace tw {
namespace {

using test::appendBlock;
using test::consecutiveBlocks;
using test::put32;
using test::Uf2Block;

// Runs the check and returns its message ("" on success); the image must be cleared on failure.
std::string check(const std::vector<std::uint8_t>& file, FirmwareImage& image) {
  char message[200] = "unchanged";
  int ok = checkUf2(file.data(), file.size(), image, message, sizeof message);
  if (ok != 1) {
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(image.size, 0u);
    EXPECT_EQ(image.dataBlocks, 0u);
    return message;
  }
  EXPECT_STREQ(message, "");
  return "";
}

std::string check(const std::vector<std::uint8_t>& file) {
  FirmwareImage image;
  return check(file, image);
}

TEST(Uf2Size, NotWholeBlocks) {
  EXPECT_EQ(check(std::vector<std::uint8_t>(511)),
            "not a firmware file (511 bytes is not whole UF2 blocks)");
  EXPECT_EQ(check(std::vector<std::uint8_t>(1000)),
            "not a firmware file (1000 bytes is not whole UF2 blocks)");
  EXPECT_EQ(check(std::vector<std::uint8_t>()),
            "not a firmware file (0 bytes is not whole UF2 blocks)");
  FirmwareImage image;
  char message[100];
  EXPECT_EQ(checkUf2(nullptr, 512, image, message, sizeof message), 0);
  EXPECT_STREQ(message, "not a firmware file (0 bytes is not whole UF2 blocks)");
}

TEST(Uf2Size, FarTooLarge) {
  // The size is refused before any block is looked at.
  EXPECT_EQ(check(std::vector<std::uint8_t>(65537 * 512)),
            "firmware file is far too large (65537 blocks)");
}

TEST(Uf2Block, WrongMagicAnywhere) {
  for (int which = 0; which < 3; ++which) {
    std::vector<std::uint8_t> file = consecutiveBlocks(3);
    std::size_t offsets[3] = {0, 4, 508};
    file[512 * 2 + offsets[which]] ^= 1;
    EXPECT_EQ(check(file), "firmware file is damaged at block 2") << which;
  }
}

TEST(Uf2Block, FamilyFlagMissing) {
  std::vector<std::uint8_t> file = consecutiveBlocks(2);
  put32(file.data() + 512 + 8, 0);
  EXPECT_EQ(check(file), "block 1 does not say which chip it is for");
}

TEST(Uf2Block, OtherChipFamily) {
  std::vector<std::uint8_t> file;
  Uf2Block block;
  block.family = 0xe48bff56;  // RP2040
  appendBlock(file, block);
  EXPECT_EQ(check(file),
            "this file is for a different chip (family 0xe48bff56), not the Bridge's RP2350");
}

TEST(Uf2Block, UnexpectedLayout) {
  std::vector<std::uint8_t> file = consecutiveBlocks(2);
  put32(file.data() + 512 + 16, 476);
  EXPECT_EQ(check(file), "block 1 has an unexpected layout");
  file = consecutiveBlocks(2);
  put32(file.data() + 512 + 12, 0x10000180);
  EXPECT_EQ(check(file), "block 1 has an unexpected layout");
}

TEST(Uf2Block, OutsideFlash) {
  for (std::uint32_t target : {0x20000000u, 0x0fffff00u, 0x11000000u}) {
    std::vector<std::uint8_t> file;
    Uf2Block block;
    block.target = target;
    appendBlock(file, block);
    EXPECT_EQ(check(file), "block 0 points outside flash") << std::hex << target;
  }
  // The last page of the 16 MB window is still flash.
  std::vector<std::uint8_t> file;
  Uf2Block block;
  block.target = 0x10ffff00;
  appendBlock(file, block);
  FirmwareImage image;
  EXPECT_EQ(check(file, image), "");
  EXPECT_EQ(image.base, 0x10fff000u);
  EXPECT_EQ(image.size, 4096u);
}

TEST(Uf2Order, BlockNumbersOutOfOrder) {
  std::vector<std::uint8_t> file;
  for (std::uint32_t number : {0u, 2u, 1u}) {
    Uf2Block block;
    block.target = 0x10000000 + number * 256;
    block.blockNo = number;
    block.numBlocks = 3;
    appendBlock(file, block);
  }
  EXPECT_EQ(check(file), "firmware file blocks are out of order at 1");
}

TEST(Uf2Order, BlockCountChangesMidFile) {
  std::vector<std::uint8_t> file = consecutiveBlocks(3);
  put32(file.data() + 2 * 512 + 24, 4);
  EXPECT_EQ(check(file), "firmware file blocks are out of order at 2");
}

TEST(Uf2Order, MessagesCountSkippedBlocksToo) {
  std::vector<std::uint8_t> file;
  Uf2Block skipped;
  skipped.family = 0xe48bff57;
  skipped.numBlocks = 1;
  appendBlock(file, skipped);
  Uf2Block first;
  first.numBlocks = 2;
  appendBlock(file, first);
  Uf2Block wrong = first;
  wrong.blockNo = 5;
  wrong.target += 256;
  appendBlock(file, wrong);
  EXPECT_EQ(check(file), "firmware file blocks are out of order at 2");
}

TEST(Uf2Count, Incomplete) {
  std::vector<std::uint8_t> file = consecutiveBlocks(9);
  for (int i = 0; i < 9; ++i) put32(file.data() + i * 512 + 24, 10);
  EXPECT_EQ(check(file), "firmware file is incomplete (1 blocks missing)");
}

TEST(Uf2Count, MoreBlocksThanDeclaredIsRefused) {
  std::vector<std::uint8_t> file = consecutiveBlocks(4);
  for (int i = 0; i < 4; ++i) put32(file.data() + i * 512 + 24, 2);
  EXPECT_EQ(check(file), "firmware file is incomplete (0 blocks missing)");
}

TEST(Uf2Count, NothingButSkippedBlocks) {
  std::vector<std::uint8_t> file;
  Uf2Block absolute;
  absolute.family = 0xe48bff57;
  appendBlock(file, absolute);
  Uf2Block notMain;
  notMain.flags = 0x2001;
  notMain.family = 0x12345678;  // skipped before its family is looked at
  appendBlock(file, notMain);
  EXPECT_EQ(check(file), "no firmware in this file");
}

TEST(Uf2Pages, PageWrittenTwice) {
  std::vector<std::uint8_t> file;
  for (std::uint32_t i = 0; i < 3; ++i) {
    Uf2Block block;
    block.target = i == 0 ? 0x10000000 : 0x10001000;
    block.blockNo = i;
    block.numBlocks = 3;
    appendBlock(file, block);
  }
  FirmwareImage image;
  EXPECT_EQ(check(file, image), "firmware file writes 0x10001000 twice");
}

TEST(Uf2Image, SkippedBlockInFrontIsCountedAndIgnored) {
  std::vector<std::uint8_t> file;
  Uf2Block absolute;
  absolute.family = 0xe48bff57;
  absolute.target = 0x10ffff00;
  absolute.blockNo = 0;
  absolute.numBlocks = 1;
  appendBlock(file, absolute);
  std::vector<std::uint8_t> rest = consecutiveBlocks(4);
  file.insert(file.end(), rest.begin(), rest.end());
  FirmwareImage image;
  ASSERT_EQ(check(file, image), "");
  EXPECT_EQ(image.dataBlocks, 4u);
  EXPECT_EQ(image.totalBlocks, 5u);
  EXPECT_EQ(image.skippedBlocks, 1u);
  EXPECT_EQ(image.base, 0x10000000u);
  EXPECT_EQ(image.size, 4096u);
}

TEST(Uf2Image, GapsStayErasedAndSectorsKnowWhatWasWritten) {
  std::vector<std::uint8_t> file;
  for (std::uint32_t i = 0; i < 2; ++i) {
    Uf2Block block;
    block.target = i == 0 ? 0x10000000 : 0x10003000;
    block.blockNo = i;
    block.numBlocks = 2;
    block.fill = std::uint8_t(0x10 + i);
    appendBlock(file, block);
  }
  FirmwareImage image;
  ASSERT_EQ(check(file, image), "");
  EXPECT_EQ(image.base, 0x10000000u);
  EXPECT_EQ(image.size, 16384u);
  EXPECT_EQ(image.data[0], 0x10);
  EXPECT_EQ(image.data[255], 0x10);
  EXPECT_EQ(image.data[256], 0xff);
  EXPECT_EQ(image.data[0x2fff], 0xff);
  EXPECT_EQ(image.data[0x3000], 0x11);
  EXPECT_EQ(image.data[0x3100], 0xff);
  EXPECT_TRUE(sectorHasData(image, 0x10000000));
  EXPECT_FALSE(sectorHasData(image, 0x10001000));
  EXPECT_FALSE(sectorHasData(image, 0x10002000));
  EXPECT_TRUE(sectorHasData(image, 0x10003000));
  EXPECT_FALSE(sectorHasData(image, 0x10004000));
  EXPECT_FALSE(sectorHasData(image, 0x0ffff000));

  std::uint8_t bytes[4];
  EXPECT_TRUE(readImageBytes(image, 0x10003ffc, bytes, 4));
  EXPECT_FALSE(readImageBytes(image, 0x10003ffd, bytes, 4));
  EXPECT_FALSE(readImageBytes(image, 0x0ffffffe, bytes, 4));
  EXPECT_FALSE(readImageBytes(image, 0xffffffff, bytes, 2));
  // An image whose first kilobyte isn't there declares nothing.
  EXPECT_STREQ(image.program, "");
  EXPECT_STREQ(image.version, "");

  freeFirmwareImage(&image);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(image.size, 0u);
  EXPECT_FALSE(sectorHasData(image, 0x10000000));
  freeFirmwareImage(nullptr);
}

TEST(Uf2Image, ImageStartingHighDeclaresNothing) {
  FirmwareImage image;
  ASSERT_EQ(check(consecutiveBlocks(16, 0x10010000), image), "");
  EXPECT_EQ(image.base, 0x10010000u);
  EXPECT_STREQ(image.program, "");
  EXPECT_STREQ(image.version, "");
}

TEST(Uf2Image, FailureClearsAnEarlierImage) {
  FirmwareImage image;
  ASSERT_EQ(check(consecutiveBlocks(2), image), "");
  ASSERT_NE(image.data, nullptr);
  check(std::vector<std::uint8_t>(3), image);  // its own expectations see the record cleared
}

TEST(Uf2Messages, CutToTheCallersBuffer) {
  std::vector<std::uint8_t> file;
  Uf2Block block;
  block.family = 0xe48bff56;
  appendBlock(file, block);
  FirmwareImage image;
  char small[12];
  EXPECT_EQ(checkUf2(file.data(), file.size(), image, small, sizeof small), 0);
  EXPECT_STREQ(small, "this file i");
  EXPECT_EQ(checkUf2(file.data(), file.size(), image), 0);  // no buffer at all
}

}  // namespace
}  // namespace tw
