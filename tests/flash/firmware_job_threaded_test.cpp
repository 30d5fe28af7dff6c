// The firmware job on the firmware thread and virtual time, driven by test bodies: a queued request
// taken up in the next turn, progress seen from outside, the endings, cancel in and out of a
// cancellable stretch, dismiss, shutdown, and a board that turns up while a job runs.
#include <gtest/gtest.h>

#include "firmware_fixture.h"

namespace tw {
namespace {

using test::FirmwareFixture;
using test::ScriptedJob;
using test::waitingJob;

// A fixture whose firmware thread runs; the built-in image is verified after the first 100 ms.
struct RunningFirmware : FirmwareFixture {
  explicit RunningFirmware(ScriptedJob::Script script)
      : FirmwareFixture(&body), body(std::move(script)) {
    firmware.firmwareStart(window);
    run(100);
  }
  // The thread may be inside the body: stop it before the body goes.
  ~RunningFirmware() { firmware.firmwareStop(); }
  bool start(const std::string& action, bool confirm = false) {
    std::string reason;
    const bool queued = firmware.startFirmwareAction(action, confirm, reason);
    EXPECT_TRUE(queued) << reason;
    return queued;
  }
  ScriptedJob body;
};

TEST(FirmwareJobThreaded, AQueuedRequestRunsInTheNextTurnAndEndsOk) {
  RunningFirmware f(waitingJob(2000));
  const std::uint64_t started = f.clock.tickMs();
  ASSERT_TRUE(f.start("install"));
  f.run(300);
  FirmwareJob job = f.job();
  EXPECT_TRUE(job.active);
  EXPECT_FALSE(f.queued());
  EXPECT_TRUE(job.cancellable);
  EXPECT_EQ(job.action, FirmwareAction::Install);
  EXPECT_EQ(job.phase, JobPhase::Download);
  EXPECT_EQ(job.pct, 5);
  EXPECT_EQ(job.msg, "Downloading firmware\xE2\x80\xA6 40%");
  EXPECT_EQ(job.detail, "It takes a moment.");
  EXPECT_TRUE(f.firmware.isFirmwareBusy());
  std::string line;
  EXPECT_TRUE(f.firmware.jobTrayText(line));
  EXPECT_EQ(line, "Getting firmware ready");

  f.tray.kinds.clear();
  f.run(2000);
  job = f.job();
  EXPECT_FALSE(job.active);
  EXPECT_FALSE(f.firmware.isFirmwareBusy());
  EXPECT_FALSE(f.firmware.jobTrayText(line));
  EXPECT_EQ(job.result, JobResult::Ok);
  EXPECT_EQ(job.phase, JobPhase::Done);
  EXPECT_EQ(job.pct, 100);
  EXPECT_EQ(job.installed, "0.9.3");
  EXPECT_EQ(job.msg, "Firmware 0.9.3 is on.");
  // Woken by the request, the thread began at once; the body waited its 2000 ms.
  EXPECT_EQ(job.finishedAt, started + 2000);
  ASSERT_GE(f.tray.kinds.size(), 2u);
  EXPECT_EQ(f.tray.kinds[0], FW_CHANGED);
  EXPECT_EQ(f.tray.kinds[1], FW_NOTICE);
  std::vector<TrayNotice> notices = f.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, "Firmware installed");
  EXPECT_EQ(notices[0].text,
            "Your Tarnwick Bridge is on 0.9.3. Turn your controller on to use it.");
  ASSERT_EQ(f.body.requests.size(), 1u);
  EXPECT_EQ(f.body.requests[0].action, FirmwareAction::Install);
  EXPECT_FALSE(f.body.requests[0].confirm);
}

TEST(FirmwareJobThreaded, CancelDuringAWaitEndsTheJobWithinAStep) {
  RunningFirmware f(waitingJob(600000));
  ASSERT_TRUE(f.start("update"));
  f.run(1000);
  const std::uint64_t cancelledAt = f.clock.tickMs();
  f.firmware.cancelFirmwareJob();
  f.run(150);  // the job's steps and this sleep may end at one moment: look half a step later
  const FirmwareJob job = f.job();
  EXPECT_FALSE(job.active);
  EXPECT_EQ(job.result, JobResult::Cancelled);
  EXPECT_EQ(job.msg, "Cancelled. Nothing was changed.");
  EXPECT_EQ(job.pct, 0);
  EXPECT_EQ(job.detail, "");
  EXPECT_LE(job.finishedAt - cancelledAt, 100u);
  EXPECT_TRUE(f.notices().empty());
}

TEST(FirmwareJobThreaded, CancelWhileNotCancellableHasNoEffect) {
  RunningFirmware f([](FirmwareJobContext& job, const FirmwareRequest&) {
    job.setCancellable(false);
    job.setProgress(JobPhase::Write, 40, "Writing\xE2\x80\xA6");
    const bool waited = job.cancellableWait(3000);
    return waited ? FirmwareJobEnding::ok("0.9.3", "Firmware 0.9.3 is on.", true)
                  : FirmwareJobEnding::failed("The wait was cut short.");
  });
  ASSERT_TRUE(f.start("install"));
  f.run(1000);
  std::string line;
  EXPECT_TRUE(f.firmware.jobTrayText(line));
  EXPECT_EQ(line, "Updating firmware \xE2\x80\x94 40%");
  const std::uint32_t seq = f.firmware.firmwareSeq();
  f.firmware.cancelFirmwareJob();
  EXPECT_EQ(f.firmware.firmwareSeq(), seq);
  f.run(2500);
  EXPECT_EQ(f.job().result, JobResult::Ok);
}

TEST(FirmwareJobThreaded, DismissDoesNothingDuringAJobAndClearsItAfterwards) {
  RunningFirmware f([](FirmwareJobContext& job, const FirmwareRequest&) {
    job.setProgress(JobPhase::Inspect, 13, "Found it.");
    job.cancellableWait(1000);
    return FirmwareJobEnding::failed(
        "The dongle never showed up in update mode, so nothing was "
        "changed.",
        "no interface");
  });
  ASSERT_TRUE(f.start("install"));
  f.run(500);
  const std::uint32_t seq = f.firmware.firmwareSeq();
  f.firmware.dismissFirmwareResult();
  EXPECT_EQ(f.firmware.firmwareSeq(), seq);
  EXPECT_EQ(f.job().msg, "Found it.");
  f.run(1000);
  FirmwareJob job = f.job();
  EXPECT_EQ(job.result, JobResult::Failed);
  EXPECT_EQ(job.tech, "no interface");
  EXPECT_EQ(job.pct, 13);  // a failure keeps how far it got
  std::vector<TrayNotice> notices = f.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, "The update didn't finish");
  EXPECT_TRUE(notices[0].warning);

