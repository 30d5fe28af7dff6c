// The firmware thread on virtual time, against the simulated world: the built-in image at start,
// turns of 700 ms, boards in update mode noticed and advised once, standing back for the bench
// tool, and a stop within its bound.
#include "flash/firmware_subsystem.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "flash/firmware_fixture.h"

namespace tw {
namespace {

// The firmware side on the simulated world, with no dongle plugged in at first.
using FirmwareThreadFixture = test::FirmwareFixture;

TEST(FirmwareThreadThreaded, VerifiesTheBuiltInImageAndTellsTheTray) {
  for (bool withImage : {true, false}) {
    FirmwareThreadFixture f(nullptr, withImage);
    f.firmware.firmwareStart(f.window);
    f.run(100);
    const FirmwareState state = f.firmware.snapshot();
    EXPECT_EQ(state.builtIn.builtInState,
              withImage ? BuiltInState::Verified : BuiltInState::Unusable);
    EXPECT_EQ(state.firmwareSeq, 2u);
    ASSERT_FALSE(f.tray.kinds.empty());
    EXPECT_EQ(f.tray.kinds.front(), FW_CHANGED);
  }
}

TEST(FirmwareThreadThreaded, StopsWithinItsBoundEvenInTheMiddleOfAWait) {
  FirmwareThreadFixture f;
  f.firmware.firmwareStart(f.window);
  f.run(10 * FirmwareSubsystem::kTurnWaitMs + 350);
  const std::uint64_t before = f.clock.tickMs();
  f.firmware.firmwareStop();
  EXPECT_LE(f.clock.tickMs() - before, 4000u);
  EXPECT_FALSE(f.firmware.isBoardInUpdateMode());
}

TEST(FirmwareThreadThreaded, ABoardInUpdateModeIsAdvisedOnceAndForgottenWhenUnplugged) {
  FirmwareThreadFixture f;
  f.firmware.firmwareStart(f.window);
  f.run(1000);
  f.world.plugBoard(sim::World::BoardSetup::ours("0.9.1"));
  f.run(3000);
  EXPECT_TRUE(f.firmware.isBoardInUpdateMode());
  std::vector<TrayNotice> notices = f.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, "Dongle in update mode");
  EXPECT_EQ(notices[0].text, "It has 0.9.1 and 0.9.3 is ready. Open the panel to install it.");
  f.run(5000);
  EXPECT_TRUE(f.notices().empty());  // once per board

  f.world.unplugBoard();
  f.run(1000);
  EXPECT_FALSE(f.firmware.isBoardInUpdateMode());
  f.world.plugBoard(sim::World::BoardSetup::foreign("blink"));
  f.run(3000);
  notices = f.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, "Board in update mode");
}

TEST(FirmwareThreadThreaded, StandsBackWhileTheBenchToolRuns) {
  FirmwareThreadFixture f;
  WindowId rig = f.desktop.addWindow("RigWindow", "Tarnwick Pellmark Rig");
  f.firmware.firmwareStart(f.window);
  f.world.plugBoard(sim::World::BoardSetup::blank());
  f.run(5000);
  EXPECT_FALSE(f.firmware.isBoardInUpdateMode());
  EXPECT_TRUE(f.notices().empty());
  EXPECT_EQ(f.world.board().counters().commands[0x84], 0u);  // never read while it works

  f.desktop.removeWindow(rig);
  f.run(3000);
  EXPECT_TRUE(f.firmware.isBoardInUpdateMode());
  std::vector<TrayNotice> notices = f.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, "New board in update mode");
}

TEST(FirmwareThreadThreaded, ABusyBoardIsReadAgainThreeSecondsLater) {
  FirmwareThreadFixture f;
  f.firmware.firmwareStart(f.window);
  f.world.plugBoard(sim::World::BoardSetup::ours("0.9.3").heldBy(32));
  f.run(2000);
  EXPECT_EQ(f.board().read, BoardRead::Busy);
  EXPECT_TRUE(f.notices().empty());  // nothing to say about a board someone else is using
  f.world.setBoardHeld(0);
  f.run(4000);
  std::vector<TrayNotice> notices = f.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text,
            "It already has 0.9.3. Open the panel to restart it, or to repair it.");
}

TEST(FirmwareThreadThreaded, ADriveWithoutItsInterfaceIsOneBoardThatCannotBeRead) {
  FirmwareThreadFixture f;
  f.firmware.firmwareStart(f.window);
  f.world.plugBoard(sim::World::BoardSetup::ours("0.9.1").only(false, true));
  f.run(3000);
  EXPECT_TRUE(f.firmware.isBoardInUpdateMode());
  EXPECT_TRUE(f.notices().empty());  // its interface may still come
  f.run(4500);                       // more than 6 s after the drive was first seen
  std::vector<TrayNotice> notices = f.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text, "Open the panel to install firmware on it.");
  EXPECT_EQ(f.board().drive, "E:");
  EXPECT_EQ(f.board().why, "Windows hasn't given this app the board's USB update interface");
}

TEST(FirmwareThreadThreaded, ABoardWithBothIsReadOverUsbAndKnowsItsDrive) {
  FirmwareThreadFixture f;
  f.firmware.firmwareStart(f.window);
  f.world.plugBoard(sim::World::BoardSetup::ours("0.9.3"));
  f.run(3000);
  const BootBoard board = f.board();
  EXPECT_TRUE(board.usb);
  EXPECT_EQ(board.drive, "E:");
  EXPECT_EQ(board.read, BoardRead::Read);
  EXPECT_TRUE(board.ours);
  EXPECT_EQ(board.version, "0.9.3");
}

TEST(FirmwareThreadThreaded, WakesTheTrayForEveryChangeAndNoticeButNotForAnIdleTurn) {
  FirmwareThreadFixture f;
  f.firmware.firmwareStart(f.window);
  f.run(100);
  ASSERT_EQ(f.tray.kinds, std::vector<WParam>{FW_CHANGED});  // the built-in image
  f.run(20 * FirmwareSubsystem::kTurnWaitMs);
  EXPECT_EQ(f.tray.kinds.size(), 1u) << "idle turns woke the tray";

  // A change the watcher makes without a word of its own (the bench tool comes and goes): the
  // turn that made it tells the tray, once.
  WindowId rig = 0;
  const std::function<void()> changes[] = {
      [&] { rig = f.desktop.addWindow("RigWindow", "Tarnwick Pellmark Rig"); },
      [&] { f.desktop.removeWindow(rig); },
  };
  for (const auto& change : changes) {
    f.tray.kinds.clear();
    change();
    f.run(FirmwareSubsystem::kTurnWaitMs + 1);
    EXPECT_EQ(f.tray.kinds, std::vector<WParam>{FW_NOTICE});
    f.notices();  // the tray takes it
    f.run(10 * FirmwareSubsystem::kTurnWaitMs);
    EXPECT_EQ(f.tray.kinds.size(), 1u);
  }

  // A board found by a pass: the turn that sees it tells the tray, without waiting for its poll.
  f.tray.kinds.clear();
  f.world.plugBoard(sim::World::BoardSetup::ours("0.9.1"));
  f.run(FirmwareSubsystem::kTurnWaitMs + 1);
  EXPECT_TRUE(f.firmware.isBoardInUpdateMode());
  EXPECT_FALSE(f.tray.kinds.empty());
}

}  // namespace
}  // namespace tw
