#include "firmware/program_info.h"

#include <gtest/gtest.h>

#include <string>

#include "firmware/firmware_test_support.h"
#include "firmware/uf2_check.h"

namespace tw {
namespace {

using test::SparseFlash;

constexpr std::uint32_t kFlash = 0x10000000;
constexpr std::uint32_t kRam = 0x20000000;

struct Declared {
  int result;
  std::string program, version;
};

Declared readFrom(SparseFlash& flash, std::size_t capacity = 64) {
  char program[64] = "stale", version[64] = "stale";
  int result = readProgramInfo(SparseFlash::read, &flash, program, capacity, version, capacity);
  return Declared{result, program, version};
}

void putEntry(SparseFlash& flash, std::uint32_t at, std::uint32_t id, std::uint32_t text,
              std::uint16_t type = 6, std::uint16_t tag = 0x5052) {
  std::uint8_t entry[12];
  entry[0] = std::uint8_t(type);
  entry[1] = std::uint8_t(type >> 8);
  entry[2] = std::uint8_t(tag);
  entry[3] = std::uint8_t(tag >> 8);
  test::put32(entry + 4, id);
  test::put32(entry + 8, text);
  flash.set(at, entry, sizeof entry);
}

void putHeader(SparseFlash& flash, std::uint32_t at, std::uint32_t pointersStart,
               std::uint32_t pointersEnd, std::uint32_t copyTable) {
  flash.set32(at, kInfoMarkerStart);
  flash.set32(at + 4, pointersStart);
  flash.set32(at + 8, pointersEnd);
  flash.set32(at + 12, copyTable);
  flash.set32(at + 16, kInfoMarkerEnd);
}

// 64 KB of flash with a header at 0x110, two pointers at 0x1000 to entries at 0x2000 and
// 0x2010, and their strings at 0x3000 and 0x3040. The copy table at 0x4000 is empty.
SparseFlash plainFlash() {
  SparseFlash flash;
  flash.region(kFlash, 0x10000, 0x00);
  putHeader(flash, kFlash + 0x110, kFlash + 0x1000, kFlash + 0x1008, kFlash + 0x4000);
  flash.set32(kFlash + 0x1000, kFlash + 0x2000);
  flash.set32(kFlash + 0x1004, kFlash + 0x2010);
  putEntry(flash, kFlash + 0x2000, kInfoIdProgramName, kFlash + 0x3000);
  putEntry(flash, kFlash + 0x2010, kInfoIdProgramVersion, kFlash + 0x3040);
  flash.setText(kFlash + 0x3000, "korrinlink");
  flash.setText(kFlash + 0x3040, "0.9.3");
  return flash;
}

TEST(ProgramInfoHeader, FoundInFlash) {
  SparseFlash flash = plainFlash();
  Declared d = readFrom(flash);
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.program, "korrinlink");
  EXPECT_EQ(d.version, "0.9.3");
  // 1024 bytes, the copy table's terminator, the pointers, two entries and two strings.
  EXPECT_EQ(flash.reads, 7);
}

TEST(ProgramInfoHeader, MissingOrMalformed) {
  SparseFlash none;
  none.region(kFlash, 4096);
  EXPECT_EQ(readFrom(none).result, 0);

  SparseFlash unreadable;
  Declared d = readFrom(unreadable);
  EXPECT_EQ(d.result, -1);
  EXPECT_EQ(d.program, "");
  EXPECT_EQ(d.version, "");

  struct Case {
    const char* why;
    std::uint32_t start, end;
  } cases[] = {{"empty pointer range", kFlash + 0x1000, kFlash + 0x1000},
               {"reversed pointer range", kFlash + 0x1008, kFlash + 0x1000},
               {"unaligned start", kFlash + 0x1001, kFlash + 0x1009},
               {"unaligned end", kFlash + 0x1000, kFlash + 0x1006}};
  for (const Case& c : cases) {
    SparseFlash flash = plainFlash();
    flash.set32(kFlash + 0x114, c.start);
    flash.set32(kFlash + 0x118, c.end);
    EXPECT_EQ(readFrom(flash).result, 0) << c.why;
  }
}

TEST(ProgramInfoHeader, OnlyTheFirstKilobyteIsSearched) {
  SparseFlash last = plainFlash();
  last.set32(kFlash + 0x110, 0);
  putHeader(last, kFlash + 1024 - 20, kFlash + 0x1000, kFlash + 0x1008, 0);
  EXPECT_EQ(readFrom(last).program, "korrinlink");

  SparseFlash beyond = plainFlash();
  beyond.set32(kFlash + 0x110, 0);
  putHeader(beyond, kFlash + 1024 - 16, kFlash + 0x1000, kFlash + 0x1008, 0);
  EXPECT_EQ(readFrom(beyond).result, 0);
}

TEST(ProgramInfoEntries, OtherTypesTagsAndIdsAreIgnored) {
  SparseFlash flash = plainFlash();
  putEntry(flash, kFlash + 0x2000, kInfoIdProgramName, kFlash + 0x3000, 5);
  putEntry(flash, kFlash + 0x2010, kInfoIdProgramVersion, kFlash + 0x3040, 6, 0x4d4b);
  Declared d = readFrom(flash);
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.program, "");
  EXPECT_EQ(d.version, "");
}

