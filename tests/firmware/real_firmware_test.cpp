// The UF2 check and the program-information reader against files the RP2350 toolchain built,
// held against the toolchain's own reading of each file.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "firmware/program_info.h"
#include "firmware/sha256.h"
#include "firmware/uf2_check.h"
#include "real_firmware.h"

namespace tw {
namespace {

// Flash contents as the file's blocks would put them, whatever chip or family they name: what the
// toolchain reads its program information from.
struct RawFlash {
  std::map<std::uint32_t, std::vector<std::uint8_t>> pages;
  static bool read(void* context, std::uint32_t address, void* buffer, std::size_t length) {
    auto* self = static_cast<RawFlash*>(context);
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < length; ++i) {
      auto page = self->pages.find((address + i) & ~0xffu);
      if (page == self->pages.end()) return false;
      out[i] = page->second[(address + i) & 0xff];
    }
    return true;
  }
};

RawFlash rawFlash(const std::vector<std::uint8_t>& uf2) {
  RawFlash flash;
  for (std::size_t at = 0; at + 512 <= uf2.size(); at += 512) {
    std::uint32_t target, family;
    std::memcpy(&target, &uf2[at + 12], 4);
    std::memcpy(&family, &uf2[at + 28], 4);
    if (family == 0xe48bff57) continue;  // the absolute block's 0xEF filler
    flash.pages[target].assign(uf2.begin() + at + 32, uf2.begin() + at + 32 + 256);
  }
  return flash;
}

TEST(RealFirmware, FilesAreTheOnesTheirChecksumsName) {
  std::ifstream sums(test::realFirmwarePath("SHA256SUMS"));
  std::string digest, name;
  int files = 0;
  while (sums >> digest >> name) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> bytes = test::readRealFirmware(name);
    ASSERT_FALSE(bytes.empty());
    char hex[65];
    sha256Hex(bytes.data(), bytes.size(), hex);
    EXPECT_EQ(hex, digest);
    ++files;
  }
  EXPECT_EQ(files, 4);
}

TEST(RealFirmware, CheckedAndReadAsTheToolchainReadsThem) {
  struct Case {
    const char* file;
    const char* refusal;  // empty: accepted
    std::uint32_t dataBlocks, skippedBlocks, size;
    bool programInFlash;  // the toolchain finds the program information in flash
  };
  const Case cases[] = {
      {test::kRealKorrinlink, "", 24, 1, 8192, true},
      {test::kRealBlinkDemo, "", 24, 1, 8192, true},
      {test::kRealRp2040,
       "this file is for a different chip (family 0xe48bff56), not the Bridge's RP2350", 0, 0, 0,
       true},
      // Linked for RAM: its program information is there, not in flash, so no board declares it.
      {test::kRealRamImage, "block 0 points outside flash", 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<std::uint8_t> file = test::readRealFirmware(c.file);
    ASSERT_FALSE(file.empty());
    const std::string name = test::picotoolField(c.file, "name");
    const std::string version = test::picotoolField(c.file, "version");
    ASSERT_FALSE(name.empty());
    ASSERT_FALSE(version.empty());

    FirmwareImage image;
    char message[200] = "";
    const bool accepted = checkUf2(file.data(), file.size(), image, message, sizeof message) == 1;
    EXPECT_EQ(accepted, *c.refusal == '\0');
    EXPECT_STREQ(message, c.refusal);
    if (accepted) {
      EXPECT_EQ(image.program, name);
      EXPECT_EQ(image.version, version);
      EXPECT_EQ(image.base, 0x10000000u);
      EXPECT_EQ(image.size, c.size);
      EXPECT_EQ(image.dataBlocks, c.dataBlocks);
      EXPECT_EQ(image.skippedBlocks, c.skippedBlocks);
      EXPECT_EQ(image.totalBlocks, file.size() / 512);
      // The written pages end with the page that holds the toolchain's binary end.
      const std::uint32_t binaryEnd =
          std::stoul(test::picotoolField(c.file, "binary end"), nullptr, 16);
      const std::uint32_t writtenEnd = image.base + image.dataBlocks * 256;
      EXPECT_GE(writtenEnd, binaryEnd);
      EXPECT_LT(writtenEnd - binaryEnd, 256u);
      for (std::uint32_t page = 0; page < image.size / 256; ++page)
        EXPECT_EQ(image.pageWritten[page], page < c.dataBlocks ? 1 : 0) << page;
    }

    // The reader over the file's flash pages, refused or not, as a board holding them would answer.
    RawFlash flash = rawFlash(file);
    char program[64], declared[64];
    const int found = readProgramInfo(&RawFlash::read, &flash, program, sizeof program, declared,
                                      sizeof declared);
    EXPECT_EQ(found == 1, c.programInFlash);
    EXPECT_EQ(program, c.programInFlash ? name : "");
    EXPECT_EQ(declared, c.programInFlash ? version : "");
  }
}

}  // namespace
}  // namespace tw
