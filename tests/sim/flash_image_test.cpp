// What the board finds in its flash when it starts: something to run, and what it declares.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "real_firmware.h"
#include "sim/boot_blocks.h"
#include "sim/firmware_builder.h"
#include "sim/flash_image_info.h"

namespace tw::sim {
namespace {

TEST(FlashImageTest, DeclaredNameAndVersionWhereverTheEntriesLive) {
  struct Case {
    const char* name;
    FirmwareRecipe recipe;
    bool bootable;
    const char* program;
    const char* version;
  };
  FirmwareRecipe plain;
  FirmwareRecipe inRam;
  inRam.entriesInRam = true;
  inRam.version = "1.2.3-rc1";
  FirmwareRecipe undeclared;
  undeclared.binaryInfo = false;
  FirmwareRecipe nameless;
  nameless.program = "";
  FirmwareRecipe notBootable;
  notBootable.bootable = false;
  FirmwareRecipe large;
  large.size = 1024 * 1024;
  large.program = "blink";
  const Case cases[] = {
      {"entries in flash", plain, true, "korrinlink", "0.9.3"},
      {"entries copied to RAM", inRam, true, "korrinlink", "1.2.3-rc1"},
      {"no binary information", undeclared, true, "", ""},
      {"a version but no name", nameless, true, "", "0.9.3"},
      {"no IMAGE_DEF", notBootable, false, "korrinlink", "0.9.3"},
      {"another program, 1 MB", large, true, "blink", "0.9.3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> image = makeFirmwareImage(c.recipe);
    FlashImageInfo info = inspectImage(image);
    EXPECT_EQ(info.bootable, c.bootable);
    EXPECT_EQ(info.program, c.program);
    EXPECT_EQ(info.version, c.version);
    EXPECT_EQ(info.binaryInfo, c.recipe.binaryInfo);

    // The same through a flash chip, from the UF2 file.
    NorFlash flash;
    EXPECT_EQ(writeUf2(flash, makeUf2(image)), image.size() / 256);
    FlashImageInfo fromFlash = inspectFlash(flash);
    EXPECT_EQ(fromFlash.program, c.program);
    EXPECT_EQ(fromFlash.bootable, c.bootable);
  }
}

TEST(FlashImageTest, DamagedDeclarationsAreIgnored) {
  std::vector<std::uint8_t> image = makeFirmwareImage(FirmwareRecipe{});
  // A version string without its terminator within 64 bytes is not taken.
  std::vector<std::uint8_t> longVersion = image;
  auto at = std::search(longVersion.begin(), longVersion.end(), std::begin("0.9.3"),
                        std::end("0.9.3") - 1);
  ASSERT_NE(at, longVersion.end());
  std::fill(at, at + 5, 'x');
  std::fill(at + 5, std::min(at + 80, longVersion.end()), 'y');
  EXPECT_EQ(inspectImage(longVersion).version, "");

  // An IMAGE_DEF whose last item miscounts the words before it is no block.
  std::vector<std::uint8_t> badBlock = image;
  badBlock[0x12c + 1] = 2;
  EXPECT_FALSE(inspectImage(badBlock).bootable);

  NorFlash blank;
  FlashImageInfo info = inspectFlash(blank);
  EXPECT_TRUE(info.bootSectorErased);
  EXPECT_FALSE(info.bootable);
  EXPECT_FALSE(info.binaryInfo);
}

// What the board's drive leaves in flash from a file: the first `bytes` of it.
std::vector<std::uint8_t> flashFromDrive(const std::string& file, std::uint32_t& blocksWritten,
                                         std::size_t bytes = 8192) {
  NorFlash flash;
  blocksWritten = writeUf2(flash, test::readRealFirmware(file));
  return flash.read(0, bytes);
}

TEST(FlashImageTest, RealImagesStartAsTheRp2350StartsThem) {
  struct Case {
    const char* file;
    std::uint32_t blocksWritten;
    bool bootable;
    std::vector<std::uint32_t> loop;  // the block loop, in link order
  };
  const Case cases[] = {
      // The absolute block is written too: on this 4 MB chip its 0x10ffff00 is the last page.
      {test::kRealKorrinlink, 25, true, {0x10000138, 0x100017ac}},
      {test::kRealBlinkDemo, 25, true, {0x10000138, 0x100017ac}},
      // Neither is for this chip's flash: the drive passes over their blocks.
      {test::kRealRp2040, 0, false, {}},
      {test::kRealRamImage, 0, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::uint32_t written = 0;
    const std::vector<std::uint8_t> image = flashFromDrive(c.file, written);
    EXPECT_EQ(written, c.blocksWritten);
    const FlashImageInfo info = inspectImage(image);
    EXPECT_EQ(info.bootable, c.bootable);
    EXPECT_EQ(info.program, c.bootable ? test::picotoolField(c.file, "name") : "");
    EXPECT_EQ(info.version, c.bootable ? test::picotoolField(c.file, "version") : "");
    const BlockLoop loop = findBlockLoop(
        [&image](std::uint32_t address, std::uint8_t* out, std::size_t length) {
          if (address < kFlashBase || address - kFlashBase + length > image.size()) return false;
          std::memcpy(out, image.data() + (address - kFlashBase), length);
          return true;
        },
        kFlashBase);
    EXPECT_EQ(loop.blocks, c.loop);
    if (c.bootable) {
      EXPECT_EQ(loop.imageDefAt, 0x10000138u);
      EXPECT_EQ(loop.imageTypeFlags, 0x1021);
    }
  }
}

// The real image with one thing changed: what the boot ROM then makes of it.
TEST(FlashImageTest, TheBlockLoopDecidesWhatStarts) {
  constexpr std::uint32_t kDef = 0x138;      // the IMAGE_DEF
  constexpr std::uint32_t kCloser = 0x17ac;  // the "ignored" block that closes the loop
  const auto put32 = [](std::vector<std::uint8_t>& image, std::uint32_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  const auto imageType = [&](std::uint16_t flags) {
    return [&, flags](std::vector<std::uint8_t>& image) {
      put32(image, kDef + 4, 0x0142u | std::uint32_t(flags) << 16);
    };
  };
  struct Case {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> change;
    bool bootable;
  };
  const Case cases[] = {
      {"as built", [](std::vector<std::uint8_t>&) {}, true},
      {"the closing block's end marker overwritten",
       [&](std::vector<std::uint8_t>& image) { put32(image, kCloser + 16, 0); }, false},
      {"the image's end erased, as by a write cut short",
       [](std::vector<std::uint8_t>& image) {
         std::fill(image.begin() + 0x1700, image.end(), 0xFF);
       },
       false},
      {"the closing block links to itself",
       [&](std::vector<std::uint8_t>& image) { put32(image, kCloser + 12, 0); }, false},
      {"the closing block links below the first",
       [&](std::vector<std::uint8_t>& image) { put32(image, kCloser + 12, 0u - kCloser); }, false},
      {"the IMAGE_DEF links to itself, leaving the closing block out",
       [&](std::vector<std::uint8_t>& image) { put32(image, kDef + 12, 0); }, true},
      {"the closing block is a later IMAGE_DEF declaring data: the last one counts",
       [&](std::vector<std::uint8_t>& image) { put32(image, kCloser + 4, 0x20020142); }, false},
      {"a later executable IMAGE_DEF after a data one",
       [&](std::vector<std::uint8_t>& image) {
         imageType(0x1022)(image);
         put32(image, kCloser + 4, 0x10210142);
       },
       true},
      {"RISC-V", imageType(0x1121), true},
      {"Arm, security unspecified", imageType(0x1001), true},
      {"Arm, non-secure", imageType(0x1011), false},
      {"for the RP2040", imageType(0x0021), false},
      {"a data image", imageType(0x1022), false},
      {"the last item miscounts the words before it",
       [&](std::vector<std::uint8_t>& image) { image[kDef + 9] = 2; }, false},
  };
  std::uint32_t written = 0;
  const std::vector<std::uint8_t> real = flashFromDrive(test::kRealKorrinlink, written);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> image = real;
    c.change(image);
    EXPECT_EQ(inspectImage(image).bootable, c.bootable);
  }
}

TEST(FlashImageTest, OnlyTheFirstLoopInTheFirst4KbCounts) {
  // A data image's definition first, as the built-in stand-in has it, and an executable one
  // further on: the ROM follows the first loop only, so nothing starts.
  std::vector<std::uint8_t> image = makeFirmwareImage(FirmwareRecipe{});
  std::vector<std::uint8_t> later(image.begin() + 0x124, image.begin() + 0x124 + 20);
  std::copy(later.begin(), later.end(), image.begin() + 0x800);
  EXPECT_TRUE(inspectImage(image).bootable);
  image[0x124 + 6] = 0x22;  // the first one declares data
  EXPECT_FALSE(inspectImage(image).bootable);
  // A broken first block is passed over; the next closed loop is the image's.
  image[0x124] = 0;
  EXPECT_TRUE(inspectImage(image).bootable);
}

TEST(FlashImageTest, NorFlashWrapsOffsetsAndPagesLikeTheChip) {
  NorFlash flash(8192);
  std::uint8_t page[256];
  std::memset(page, 0x0F, sizeof page);
  flash.programPage(8192 + 128, page, 256);  // the chip ignores the address bits it lacks
  EXPECT_EQ(flash.read(0, 1)[0], 0x0F);      // wrapped within the page
  EXPECT_EQ(flash.read(255, 1)[0], 0x0F);
  EXPECT_EQ(flash.read(256, 1)[0], 0xFF);
  EXPECT_FALSE(flash.sectorErased(0));
  EXPECT_TRUE(flash.sectorErased(4096));
  flash.eraseSector(100);
  EXPECT_TRUE(flash.sectorErased(0));
}

}  // namespace
}  // namespace tw::sim
