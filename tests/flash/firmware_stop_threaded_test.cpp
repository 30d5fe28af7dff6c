// Stopping the firmware thread wakes it: the stop returns at once in virtual time instead of
// waiting out the thread's turn.
#include <gtest/gtest.h>

#include "flash/firmware_fixture.h"
#include "flash/firmware_subsystem.h"

namespace tw {
namespace {

TEST(FirmwareStopThreaded, ReturnsAtOnceBecauseItWakesTheThread) {
  test::FirmwareFixture f;
  f.firmware.firmwareStart(f.window);
  // Just into a turn's wait: a thread nobody wakes sleeps out the 600 ms that are left.
  f.run(10 * FirmwareSubsystem::kTurnWaitMs + 100);
  const std::uint64_t before = f.clock.tickMs();
  f.firmware.firmwareStop();
  EXPECT_LT(f.clock.tickMs() - before, 100u);
}

}  // namespace
}  // namespace tw