  f.firmware.dismissFirmwareResult();
  job = f.job();
  EXPECT_EQ(job.result, JobResult::None);
  EXPECT_EQ(job.msg, "");
  EXPECT_EQ(job.finishedAt, 0u);
  EXPECT_GT(f.firmware.firmwareSeq(), seq);
}

TEST(FirmwareJobThreaded, ShutdownCancelsARunningJob) {
  RunningFirmware f(waitingJob(600000));
  ASSERT_TRUE(f.start("repair", true));
  f.run(1000);
  const std::uint64_t before = f.clock.tickMs();
  f.firmware.firmwareStop();
  EXPECT_LE(f.clock.tickMs() - before, 100u);
  EXPECT_EQ(f.job().result, JobResult::Cancelled);
  EXPECT_TRUE(f.body.requests.at(0).confirm);
}

TEST(FirmwareJobThreaded, ABoardThatTurnsUpDuringAJobIsLeftToIt) {
  RunningFirmware f(waitingJob(5000));
  ASSERT_TRUE(f.start("install"));
  f.world.plugBoard(sim::World::BoardSetup::ours("0.9.1"));
  f.run(4000);
  // No watcher pass runs in a turn that runs a job.
  EXPECT_FALSE(f.firmware.isBoardInUpdateMode());
  f.run(4000);
  EXPECT_TRUE(f.firmware.isBoardInUpdateMode());
  EXPECT_EQ(f.board().read, BoardRead::Read);
  // The job's own notice, and nothing about the board it brought back.
  std::vector<TrayNotice> notices = f.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, "Firmware installed");
}

}  // namespace
}  // namespace tw
