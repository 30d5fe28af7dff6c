// Copying UF2 files onto the boards' drives.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/dongle_settings.h"
#include "sim/firmware_builder.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw::sim {
namespace {

class Uf2DriveTest : public ::testing::Test {
 protected:
  // Copies `file` in 32 KB writes; false at the first failed write.
  static bool copy(Uf2Drive& drive, const std::vector<std::uint8_t>& file, std::uint32_t& error) {
    auto writer = drive.create("TARNWICK.UF2", error);
    if (!writer) return false;
    for (std::size_t at = 0; at < file.size(); at += 32768) {
      std::size_t n = std::min<std::size_t>(32768, file.size() - at), written = 0;
      if (!writer->write(file.data() + at, n, written, error)) return false;
    }
    return writer->close(error);
  }

  static std::vector<std::uint8_t> ours(const std::string& version, std::uint32_t size) {
    FirmwareRecipe recipe;
    recipe.version = version;
    recipe.size = size;
    return makeFirmwareImage(recipe);
  }

  bool dongleOnHid() {
    std::vector<std::string> paths;
    world.hid().listInterfaces(paths);
    return std::find(paths.begin(), paths.end(), world.donglePath()) != paths.end();
  }

  VirtualClock clock{0};
  World world{clock};
};

TEST_F(Uf2DriveTest, ACopiedFileIsWrittenSectorBySectorAndTheBoardRestartsIntoIt) {
  DongleConfigBytes config = factoryDongleConfig();
  config[5] = 42;  // speaker volume
  storeSavedConfig(world.flash(), config);
  world.pressButton();
  clock.sleepMs(1000);
  std::vector<std::shared_ptr<Uf2Drive>> drives = world.drives();
  ASSERT_EQ(drives.size(), 1u);
  world.board().resetCounters();

  std::vector<std::uint8_t> image = ours("0.9.5", 65536);
  std::uint64_t start = clock.tickMs();
  std::uint32_t error = 0;
  ASSERT_TRUE(copy(*drives[0], makeUf2(image), error));
  // 16 first-page erases of 45 ms, 256 pages of 0.4 ms, 256 blocks of 512 bytes on the bus.
  EXPECT_NEAR(static_cast<double>(clock.tickMs() - start), 720 + 102.4 + 131.1, 2.0);
  BoardCounters counters = world.board().counters();
  EXPECT_EQ(counters.sectorsErased, 16u);
  EXPECT_EQ(counters.pagesProgrammed, 256u);
  EXPECT_TRUE(std::all_of(counters.flashLog.begin(), counters.flashLog.end(),
                          [](const FlashOperation& op) { return op.viaDrive; }));
  EXPECT_EQ(world.flash().read(0, image.size()), image);

  clock.sleepMs(400);
  EXPECT_TRUE(drives[0]->attached());
  clock.sleepMs(200);  // 500 ms after the last block the ROM reboots
  EXPECT_FALSE(drives[0]->attached());
  EXPECT_TRUE(world.drives().empty());
  EXPECT_EQ(drives[0]->create("LATE.UF2", error), nullptr);
  EXPECT_EQ(error, kDriveErrorNotReady);

  clock.sleepMs(1000);
  ASSERT_TRUE(dongleOnHid());
  EXPECT_EQ(world.dongle().firmwareVersion(), "0.9.5");
  EXPECT_EQ(world.dongle().appliedConfig()[5], 42);
}

TEST_F(Uf2DriveTest, OnlyACompleteFileOfThisChipRestartsTheBoard) {
  std::vector<std::uint8_t> image = ours("0.9.6", 4096);
  std::vector<std::uint8_t> good = makeUf2(image);  // 16 blocks
  auto blocks = [&](std::initializer_list<int> numbers) {
    std::vector<std::uint8_t> file;
    for (int n : numbers)
      file.insert(file.end(), good.begin() + 512 * n, good.begin() + 512 * (n + 1));
    return file;
  };
  std::vector<std::uint8_t> repeated =
      blocks({0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
  std::vector<std::uint8_t> backwards =
      blocks({15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
  std::vector<std::uint8_t> missing = blocks({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
  std::vector<std::uint8_t> notMain = good;
  for (std::size_t at = 0; at < notMain.size(); at += 512) notMain[at + 8] |= 0x01;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    bool restarts;
    std::uint32_t pages;
  };
  const Case cases[] = {
      {"in order", good, true, 16},
      {"a block twice is written once", repeated, true, 16},
      {"in any order", backwards, true, 16},
      {"a block missing", missing, false, 15},
      {"for the RP2040", makeUf2(image, kFlashBase, kFamilyRp2040), false, 0},
      {"not for main flash", notMain, false, 0},
      {"not UF2 at all", std::vector<std::uint8_t>(8192, 0x55), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    world.plugBoard(World::BoardSetup::blank());
    world.board().resetCounters();
    std::uint32_t error = 0;
    ASSERT_TRUE(copy(*world.boardDrive(), c.file, error));
    BoardCounters counters = world.board().counters();
    EXPECT_EQ(counters.pagesProgrammed, c.pages);
    EXPECT_EQ(counters.sectorsErased, c.pages == 0 ? 0u : 1u);
    clock.sleepMs(1600);
    EXPECT_EQ(dongleOnHid(), c.restarts);
    EXPECT_EQ(world.boardInUpdateMode(), !c.restarts);
  }
}

TEST_F(Uf2DriveTest, AnRp2040DriveTakesOnlyRp2040Files) {
  std::shared_ptr<Uf2Drive> drive = world.plugRp2040Board();
  EXPECT_EQ(drive->label(), "RPI-RP2");
  std::vector<std::uint8_t> info;
  std::uint32_t error = 0;
  ASSERT_TRUE(drive->readFile("INFO_UF2.TXT", info, error));
  std::string text(info.begin(), info.end());
  EXPECT_EQ(text.find("RP2350"), std::string::npos);
  EXPECT_NE(text.find("Board-ID: RPI-RP2"), std::string::npos);
  EXPECT_FALSE(drive->readFile("CURRENT.UF2", info, error));
  EXPECT_EQ(error, kDriveErrorFileNotFound);

  std::vector<std::uint8_t> image = ours("0.9.3", 8192);
  ASSERT_TRUE(copy(*drive, makeUf2(image), error));
  clock.sleepMs(1000);
  EXPECT_TRUE(drive->attached());
  ASSERT_TRUE(copy(*drive, makeUf2(image, kFlashBase, kFamilyRp2040), error));
  clock.sleepMs(1000);
  EXPECT_FALSE(drive->attached());
}

TEST_F(Uf2DriveTest, DriveFaults) {
  world.plugBoard(World::BoardSetup::ours());
  std::shared_ptr<Uf2Drive> drive = world.boardDrive();
  std::vector<std::uint8_t> file = makeUf2(ours("0.9.7", 131072));
  std::uint32_t error = 0;

  drive->faults.inject("drive-write", FaultKind::Fail, 2);
  EXPECT_FALSE(copy(*drive, file, error));
  EXPECT_EQ(error, kDriveErrorWriteFault);

  // The drive vanishes in the middle of the copy: the board has dropped off the bus.
  drive->faults.inject("drive-write", FaultKind::Stall, 3);
  EXPECT_FALSE(copy(*drive, file, error));
  EXPECT_EQ(error, kDriveErrorNotReady);
  EXPECT_FALSE(drive->attached());
  EXPECT_TRUE(world.drives().empty());
  EXPECT_FALSE(world.boardInUpdateMode());
  EXPECT_FALSE(world.dongleInUpdateMode());
}

}  // namespace
}  // namespace tw::sim
