// The install pipeline on the firmware thread while the person acts: a cancel during the button
// wait ends the job, "Stop waiting" while the dongle restarts ends it well at once, and a real
// build from the update host goes all the way onto a running dongle.
#include <gtest/gtest.h>

#include "firmware_fixture.h"
#include "real_firmware.h"
#include "sim/dongle_settings.h"

namespace tw {
namespace {

struct Running : test::FirmwareFixture {
  Running() {
    firmware.firmwareStart(window);
    run(100);
  }
  void start(const char* action) {
    std::string reason;
    ASSERT_TRUE(firmware.startFirmwareAction(action, false, reason)) << reason;
  }
  // Lets the thread run in steps of 100 ms until `done` holds of the record, at most `ms`.
  bool runUntil(const std::function<bool(const FirmwareJob&)>& done, std::uint32_t ms) {
    for (std::uint32_t waited = 0; waited < ms; waited += 100) {
      if (done(job())) return true;
      run(100);
    }
    return done(job());
  }
};

TEST(InstallPipelineThreaded, ACancelDuringTheButtonWaitEndsTheJob) {
  Running f;
  f.start("install");
  ASSERT_TRUE(f.runUntil([](const FirmwareJob& j) { return j.needsUser; }, 20000));
  FirmwareJob job = f.job();
  EXPECT_EQ(job.phase, JobPhase::Button);
  EXPECT_TRUE(job.cancellable);
  EXPECT_EQ(job.msg, "Triple-click the button on your dongle.");
  bool asked = false;
  for (const TrayNotice& notice : f.notices())
    asked |= notice.title == "Put the dongle in update mode";
  EXPECT_TRUE(asked);

  f.firmware.cancelFirmwareJob();
  ASSERT_TRUE(f.runUntil([](const FirmwareJob& j) { return j.result != JobResult::None; }, 1000));
  job = f.job();
  EXPECT_EQ(job.result, JobResult::Cancelled);
  EXPECT_FALSE(job.needsUser);
}

TEST(InstallPipelineThreaded, StopWaitingForTheDongleEndsTheJobWellAtOnce) {
  Running f;
  // A blank board restarts into update mode again, so the dongle never comes: the job would wait
  // a full minute.
  f.world.plugBoard(sim::World::BoardSetup::blank());
  ASSERT_TRUE(
      f.runUntil([&f](const FirmwareJob&) { return f.firmware.isBoardInUpdateMode(); }, 5000));
  f.start("restart");
  ASSERT_TRUE(f.runUntil(
      [](const FirmwareJob& j) { return j.phase == JobPhase::Reconnect && j.cancellable; }, 30000));
  const std::uint64_t stoppedAt = f.clock.tickMs();
  f.firmware.cancelFirmwareJob();
  ASSERT_TRUE(f.runUntil([](const FirmwareJob& j) { return j.result != JobResult::None; }, 3000));
  const FirmwareJob job = f.job();
  EXPECT_EQ(job.result, JobResult::Ok);
  EXPECT_EQ(job.msg, "Restarted.");
  EXPECT_LT(f.clock.tickMs() - stoppedAt, 1500u);
}

TEST(InstallPipelineThreaded, ARealBuildFromTheUpdateHostComesBackOnItsVersion) {
  Running f;
  sim::DongleConfigBytes config = sim::loadSavedConfig(f.world.flash());
  config[8] = 30;
  sim::storeSavedConfig(f.world.flash(), config);
  f.world.plugDongle();
  f.releases.publish("0.9.7", test::readRealFirmware(test::kRealKorrinlink));
  f.start("update");
  ASSERT_TRUE(f.runUntil([](const FirmwareJob& j) { return j.result != JobResult::None; }, 120000));
  const FirmwareJob job = f.job();
  EXPECT_EQ(job.result, JobResult::Ok) << job.error << " | " << job.tech;
  EXPECT_EQ(job.msg, "Firmware 0.9.7 is on.");
  f.world.update();
  ASSERT_TRUE(f.world.dongleRunning());
  EXPECT_EQ(f.world.dongle().firmwareVersion(), "0.9.7");
  EXPECT_EQ(f.world.dongle().appliedConfig()[8], 30);
  EXPECT_EQ(sim::loadSavedConfig(f.world.flash()), config);
}

}  // namespace
}  // namespace tw
