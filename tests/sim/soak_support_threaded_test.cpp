// What the soak leans on in the simulated world: settle() lets a driver look only once every
// other thread has done what is due, and a drive that went and came back no longer takes a file
// opened before.
#include <gtest/gtest.h>

#include <atomic>

#include "sim/firmware_builder.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw::sim {
namespace {

TEST(SoakSupportThreaded, SettleReturnsOnceEveryOtherThreadWaitsAndTimeStood) {
  VirtualClock clock(0);
  std::atomic<int> steps{0};
  auto worker = clock.startThread([&] {
    for (int i = 0; i < 3; ++i) {
      // Work that takes real time but none of the clock's: settle must wait for it.
      volatile unsigned sink = 0;
      for (unsigned n = 0; n < 2'000'000; ++n) sink = sink + n;
      ++steps;
      clock.sleepMs(1000);
    }
  });
  clock.settle();
  EXPECT_EQ(steps.load(), 1);
  EXPECT_EQ(clock.tickMs(), 0u);
  EXPECT_EQ(clock.liveThreads(), 1);
  clock.sleepMs(1000);
  clock.settle();
  EXPECT_EQ(steps.load(), 2);
  ASSERT_TRUE(worker->join(kWaitForever));
  EXPECT_EQ(clock.liveThreads(), 0);
}

TEST(SoakSupportThreaded, AFileOpenedOnADriveThatWentAndCameBackIsNoLongerWritable) {
  VirtualClock clock(0);
  World world(clock);
  world.plugBoard(World::BoardSetup::blank());
  clock.sleepMs(2000);
  std::shared_ptr<Uf2Drive> drive = world.boardDrive();
  std::uint32_t error = 0;
  auto writer = drive->create("TARNWICK.UF2", error);
  ASSERT_NE(writer, nullptr);
  const std::vector<std::uint8_t> block(512, 0);
  std::size_t written = 0;
  ASSERT_TRUE(writer->write(block.data(), block.size(), written, error));

  world.unplugBoard();
  world.plugInUpdateMode();
  clock.sleepMs(2000);
  ASSERT_TRUE(drive->attached());
  EXPECT_FALSE(writer->write(block.data(), block.size(), written, error));
  EXPECT_NE(drive->create("TARNWICK.UF2", error), nullptr);  // a new file is fine
}

}  // namespace
}  // namespace tw::sim
