// The Linux program as one wiring on virtual time: what the test publishes and prepares reaches the
// firmware side, typed commands reach the tray window the firmware side was given, and run() ends
// with the console's last word.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "program_fixture.h"
#include "tray_fixture.h"

namespace tw {
namespace {

std::string lastLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

TEST(LinuxProgramThreaded, TheWorldTheFirmwareSideTheTrayAndTheConsoleAreOneProgram) {
  sim::VirtualClock clock;
  std::ostringstream out;
  testing::CountingLauncher launcher;
  testing::FixedPortServer server;
  testing::FakeStartWithWindows startWithWindows;
  host::LinuxProgramOptions options = testing::steppedProgram(clock, out);
  options.published = {"0.9.3", "0.9.4"};
  options.prepareWorld = [](sim::World& world) { world.dongle().setFirmwareVersion("0.9.2"); };
  options.server = &server;
  options.launcher = &launcher;
  options.startWithWindows = &startWithWindows;
  host::LinuxProgram program(options);
  EXPECT_NE(out.str().find("Tarnwick Bridge 1.2.0 on the simulated world"), std::string::npos);

  program.duringRun([&] {
    clock.sleepMs(1000);
    program.loop().dispatchPending();
    // The first check read the published list, and the tray reported the prepared dongle.
    std::string offer;
    EXPECT_TRUE(program.firmware().offeredUpdate(offer));
    EXPECT_EQ(offer, "0.9.4");
    EXPECT_EQ(program.tray().current().iconResource, 1);

    // A typed right-click reaches the tray window: the console learnt it with the firmware side.
    EXPECT_TRUE(program.console().execute("menu"));
    program.loop().dispatchPending();
    EXPECT_NE(out.str().find("Update firmware to 0.9.4"), std::string::npos) << out.str();

    // A world command on the console changes the same world the tray polls.
    EXPECT_TRUE(program.console().execute("unplug"));
    clock.advance(POLL_INTERVAL_MS);
    program.loop().send(program.app().trayWindow(), msg::TIMER, POLL_TIMER, 0);
    EXPECT_EQ(program.tray().current().iconResource, 2);
  });
  EXPECT_EQ(program.run(), 0);
  EXPECT_EQ(lastLine(out.str()), "Tarnwick Bridge has quit.");
}

}  // namespace
}  // namespace tw