TEST(ProgramInfoEntries, FirstDeclarationWins) {
  SparseFlash flash = plainFlash();
  flash.set32(kFlash + 0x118, kFlash + 0x100c);
  flash.set32(kFlash + 0x1008, kFlash + 0x2020);
  putEntry(flash, kFlash + 0x2020, kInfoIdProgramName, kFlash + 0x3080);
  flash.setText(kFlash + 0x3080, "impostor");
  EXPECT_EQ(readFrom(flash).program, "korrinlink");
}

TEST(ProgramInfoEntries, PointersOutsideFlashOrUnreadable) {
  SparseFlash flash = plainFlash();
  flash.set32(kFlash + 0x1000, kRam + 0x2000);  // RAM, and no copy table maps it
  flash.set32(kFlash + 0x1004, 0x11000000);     // past the 16 MB window
  Declared d = readFrom(flash);
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.program, "");
  EXPECT_EQ(d.version, "");

  SparseFlash array = plainFlash();
  array.set32(kFlash + 0x114, kRam + 0x1000);
  array.set32(kFlash + 0x118, kRam + 0x1008);
  EXPECT_EQ(readFrom(array).result, 1);

  SparseFlash failing = plainFlash();
  failing.failReadsAt(kFlash + 0x2000);
  d = readFrom(failing);
  EXPECT_EQ(d.program, "");
  EXPECT_EQ(d.version, "0.9.3");

  SparseFlash failingArray = plainFlash();
  failingArray.failReadsAt(kFlash + 0x1000);
  EXPECT_EQ(readFrom(failingArray).result, 1);
}

TEST(ProgramInfoStrings, MustEndWithinSixtyFourBytes) {
  SparseFlash flash = plainFlash();
  flash.set(kFlash + 0x3000, std::string(64, 'x').c_str(), 64);
  Declared d = readFrom(flash);
  EXPECT_EQ(d.program, "");
  EXPECT_EQ(d.version, "0.9.3");

  SparseFlash longest = plainFlash();
  longest.setText(kFlash + 0x3000, std::string(63, 'y'));
  EXPECT_EQ(readFrom(longest).program, std::string(63, 'y'));
}

TEST(ProgramInfoStrings, UnprintableBytesAndCutting) {
  SparseFlash flash = plainFlash();
  flash.setText(kFlash + 0x3000, "k\xe2\x80\x94r\x7f\tn");
  EXPECT_EQ(readFrom(flash).program, "k???r??n");
  EXPECT_EQ(readFrom(flash, 4).program, "k??");
  EXPECT_EQ(readFrom(flash, 1).program, "");
}

