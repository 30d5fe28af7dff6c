// What the board finds in its flash when it starts: something to run, and what it declares.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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
