// The tray with the real firmware side on virtual time: the status poll reports the dongle's
// version, "Check for firmware updates" checks the simulated update host, the result arrives as a
// balloon, and a click on "Firmware update ready" opens the panel.
#include <gtest/gtest.h>

#include <sstream>

#include "app/tray_ids.h"
#include "program_fixture.h"
#include "tray_fixture.h"

namespace tw {
namespace {

TEST(UpdateCheckTrayThreaded, ACheckFromTheMenuEndsAsABalloonThatOpensThePanel) {
  sim::VirtualClock clock;
  std::ostringstream console;
  testing::CountingLauncher launcher;
  testing::FixedPortServer server;
  testing::FakeStartWithWindows startWithWindows;
  host::LinuxProgramOptions options = testing::steppedProgram(clock, console);
  options.server = &server;
  options.launcher = &launcher;
  options.startWithWindows = &startWithWindows;
  host::LinuxProgram program(options);
  sim::World& world = program.world();
  QueueMessageLoop& loop = program.loop();
  sim::RecordingTray& tray = program.tray();
  sim::SimReleases& releases = program.releases();
  TrayApp& app = program.app();
  releases.publish("0.9.3", std::vector<std::uint8_t>(2048, 1));

  auto settle = [&](std::uint32_t ms) {
    clock.sleepMs(ms);
    loop.dispatchPending();
  };
  auto send = [&](std::uint32_t message, WParam wParam, LParam lParam = 0) {
    loop.send(app.trayWindow(), message, wParam, lParam);
  };
  auto poll = [&] {
    clock.advance(POLL_INTERVAL_MS);
    send(msg::TIMER, POLL_TIMER);
    settle(10);
  };
  program.duringRun([&] {
    settle(1000);  // the first scheduled check finds nothing newer and says nothing
    const std::size_t quiet = tray.balloons().size();
    releases.publish("0.9.4", std::vector<std::uint8_t>(4096, 2));
    send(msg::COMMAND, ID_CHECK_UPDATES);
    settle(100);
    ASSERT_EQ(tray.balloons().size(), quiet + 1);
    EXPECT_EQ(tray.balloons().back().title, "Firmware update ready");
    EXPECT_EQ(tray.balloons().back().text,
              "Tarnwick Bridge 0.9.4 is ready (your dongle has 0.9.3). Click here to install it.");
    const int opened = launcher.opened;
    send(WM_APP_TRAY, 0, msg::BALLOON_USER_CLICK);
    EXPECT_EQ(launcher.opened, opened + 1);

    // The dongle now runs 0.9.4: the next poll reports it, and a check says so.
    world.dongle().setFirmwareVersion("0.9.4");
    poll();
    send(msg::COMMAND, ID_CHECK_UPDATES);
    settle(100);
    ASSERT_EQ(tray.balloons().size(), quiet + 2);
    EXPECT_EQ(tray.balloons().back().title, "You're up to date");
    EXPECT_EQ(tray.balloons().back().text, "Your Tarnwick Bridge has 0.9.4, the newest release.");
  });
  program.run();
}

}  // namespace
}  // namespace tw
