#include <gtest/gtest.h>

#include "tray_fixture.h"

namespace tw::testing {
namespace {

using sim::OtherInstance;

class StartupTest : public TrayFixture {};

TEST_F(StartupTest, InteractiveStartShowsTheIconOpensThePanelAndShutsDownInOrder) {
  int code = runApp([&] {
    EXPECT_TRUE(tray.iconsLoaded);
    EXPECT_TRUE(tray.visible());
    EXPECT_EQ(tray.events().front().record.tip, "Tarnwick Bridge \xE2\x80\x94 looking\xE2\x80\xA6");
    EXPECT_EQ(tip(),
              "Tarnwick Bridge \xE2\x80\x94 Connected \xE2\x80\xA2 battery good \xE2\x80\xA2 "
              "signal strong");
    EXPECT_EQ(icon(), 1);
    EXPECT_EQ(launcher.opened, 1);
    EXPECT_EQ(server.starts, 1);
    EXPECT_EQ(firmware.startedWith, app->trayWindow());
    EXPECT_TRUE(firmware.lastPresent);
    EXPECT_EQ(firmware.lastFirmware, "0.9.3");
    EXPECT_EQ(startWithWindows.refreshes, 1);
    EXPECT_TRUE(loop.hasTimer(app->trayWindow(), POLL_TIMER));
    send(msg::COMMAND, ID_QUIT);
    EXPECT_FALSE(tray.visible());
    EXPECT_FALSE(loop.hasTimer(app->trayWindow(), POLL_TIMER));
    EXPECT_EQ(firmware.stops, 0) << "the firmware stops only after the loop ends";
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(firmware.stops, 1);
  EXPECT_EQ(desktop.openHandles(), 0) << "the single-instance mutex is closed at exit";
}

TEST_F(StartupTest, LogOnStartHidesTheIconUntilADongleAndAgainAfterThreeEmptyPolls) {
  world.unplugDongle();
  runApp(
      [&] {
        EXPECT_FALSE(tray.visible());
        EXPECT_EQ(launcher.opened, 0) << "a launch at log-on opens no panel";
        poll();
        EXPECT_FALSE(tray.visible());
        world.plugDongle();
        poll();
        EXPECT_TRUE(tray.visible());
        world.unplugDongle();
        poll();
        poll();
        EXPECT_TRUE(tray.visible()) << "two misses keep the icon";
        EXPECT_EQ(icon(), 2);
        poll();
        EXPECT_FALSE(tray.visible()) << "the third consecutive miss hides it";
        // A board in update mode or a busy job keeps the icon up even without a dongle.
        firmware.boardInUpdateMode = true;
        poll();
        EXPECT_TRUE(tray.visible());
        EXPECT_EQ(tip(), "Tarnwick Bridge \xE2\x80\x94 Dongle is in update mode");
      },
      "\"C:\\Users\\a\\AppData\\Local\\Tarnwick Bridge\\Tarnwick.exe\" --startup");
}

TEST_F(StartupTest, InteractiveRunKeepsItsIconWithoutADongle) {
  world.unplugDongle();
  runApp([&] {
    EXPECT_TRUE(tray.visible());
    for (int i = 0; i < 5; ++i) poll();
    EXPECT_TRUE(tray.visible());
    EXPECT_EQ(icon(), 2);
    EXPECT_EQ(tip(), "Tarnwick Bridge \xE2\x80\x94 No controller connected");
  });
}

TEST_F(StartupTest, WindowCreationFailureEndsWithOneBeforeAnySubsystemStarts) {
  class NoWindowLoop : public ScriptedLoop {
   public:
    using ScriptedLoop::ScriptedLoop;
    WindowId createHiddenWindow(const std::string&, const std::string&, WindowHandler*) override {
      return 0;
    }
  } failing(clock);
  TrayApp app(TrayAppConfig{"1.2.0", "Tarnwick.exe"}, TrayAppPorts{failing, tray, desktop}, link,
              TrayAppServices{server, launcher, firmware, startWithWindows});
  EXPECT_EQ(app.run(), 1);
  EXPECT_EQ(server.starts, 0);
  EXPECT_EQ(firmware.startedWith, 0u);
}

// The single-instance hand-over, seen from the new process.
class HandshakeTest : public TrayFixture {
 protected:
  OtherInstance& running(std::optional<std::uint32_t> version) {
    desktop.other = OtherInstance{};
    desktop.other->versionAnswer = version;
    return *desktop.other;
  }
  std::vector<sim::PostedMessage> commandsPosted() {
    std::vector<sim::PostedMessage> commands;
    for (const auto& posted : desktop.posted()) {
      if (posted.message == msg::COMMAND) commands.push_back(posted);
    }
    return commands;
  }
};

class EqualOrNewerRunning : public HandshakeTest,
                            public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(EqualOrNewerRunning, IsAskedToOpenThePanelAndKeepsRunning) {
  running(GetParam());
  EXPECT_EQ(runApp([] { FAIL() << "must not become primary"; }), 0);
  auto commands = commandsPosted();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam, ID_OPEN_PANEL);
  EXPECT_EQ(desktop.foregroundAllowed(), std::vector<std::uint32_t>{4242});
  EXPECT_EQ(desktop.openHandles(), 0);
  EXPECT_FALSE(loop.ran);
  EXPECT_FALSE(tray.iconsLoaded);
  EXPECT_EQ(startWithWindows.refreshes, 0) << "the running instance keeps the installed copy";
}

INSTANTIATE_TEST_SUITE_P(Versions, EqualOrNewerRunning, ::testing::Values(1002000u, 1003000u));

TEST_F(HandshakeTest, ALogOnLaunchBesideARunningInstanceEndsSilently) {
  running(1002000);
  EXPECT_EQ(runApp([] { FAIL(); }, "Tarnwick.exe --startup"), 0);
  EXPECT_TRUE(desktop.posted().empty());
}

TEST_F(HandshakeTest, AnOlderInstanceIsAskedToQuitAndReplaced) {
  running(1001005);
  // The installed copy may be the old instance's file: it is refreshed once that has quit, and
  // before this one has a window.
  startWithWindows.duringRefresh = [&] {
    EXPECT_EQ(commandsPosted().size(), 1u);
    EXPECT_EQ(app->trayWindow(), 0u);
  };
  bool primary = false;
  EXPECT_EQ(runApp([&] { primary = true; }), 0);
  EXPECT_TRUE(primary);
  EXPECT_EQ(startWithWindows.refreshes, 1);
  auto commands = commandsPosted();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam, ID_QUIT);
  EXPECT_EQ(launcher.opened, 1);
}

TEST_F(HandshakeTest, AHungInstanceCountsAsOlderAndTheAnswerWaitIsBounded) {
  running(std::nullopt);
  std::uint64_t start = clock.tickMs();
  bool primary = false;
  runApp([&] { primary = true; });
  EXPECT_TRUE(primary);
  EXPECT_GE(clock.tickMs() - start, 2000u);
  EXPECT_EQ(commandsPosted().front().wParam, ID_QUIT);
}

TEST_F(HandshakeTest, ADeclinedQuitFallsBackToOpeningThePanelAfterTheWait) {
  running(1001000).quitsWhenAsked = false;
  std::uint64_t start = clock.tickMs();
  EXPECT_EQ(runApp([] { FAIL(); }), 0);
  EXPECT_GE(clock.tickMs() - start, 30000u);
  auto commands = commandsPosted();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].wParam, ID_QUIT);
  EXPECT_EQ(commands[1].wParam, ID_OPEN_PANEL);
  EXPECT_EQ(desktop.openHandles(), 0) << "process and mutex handles are closed";
}

TEST_F(HandshakeTest, AnUnopenableOldProcessIsLeftRunning) {
  running(1000000).processOpenFails = true;
  EXPECT_EQ(runApp([] { FAIL(); }), 0);
  auto commands = commandsPosted();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam, ID_OPEN_PANEL);
}

TEST_F(HandshakeTest, AMessageOnlyWindowIsFoundToo) {
  running(1002000).messageOnlyWindow = true;
  EXPECT_EQ(runApp([] { FAIL(); }), 0);
  EXPECT_EQ(commandsPosted().size(), 1u);
}

TEST_F(HandshakeTest, AMutexWithoutAWindowEndsWithoutPosting) {
  running(1002000).hasWindow = false;
  EXPECT_EQ(runApp([] { FAIL(); }), 0);
  EXPECT_TRUE(desktop.posted().empty());
}

TEST_F(HandshakeTest, AFailedMutexStartsAsPrimary) {
  running(1002000);
  desktop.mutexCreationFails = true;
  bool primary = false;
  runApp([&] { primary = true; });
  EXPECT_TRUE(primary);
}

}  // namespace
}  // namespace tw::testing
