#include "firmware/built_in_image.h"

#include <gtest/gtest.h>

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
  ASSERT_EQ(loadBuiltInImage(resources, image), 1);
  EXPECT_EQ(image.builtInState, 1);
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

TEST(BuiltInImage, AnythingElseIsNeverUsed) {
  BuiltInImage image;
  EmbeddedResources none;
  EXPECT_EQ(loadBuiltInImage(none, image), -1);
  EXPECT_EQ(image.builtInState, -1);
  EXPECT_EQ(image.bytes, nullptr);

  std::vector<std::uint8_t> copy(builtInFirmwareImage,
                                 builtInFirmwareImage + builtInFirmwareImageSize);
  // One flipped bit anywhere, here in the middle and in the last byte.
  for (std::size_t at : {copy.size() / 2, copy.size() - 1}) {
    copy[at] ^= 0x01;
    EmbeddedResources flipped;
    flipped.add(kResourceBuiltInFirmware, copy.data(), copy.size());
    EXPECT_EQ(loadBuiltInImage(flipped, image), -1);
    EXPECT_EQ(image.builtInState, -1);
    EXPECT_EQ(image.size, 0u);
    copy[at] ^= 0x01;
  }

  EmbeddedResources shorter;
  shorter.add(kResourceBuiltInFirmware, copy.data(), copy.size() - 512);
  EXPECT_EQ(loadBuiltInImage(shorter, image), -1);

  copy.resize(copy.size() + 512);
  EmbeddedResources longer;
  longer.add(kResourceBuiltInFirmware, copy.data(), copy.size());
  EXPECT_EQ(loadBuiltInImage(longer, image), -1);

  EmbeddedResources otherId;
  otherId.add(201, builtInFirmwareImage, builtInFirmwareImageSize);
  EXPECT_EQ(loadBuiltInImage(otherId, image), -1);
}

}  // namespace
}  // namespace tw
