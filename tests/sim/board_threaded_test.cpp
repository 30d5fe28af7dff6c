// A firmware thread working the board while the person's side of the world goes on, on virtual
// time: the board's costs move the clock only as far as the longest waiter needs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "sim/firmware_builder.h"
#include "sim/raw_picoboot.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw::sim {
namespace {

using testing::commandBlock;

TEST(BoardThreaded, AFirmwareThreadFlashesTheBoardWhileTheOtherSidePolls) {
  VirtualClock clock(0);
  World world(clock);
  std::string path = world.donglePath();
  auto onHid = [&] {
    std::vector<std::string> paths;
    world.hid().listInterfaces(paths);
    return std::find(paths.begin(), paths.end(), path) != paths.end();
  };
  std::atomic<bool> flashed{false};
  std::atomic<bool> back{false};
  auto worker = clock.startThread([&] {
    std::vector<UsbInterfaceEntry> entries;
    while (entries.empty()) {
      clock.sleepMs(250);
      world.usb().listInterfaces(kPicobootInterfaceClass, 4, entries);
    }
    testing::RawPicoboot raw(world);
    if (!raw.open()) return;
    FirmwareRecipe recipe;
    recipe.version = "0.9.8";
    recipe.size = 256 * 1024;
    std::vector<std::uint8_t> image = makeFirmwareImage(recipe);
    flashed = raw.run(commandBlock(0x01, 1, 0, {1})) && raw.erase(0x10000000, recipe.size) &&
              raw.writeFlash(0x10000000, image) &&
              raw.run(commandBlock(0x0a, 16, 0, {0, 500, 0, 0}));
    raw.device.reset();
    for (int i = 0; i < 40 && !back; ++i) {
      clock.sleepMs(250);
      back = onHid();
    }
  });
  clock.sleepMs(300);
  world.pressButton();
  std::uint64_t pressedAt = clock.tickMs();
  while (!back && clock.tickMs() < 60'000) {
    clock.sleepMs(100);
    world.drives();
  }
  ASSERT_TRUE(worker->join(kWaitForever));
  EXPECT_TRUE(flashed);
  EXPECT_TRUE(back);
  EXPECT_EQ(world.dongle().firmwareVersion(), "0.9.8");
  // About 1 s to appear, 64 sector erases of 45 ms, 1024 pages of 0.656 ms, 0.5 + 1 s to return.
  std::uint64_t took = clock.tickMs() - pressedAt;
  EXPECT_GE(took, 1000u + 2880 + 671 + 1500);
  EXPECT_LE(took, 1000u + 2880 + 671 + 1500 + 600);
}

}  // namespace
}  // namespace tw::sim