// As a copy-to-RAM build leaves it: pointers and entries name RAM, and the copy table says where
// in flash their bytes come from.
SparseFlash copyTableFlash() {
  SparseFlash flash;
  flash.region(kFlash, 0x10000, 0x00);
  putHeader(flash, kFlash + 0x100, kRam + 0x1000, kRam + 0x1008, kFlash + 0x5000);
  // Copy table: an unrelated range, then RAM 0x20001000..0x20003000 from flash 0x10008000.
  flash.set32(kFlash + 0x5000, kFlash + 0x9000);
  flash.set32(kFlash + 0x5004, kRam + 0x40000);
  flash.set32(kFlash + 0x5008, kRam + 0x40100);
  flash.set32(kFlash + 0x500c, kFlash + 0x8000);
  flash.set32(kFlash + 0x5010, kRam + 0x1000);
  flash.set32(kFlash + 0x5014, kRam + 0x3000);
  flash.set32(kFlash + 0x5018, 0);
  // Pointer array (RAM 0x20001000 = flash 0x10008000).
  flash.set32(kFlash + 0x8000, kRam + 0x1100);
  flash.set32(kFlash + 0x8004, kFlash + 0x3000);
  // Entry in RAM naming a string in RAM; entry in flash naming a string in flash.
  putEntry(flash, kFlash + 0x8100, kInfoIdProgramVersion, kRam + 0x1200);
  flash.setText(kFlash + 0x8200, "0.9.3-ram");
  putEntry(flash, kFlash + 0x3000, kInfoIdProgramName, kFlash + 0x3100);
  flash.setText(kFlash + 0x3100, "korrinlink");
  return flash;
}

TEST(ProgramInfoCopyTable, InfoBlockBehindACopyTable) {
  SparseFlash flash = copyTableFlash();
  Declared d = readFrom(flash);
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.program, "korrinlink");
  EXPECT_EQ(d.version, "0.9.3-ram");
}

TEST(ProgramInfoCopyTable, TableOutsideFlashIsNotRead) {
  SparseFlash flash = copyTableFlash();
  flash.set32(kFlash + 0x10c, kRam + 0x5000);
  Declared d = readFrom(flash);
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.version, "");
}

TEST(ProgramInfoCopyTable, TranslationToZeroEndsOrSkips) {
  // The array's own address translating to 0 ends the reading.
  SparseFlash flash = copyTableFlash();
  flash.set32(kFlash + 0x500c, 0xffffffff);  // source + (A - start) wraps
  flash.set32(kFlash + 0x5010, kRam + 0x0fff);
  Declared d = readFrom(flash);
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.program, "");

  // An entry pointer translating to 0 is skipped, the next one still read.
  SparseFlash entry = copyTableFlash();
  entry.set32(kFlash + 0x8000, kRam + 0x40000);
  entry.set32(kFlash + 0x5000, 0xffffffff);  // 0xffffffff + 1 wraps to 0
  entry.set32(kFlash + 0x5004, kRam + 0x3ffff);
  entry.set32(kFlash + 0x5008, kRam + 0x40100);
  d = readFrom(entry);
  EXPECT_EQ(d.program, "korrinlink");
  EXPECT_EQ(d.version, "");
}

TEST(ProgramInfoTruncation, EveryShorterFlashIsSafe) {
  // A board or image that ends early, at every 4-byte step through the parts that matter.
  SparseFlash full = plainFlash();
  for (std::uint32_t length = 0; length <= 0x3100; length += 4) {
    SparseFlash flash;
    std::vector<std::uint8_t>& bytes = flash.region(kFlash, length);
    if (length > 0) SparseFlash::read(&full, kFlash, bytes.data(), length);
    Declared d = readFrom(flash);
    if (length < 1024) {
      EXPECT_EQ(d.result, -1) << length;
    } else {
      EXPECT_EQ(d.result, 1) << length;
      EXPECT_EQ(d.version, length >= 0x3040 + 64 ? "0.9.3" : "") << length;
      EXPECT_EQ(d.program, length >= 0x3000 + 64 ? "korrinlink" : "") << length;
    }
  }
}

TEST(ProgramInfoImage, ReadThroughAFirmwareImage) {
  SparseFlash flash = plainFlash();
  std::vector<std::uint8_t> bytes(0x4000);
  ASSERT_TRUE(SparseFlash::read(&flash, kFlash, bytes.data(), bytes.size()));
  std::vector<std::uint8_t> file = test::uf2FromFlash(bytes);
  FirmwareImage image;
  char message[200];
  ASSERT_EQ(checkUf2(file.data(), file.size(), image, message, sizeof message), 1) << message;
  EXPECT_STREQ(image.program, "korrinlink");
  EXPECT_STREQ(image.version, "0.9.3");
}

}  // namespace
}  // namespace tw
