// The images the simulated world generates keep their bytes: boards, drives and releases in
// other tests are built from them, and the program information's layout is shared with the
// build's stand-in generator, so a change to the one writer shows here first.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "firmware/sha256.h"
#include "sim/firmware_builder.h"
#include "sim/flash_image_info.h"

namespace tw::sim {
namespace {

std::string digestOf(const std::vector<std::uint8_t>& bytes) {
  char hex[65];
  sha256Hex(bytes.data(), bytes.size(), hex);
  return hex;
}

TEST(ProgramInfoLayoutTest, GeneratedImagesKeepTheirBytes) {
  struct Case {
    const char* name;
    FirmwareRecipe recipe;
    const char* sha256;
  };
  FirmwareRecipe inRam;
  inRam.entriesInRam = true;
  inRam.version = "1.2.3-rc1+build.77";
  FirmwareRecipe inRamNoVersion;
  inRamNoVersion.entriesInRam = true;
  inRamNoVersion.version = "";
  FirmwareRecipe nameless;
  nameless.program = "";
  FirmwareRecipe undeclared;
  undeclared.binaryInfo = false;
  FirmwareRecipe large;
  large.program = "a-much-longer-program-name-x";
  large.bootable = false;
  large.size = 1024 * 1024;
  large.seed = 7;
  const Case cases[] = {
      {"entries in flash", FirmwareRecipe{},
       "2ed8474c4648a947e8be141035cc1bdd95ee9b8634e5626acfba209dbcd87f0d"},
      {"version and entries copied to RAM", inRam,
       "c500973d1f59d23403a142c5876a4f3e6fb82fb6c87989aab13bfab8c46bb98d"},
      {"entries copied to RAM, no version", inRamNoVersion,
       "ee6a4e80346e02f591f78bb9b810e01797ea77250b15aa1ecc5e41febfaacc54"},
      {"no program name", nameless,
       "f1882b4624c69523f5370c2c58aad5db56633615582e152a19226fed5925ecf5"},
      {"no binary information", undeclared,
       "50576895d969fb23c3c55a57745a30719806d9fd7a81abf8cc45dab6d98b215d"},
      {"1 MB, not bootable", large,
       "a8fa304d268fbe21edd23fa6494b7c8839fae2c612dde42635aebd6fe64268d3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> image = makeFirmwareImage(c.recipe);
    EXPECT_EQ(digestOf(image), c.sha256);
    // And what it declares is what was asked for.
    const FlashImageInfo info = inspectImage(image);
    EXPECT_EQ(info.program, c.recipe.binaryInfo ? c.recipe.program : "");
    EXPECT_EQ(info.version, c.recipe.binaryInfo ? c.recipe.version : "");
  }
  EXPECT_EQ(digestOf(makeReleaseUf2("0.9.7")),
            "882cea8379e1900f4087bc3b2b13f044ef7b9a200f786e040e2b6a17d813fff9");
}

}  // namespace
}  // namespace tw::sim
