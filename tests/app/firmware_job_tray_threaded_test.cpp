// The tray with the real firmware side and a job body of the test's, on virtual time: "Update
// firmware to %s" starts the job and opens the panel, the job's line takes over the tooltip and
// the menu's status, the firmware items grey, Quit asks first, the ending arrives as a balloon,
// and a refused update shows the firmware side's own sentence.
#include <gtest/gtest.h>

#include <sstream>

#include "app/tray_ids.h"
#include "program_fixture.h"
#include "tray_fixture.h"

namespace tw {
namespace {

const std::string kDash = " \xE2\x80\x94 ";

// A job that gets ready for a second, writes for a second and ends on 0.9.3.
class TwoStepJob : public FirmwareJobBody {
 public:
  FirmwareJobEnding runFirmwareJob(FirmwareJobContext& job, const FirmwareRequest&) override {
    if (!job.cancellableWait(1000)) return FirmwareJobEnding::cancelled();
    job.setCancellable(false);
    job.setProgress(phase::WRITE, 40, "Writing\xE2\x80\xA6");
    job.cancellableWait(1000);
    return FirmwareJobEnding::ok("0.9.3", "Firmware 0.9.3 is on.", true);
  }
};

const MenuItem* findItem(const std::vector<MenuItem>& menu, std::uint32_t id) {
  for (const MenuItem& item : menu) {
    if (item.command == id) return &item;
  }
  return nullptr;
}

TEST(FirmwareJobTrayThreaded, AnUpdateFromTheMenuShowsItsWayThroughTheTray) {
  sim::VirtualClock clock;
  std::ostringstream console;
  TwoStepJob body;
  testing::CountingLauncher launcher;
  testing::FixedPortServer server;
  testing::FakeStartWithWindows startWithWindows;
  host::LinuxProgramOptions options = testing::steppedProgram(clock, console);
  options.commandLine = "Tarnwick.exe --startup";
  // The update host publishes nothing: the built-in image is the offer.
  options.prepareWorld = [](sim::World& world) { world.dongle().setFirmwareVersion("0.9.1"); };
  options.jobBody = &body;
  options.server = &server;
  options.launcher = &launcher;
  options.startWithWindows = &startWithWindows;
  host::LinuxProgram program(options);
  sim::World& world = program.world();
  QueueMessageLoop& loop = program.loop();
  sim::RecordingTray& tray = program.tray();
  sim::SimDesktop& desktop = program.desktop();
  FirmwareSubsystem& firmware = program.firmware();
  TrayApp& app = program.app();

  auto settle = [&](std::uint32_t ms) {
    clock.sleepMs(ms);
    loop.dispatchPending();
  };
  auto send = [&](std::uint32_t message, WParam wParam, LParam lParam = 0) {
    loop.send(app.trayWindow(), message, wParam, lParam);
  };
  auto menu = [&] {
    send(WM_APP_TRAY, 0, msg::RBUTTONUP);
    std::vector<MenuItem> shown;
    for (const sim::TrayEvent& event : tray.events()) {
      if (event.kind == sim::TrayEvent::Kind::Menu) shown = event.menu;
    }
    return shown;
  };
  program.duringRun([&] {
    settle(1000);
    std::vector<MenuItem> items = menu();
    const MenuItem* update = findItem(items, ID_UPDATE_FIRMWARE);
    ASSERT_NE(update, nullptr);
    EXPECT_EQ(update->text, "Update firmware to 0.9.3");
    EXPECT_FALSE(update->greyed);

    const int opened = launcher.opened;
    send(msg::COMMAND, ID_UPDATE_FIRMWARE);
    EXPECT_EQ(launcher.opened, opened + 1);
    settle(500);
    EXPECT_EQ(tray.current().iconResource, 1);
    EXPECT_EQ(tray.current().tip, "Tarnwick Bridge" + kDash + "Getting firmware ready");
    items = menu();
    EXPECT_EQ(findItem(items, ID_STATUS)->text, "Getting firmware ready");
    EXPECT_EQ(findItem(items, ID_UPDATE_FIRMWARE), nullptr);  // nothing is offered during a job
    EXPECT_TRUE(findItem(items, ID_CHECK_UPDATES)->greyed);

    // A second start while this one runs is refused.
    std::string reason;
    EXPECT_FALSE(firmware.startFirmwareAction("update", false, reason));
    EXPECT_EQ(reason, "The dongle is already being worked on.");
    settle(1000);
    EXPECT_EQ(tray.current().tip, "Tarnwick Bridge" + kDash + "Updating firmware" + kDash + "40%");

    // Quit asks while the job runs; No keeps the app.
    desktop.answerNextMessageBox(MessageBoxAnswer::No);
    send(msg::COMMAND, ID_QUIT);
    ASSERT_EQ(desktop.messageBoxes().size(), 1u);
    EXPECT_EQ(desktop.messageBoxes()[0].buttons, MessageBoxButtons::YesNoDefaultNo);
    EXPECT_TRUE(tray.visible());

    settle(1000);
    ASSERT_FALSE(tray.balloons().empty());
    EXPECT_EQ(tray.balloons().back().title, "Firmware installed");
    EXPECT_EQ(tray.balloons().back().text, "Your Tarnwick Bridge is on 0.9.3.");
    EXPECT_FALSE(firmware.isFirmwareBusy());

    // The dongle comes back on 0.9.3: nothing is offered, and "update" is refused in a box.
    world.dongle().setFirmwareVersion("0.9.3");
    clock.advance(POLL_INTERVAL_MS);
    send(msg::TIMER, POLL_TIMER);
    settle(10);
    EXPECT_EQ(findItem(menu(), ID_UPDATE_FIRMWARE), nullptr);
    send(msg::COMMAND, ID_UPDATE_FIRMWARE);
    ASSERT_EQ(desktop.messageBoxes().size(), 2u);
    EXPECT_EQ(desktop.messageBoxes()[1].text, "You already have the newest firmware (0.9.3).");
    EXPECT_EQ(desktop.messageBoxes()[1].caption, "Tarnwick Bridge");
  });
  program.run();
}

}  // namespace
}  // namespace tw
