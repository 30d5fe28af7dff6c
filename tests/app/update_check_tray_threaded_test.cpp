// The tray with the real firmware side on virtual time: the status poll reports the dongle's
// version, "Check for firmware updates" checks the simulated update host, the result arrives as a
// balloon, and a click on "Firmware update ready" opens the panel.
#include <gtest/gtest.h>

#include "app/tray_ids.h"
#include "built_in_firmware.h"
#include "firmware/update_host.h"
#include "flash/firmware_subsystem.h"
#include "platform/host/embedded_resources.h"
#include "platform/host/openssl_signature.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/sim_releases.h"
#include "tray_fixture.h"
#include "trusted_release_key.h"

namespace tw {
namespace {

TEST(UpdateCheckTrayThreaded, ACheckFromTheMenuEndsAsABalloonThatOpensThePanel) {
  sim::VirtualClock clock;
  sim::World world(clock);
  testing::ScriptedLoop loop(clock);
  sim::RecordingTray tray;
  sim::SimDesktop desktop(clock);
  DongleLink link(world.hid());
  sim::SimFileSystem files(clock);
  sim::SimDesktopShell shell;
  EmbeddedResources resources;
  resources.add(kResourceBuiltInFirmware, builtInFirmwareImage, builtInFirmwareImageSize);
  sim::SimUpdateHost host(UpdateHost);
  sim::SimReleases releases(host, clock, UpdateHost);
  releases.publish("0.9.3", std::vector<std::uint8_t>(2048, 1));
  OpenSslSignatureVerifier signatures;
  FirmwareSubsystem firmware(FirmwarePorts{resources, loop, clock, world.usb(), link, files, shell, host,
                                           signatures, build::kTrustedReleaseKey});
  testing::CountingLauncher launcher;
  testing::FixedPortServer server;
  testing::FakeStartWithWindows startWithWindows;
  TrayApp app(TrayAppConfig{"1.2.0", "Tarnwick.exe"}, TrayAppPorts{loop, tray, desktop}, link,
              TrayAppServices{server, launcher, firmware, startWithWindows});

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
  loop.duringRun = [&] {
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
  };
  app.run();
}

}  // namespace
}  // namespace tw
