// The firmware job where it used to go wrong: a cancel that arrives just as the board appears, a
// board nobody could read, a restart with no board, the release that failed its signature, the
// board read again after a job wrote it, the late dongle's detail, its version text, and the
// offer of the built-in image once it is checked. The job runs on the test's thread, on virtual
// time; what must happen at an exact moment happens in a hook.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "firmware/versions.h"
#include "firmware_fixture.h"
#include "flash/install_work.h"
#include "flash/online_check.h"

namespace tw {
namespace {

constexpr char kUnreadBoard[] =
    "This board couldn't be read, so this app can't tell whose firmware it holds and left it "
    "alone.";

struct Job : test::FirmwareFixture {
  Job() { verifyBuiltIn(); }
  FirmwareJob run(const std::string& action, bool confirm = false) {
    FirmwareRequest request;
    EXPECT_TRUE(parseFirmwareAction(action, request.action)) << action;
    request.confirm = confirm;
    startedAt = clock.tickMs();
    firmware.runFirmwareJob(request);
    return job();
  }
  // Runs `hook` after the world has caught up, before each USB enumeration and open: on the job's
  // thread, between its waits.
  void beforeUsb(std::function<void()> hook) {
    std::function<void()> catchUp = world.usb().beforeEnumerate;
    world.usb().beforeEnumerate = [catchUp, hook] {
      catchUp();
      hook();
    };
  }
  std::uint32_t flashChanges() {
    const sim::BoardCounters counters = world.board().counters();
    return counters.sectorsErased + counters.pagesProgrammed;
  }
  std::uint64_t startedAt = 0;
};

TEST(JobMends, ACancelTakenAsTheBoardAppearsEndsTheJobBeforeAnythingIsWritten) {
  Job j;
  j.releases.publish("0.9.4");
  j.world.plugDongle();
  bool cancelled = false;
  // The last poll of the switch wait finds the board; the person's cancel lands right then.
  j.beforeUsb([&j, &cancelled] {
    if (cancelled || !j.world.boardInUpdateMode()) return;
    cancelled = true;
    j.firmware.cancelFirmwareJob();
  });
  const FirmwareJob job = j.run("update");
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(job.result, JobResult::Cancelled) << job.msg;
  EXPECT_EQ(job.msg, "Cancelled. Nothing was changed.");
  EXPECT_EQ(j.flashChanges(), 0u);
}

TEST(JobMends, ABoardNobodyCouldReadIsWrittenOnlyWhenThisJobBroughtItOrThePersonAgreed) {
  struct Case {
    const char* name;
    std::function<void(Job&)> setup;
    bool confirm;
    const char* result;
  };
  const auto openFails = [](Job& j) {
    j.world.board().faults.always("open", sim::FaultKind::Fail);
  };
  const std::vector<Case> cases = {
      {"a board showing only its drive",
       [](Job& j) {
         j.world.plugBoard(sim::World::BoardSetup::foreign("blink").only(false, true));
       },
       false, "failed"},
      {"a board whose update interface can't be opened",
       [&](Job& j) {
         j.world.plugBoard(sim::World::BoardSetup::foreign("blink"));
         openFails(j);
       },
       false, "failed"},
      {"the same when the person agreed",
       [&](Job& j) {
         j.world.plugBoard(sim::World::BoardSetup::foreign("blink"));
         openFails(j);
       },
       true, "ok"},
      {"our dongle, switched over by this job, whose interface can't be opened",
       [&](Job& j) {
         j.world.plugDongle();
         openFails(j);
       },
       false, "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job j;
    j.releases.publish("0.9.4");
    c.setup(j);
    const std::vector<std::uint8_t> before = j.world.flash().read(0, 0x40000);
    const FirmwareJob job = j.run("install", c.confirm);
    EXPECT_STREQ(resultWord(job.result), c.result) << job.error << " | " << job.tech;
    if (std::string(c.result) == "failed") {
      EXPECT_EQ(job.error, kUnreadBoard);
      EXPECT_TRUE(job.refused);
      EXPECT_EQ(j.world.flash().read(0, 0x40000), before);
      EXPECT_EQ(j.world.board().counters().driveBytesWritten, 0u);
    } else {
      EXPECT_EQ(job.msg, "Firmware 0.9.4 is on.");
    }
  }
}

TEST(JobMends, ARestartWithNoBoardLeavesTheRunningDongleAlone) {
  Job j;
  j.world.plugDongle();
  const FirmwareJob job = j.run("restart");
  EXPECT_EQ(job.result, JobResult::Failed);
  EXPECT_EQ(job.error, "Nothing to restart: no dongle is in update mode.");
  EXPECT_FALSE(job.needsUser);
  EXPECT_LT(j.clock.tickMs() - j.startedAt, 1000u);
  j.world.update();
  EXPECT_TRUE(j.world.dongleRunning());
}

TEST(JobMends, AReleaseThatFailsItsSignatureIsNamedAndNotOfferedAgain) {
  Job j;
  j.world.plugBoard(sim::World::BoardSetup::ours("0.9.1").only(false, false));
  j.world.plugDongle();
  j.firmware.reportDongle(true, "0.9.1");
  j.releases.publish("1.5.0", true);  // signed with a key nobody trusts
  j.notices();

  const FirmwareJob job = j.run("update");
  EXPECT_EQ(job.result, JobResult::Ok) << job.error;
  EXPECT_EQ(job.msg, "Firmware 0.9.3 is on.");
  EXPECT_EQ(job.detail,
            "1.5.0 couldn't be used (it isn't signed by Tarnwick), so this app installed its "
            "built-in 0.9.3 instead. Turn your controller on and the Bridge will pick it up.");
  bool told = false;
  for (const TrayNotice& notice : j.notices()) {
    if (notice.title != "Firmware installed") continue;
    told = true;
    EXPECT_EQ(notice.text,
              "Your Tarnwick Bridge is on 0.9.3. 1.5.0 couldn't be used: it isn't signed by "
              "Tarnwick. Turn your controller on to use it.");
  }
  EXPECT_TRUE(told);

  const auto offer = [&j] { return offerVersion(j.firmware.snapshot()); };
  j.firmware.runCheck();
  EXPECT_EQ(offer(), "0.9.3") << "the same list offers the same bad file again";
  j.releases.publish("1.5.0");  // published again, properly signed
  j.firmware.runCheck();
  EXPECT_EQ(offer(), "1.5.0");
}

TEST(JobMends, ABoardTheJobWroteIsReadAgainBeforeAnythingIsSaidOfIt) {
  Job j;
  j.releases.publish("0.9.4");
  j.world.plugBoard(sim::World::BoardSetup::foreign("blink"));
  for (int pass = 0; pass < 4; ++pass) {
    j.firmware.watchBoards();
    j.clock.sleepMs(FirmwareSubsystem::kTurnWaitMs);
  }
  ASSERT_EQ(j.board().program, "blink");
  // The new image does not start: the board comes back into update mode.
  j.world.board().faults.inject("boot", sim::FaultKind::Fail);
  const FirmwareJob job = j.run("install", true);
  ASSERT_EQ(job.result, JobResult::Ok) << job.error;
  EXPECT_EQ(j.board().read, BoardRead::NotRead);
  for (int pass = 0; pass < 4; ++pass) {
    j.firmware.watchBoards();
    j.clock.sleepMs(FirmwareSubsystem::kTurnWaitMs);
  }
  const BootBoard board = j.board();
  EXPECT_EQ(board.read, BoardRead::Read);
  EXPECT_TRUE(board.ours);
  EXPECT_EQ(board.version, "0.9.4");
}

TEST(JobMends, ADongleThatComesBackLateKeepsOnlyTheRepairAdvice) {
  Job j;
  // The last stage of a repair the drive copy finished: the board is still in update mode, so
  // the job asks for it to be unplugged; the person does so and it comes back.
  j.world.plugBoard(sim::World::BoardSetup::ours("0.9.3"));
  bool replugged = false;
  std::function<void()> catchUp = j.world.hid().beforeEnumerate;
  j.world.hid().beforeEnumerate = [&j, &replugged, catchUp] {
    catchUp();
    if (replugged || j.job().detail.rfind("Unplug the dongle", 0) != 0) return;
    replugged = true;
    j.world.plugDongle();
  };
  std::atomic<bool> stop{false};
  FirmwareJobContext context(j.firmware.store(), j.clock, stop);
  InstallPorts ports{j.firmware.picoboot(), j.files, j.dongle, [] {}, nullptr};
  const std::string advice =
      "The firmware is reinstalled, but its settings couldn't be cleared this way. Hold the "
      "dongle's button for two seconds to forget paired controllers.";
  DongleReturn after;
  after.how = BoardRestart::CopiedToDrive;
  after.repairAdvice = advice;
  after.target = after.expected = "0.9.3";
  const FirmwareJobEnding ending = waitForDongle(context, ports, after);
  ASSERT_TRUE(replugged);
  EXPECT_EQ(ending.result, FirmwareJobEnding::Result::Ok);
  EXPECT_EQ(ending.installed, "0.9.3");
  EXPECT_EQ(j.job().detail, advice);
}

TEST(JobMends, TheReturningDongleShowsBytesItCannotPrintAsQuestionMarks) {
  Job j;
  j.world.plugDongle();
  j.world.dongle().setIdentityOverride({'0', '.', '9', 0x01, '3', 0xE9});
  std::string version;
  ASSERT_TRUE(readDongleVersion(j.dongle, version));
  EXPECT_EQ(version, "0.9?3?");
}

TEST(JobMends, TheBuiltInImageIsOfferedOnceItIsChecked) {
  test::FirmwareFixture f;  // the built-in image not checked yet
  f.firmware.reportDongle(true, "0.9.1");
  f.firmware.reportDongle(true, "0.9.1");
  EXPECT_TRUE(f.notices().empty());
  BuiltInImage image;
  loadBuiltInImage(f.resources, image);
  f.firmware.publishBuiltInImage(image);
  const std::vector<TrayNotice> notices = f.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, "Firmware update ready");
  EXPECT_EQ(notices[0].text,
            "Tarnwick Bridge 0.9.3 is ready (your dongle has 0.9.1). Click here to install it.");
}

}  // namespace
}  // namespace tw
