#include "firmware/built_in_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "built_in_firmware.h"
#include "firmware/uf2_check.h"
#include "platform/host/embedded_resources.h"

namespace tw {
namespace {

TEST(BuiltInImage, VerifiesAndDeclaresItsVersion) {
  EmbeddedResources resources;
  resources.add(kResourceBuiltInFirmware, builtInFirmwareImage, builtInFirmwareImageSize);
  BuiltInImage image;
  ASSERT_EQ(loadBuiltInImage(resources, image), BuiltInState::Verified);
  EXPECT_EQ(image.builtInState, BuiltInState::Verified);
  EXPECT_EQ(image.size, 2594816u);
  EXPECT_EQ(image.bytes, builtInFirmwareImage);

  FirmwareImage flash;
  char message[200];
  ASSERT_EQ(checkUf2(image.bytes, image.size, flash, message, sizeof message), 1) << message;
  EXPECT_EQ(flash.dataBlocks, 5068u);
  EXPECT_EQ(flash.totalBlocks, 5068u);
  EXPECT_EQ(flash.skippedBlocks, 0u);
  EXPECT_EQ(flash.base, 0x10000000u);
  EXPECT_STREQ(flash.program, "korrinlink");
  EXPECT_STREQ(flash.version, "0.9.3");
  EXPECT_STREQ(flash.version, kBuiltInImageVersion);
}

std::uint32_t word(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// The image type a picobin block at `block` declares (its first item), -1 when the words there
// are not a whole block, 0 when the block declares no image type. Sets `link` to the block's link.
int declaredImageType(const std::uint8_t* flash, std::size_t size, std::size_t block,
                      std::int32_t& link) {
  std::size_t item = block + 4;
  int imageType = 0;
  while (item + 12 <= size) {
    std::uint32_t header = word(flash + item);
    std::uint32_t type = header & 0xff;
    std::uint32_t words = (type & 0x80) != 0 ? (header >> 8) & 0xffff : (header >> 8) & 0xff;
    if (words == 0) return -1;
    if (type == 0xff) {  // the last item: the size of those before it, the link, the end marker
      bool whole = words == (item - block) / 4 - 1 && word(flash + item + 8) == 0xab123579;
      link = std::int32_t(word(flash + item + 4));
      return whole ? imageType : -1;
    }
    if (item == block + 4 && type == 0x42 && words == 1) imageType = int((header >> 16) & 0xf);
    item += 4 * words;
  }
  return -1;
}

// The stand-in is not firmware: on a real board the boot ROM must find nothing to run. The ROM
// reads the first whole block in the first 4 KB of flash and the blocks it links to, and boots
// only an image definition of type EXE (1). The stand-in's block declares a data image (2).
TEST(BuiltInImage, DeclaresNoExecutableImage) {
  FirmwareImage flash;
  ASSERT_EQ(checkUf2(builtInFirmwareImage, builtInFirmwareImageSize, flash), 1);
  ASSERT_GE(flash.size, 4096u);
  const std::uint8_t* bytes = flash.data.get();
  std::size_t first = 4096;
  for (std::size_t at = 0; at < 4096; at += 4) {
    std::int32_t link = 0;
    if (word(bytes + at) != 0xffffded3) continue;
    int imageType = declaredImageType(bytes, flash.size, at, link);
    EXPECT_NE(imageType, 1) << "an executable image definition at flash offset " << at;
    if (imageType != -1 && first == 4096) {
      first = at;
      EXPECT_EQ(imageType, 2);
      EXPECT_EQ(link, 0) << "the first block links to others";
    }
  }
  EXPECT_EQ(first, 0x124u) << "the image definition block is not where the generator puts it";
}

TEST(BuiltInImage, AnythingElseIsNeverUsed) {
  BuiltInImage image;
  EmbeddedResources none;
  EXPECT_EQ(loadBuiltInImage(none, image), BuiltInState::Unusable);
  EXPECT_EQ(image.builtInState, BuiltInState::Unusable);
  EXPECT_EQ(image.bytes, nullptr);

  std::vector<std::uint8_t> copy(builtInFirmwareImage,
                                 builtInFirmwareImage + builtInFirmwareImageSize);
  // One flipped bit anywhere, here in the middle and in the last byte.
  for (std::size_t at : {copy.size() / 2, copy.size() - 1}) {
    copy[at] ^= 0x01;
    EmbeddedResources flipped;
    flipped.add(kResourceBuiltInFirmware, copy.data(), copy.size());
    EXPECT_EQ(loadBuiltInImage(flipped, image), BuiltInState::Unusable);
    EXPECT_EQ(image.builtInState, BuiltInState::Unusable);
    EXPECT_EQ(image.size, 0u);
    copy[at] ^= 0x01;
  }

  EmbeddedResources shorter;
  shorter.add(kResourceBuiltInFirmware, copy.data(), copy.size() - 512);
  EXPECT_EQ(loadBuiltInImage(shorter, image), BuiltInState::Unusable);

  copy.resize(copy.size() + 512);
  EmbeddedResources longer;
  longer.add(kResourceBuiltInFirmware, copy.data(), copy.size());
  EXPECT_EQ(loadBuiltInImage(longer, image), BuiltInState::Unusable);

  EmbeddedResources otherId;
  otherId.add(201, builtInFirmwareImage, builtInFirmwareImageSize);
  EXPECT_EQ(loadBuiltInImage(otherId, image), BuiltInState::Unusable);
}

}  // namespace
}  // namespace tw
