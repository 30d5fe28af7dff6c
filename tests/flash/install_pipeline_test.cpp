// The install pipeline end to end on the simulated world and virtual time: each action on each
// kind of board, the image it chooses, how it gets the board into update mode, and how the job
// ends. The job runs on the test's thread.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "firmware_fixture.h"
#include "real_firmware.h"
#include "sim/dongle_settings.h"
#include "sim/firmware_builder.h"
#include "sim/flash_image_info.h"

namespace tw {
namespace {

using test::allErased;

constexpr std::uint32_t kSettingsOffset = 0x3FC000;

struct Pipeline : test::FirmwareFixture {
  Pipeline() {
    verifyBuiltIn();
    // Settings and a paired controller that only a repair may take away.
    sim::DongleConfigBytes config = sim::loadSavedConfig(world.flash());
    config[8] = 30;
    sim::storeSavedConfig(world.flash(), config);
    sim::storePairing(world.flash(), true);
  }
  std::vector<std::uint8_t> settings() { return world.flash().read(kSettingsOffset, 16384); }
  FirmwareJob run(const std::string& action, bool confirm = false) {
    FirmwareRequest request;
    request.queued = true;
    EXPECT_TRUE(parseFirmwareAction(action, request.action)) << action;
    request.confirm = confirm;
    startedAt = clock.tickMs();
    firmware.runFirmwareJob(request);
    return job();
  }
  // The watcher's passes before the job, as the firmware thread makes them.
  void watchUntilRead() {
    for (int pass = 0; pass < 12; ++pass) {
      firmware.watchBoards();
      if (board().read != BoardRead::NotRead) return;
      clock.sleepMs(FirmwareSubsystem::kTurnWaitMs);
    }
  }
  bool dongleRunningOn(const std::string& version) {
    world.update();
    return world.dongleRunning() && world.dongle().firmwareVersion() == version;
  }
  std::uint64_t startedAt = 0;
};

struct Case {
  const char* name;
  std::function<void(Pipeline&)> setup;
  const char* action;
  bool confirm;
  const char* result;
  std::string message;       // msg, or error when failed
  const char* runningAfter;  // the dongle runs this afterwards; empty: not running
  bool settingsKept;
  bool flashUntouched = false;  // nothing erased or programmed, refused or not
};

TEST(InstallPipeline, EachActionOnEachBoardEndsTrue) {
  const auto oursOn = [](const char* version) {
    return [version](Pipeline& p) { p.world.plugBoard(sim::World::BoardSetup::ours(version)); };
  };
  const auto published = [](const char* version, std::function<void(Pipeline&)> then) {
    return [version, then](Pipeline& p) {
      p.releases.publish(version);
      then(p);
    };
  };
  // A file the toolchain built, published as `version`.
  const auto publishedFile = [](const char* version, const char* file,
                                std::function<void(Pipeline&)> then) {
    return [version, file, then](Pipeline& p) {
      p.releases.publish(version, test::readRealFirmware(file));
      then(p);
    };
  };
  const auto runningDongle = [](Pipeline& p) { p.world.plugDongle(); };
  const std::string notOurs =
      "That file isn't Tarnwick Bridge firmware (it says \xE2\x80\x9C"
      "blink-demo\xE2\x80\x9D). Nothing was changed.";
  const std::vector<Case> cases = {
      {"a real build of 0.9.7 onto a running dongle",
       publishedFile("0.9.7", test::kRealKorrinlink, runningDongle), "update", false, "ok",
       "Firmware 0.9.7 is on.", "0.9.7", true},
      {"a real build of 0.9.7 onto a board in update mode",
       publishedFile("0.9.7", test::kRealKorrinlink, oursOn("0.9.3")), "update", false, "ok",
       "Firmware 0.9.7 is on.", "0.9.7", true},
      {"another real program published as a newer version, the dongle running",
       publishedFile("0.9.8", test::kRealBlinkDemo, runningDongle), "update", false, "failed",
       notOurs, "0.9.3", true, true},
      {"another real program published as a newer version, a board in update mode",
       publishedFile("0.9.8", test::kRealBlinkDemo, oursOn("0.9.3")), "update", false, "failed",
       notOurs, "", true, true},
      {"an update from the update host onto a board in update mode",
       published("0.9.4", oursOn("0.9.3")), "update", false, "ok", "Firmware 0.9.4 is on.", "0.9.4",
       true},
      {"a repair clears settings and paired controllers", published("0.9.4", oursOn("0.9.4")),
       "repair", false, "ok", "Firmware 0.9.4 is on, and the dongle is starting fresh.", "0.9.4",
       false},
      {"an update the board already has is a restart", published("0.9.4", oursOn("0.9.4")),
       "update", false, "ok", "Restarted on 0.9.4.", "0.9.4", true},
      {"a restart", oursOn("0.9.2"), "restart", false, "ok", "Restarted on 0.9.2.", "0.9.2", true},
      {"a reinstall of what is there writes nothing and restarts",
       published("0.9.4", oursOn("0.9.4")), "reinstall", false, "ok", "Firmware 0.9.4 is on.",
       "0.9.4", true},
      {"a foreign board is left alone",
       published("0.9.4",
                 [](Pipeline& p) { p.world.plugBoard(sim::World::BoardSetup::foreign("blink")); }),
       "install", false, "failed",
       "This board runs \xE2\x80\x9C"
       "blink\xE2\x80\x9D, not Tarnwick firmware, so this app left "
       "it alone.",
       "", true},
      {"a foreign board is replaced when the person agreed",
       published("0.9.4",
                 [](Pipeline& p) { p.world.plugBoard(sim::World::BoardSetup::foreign("blink")); }),
       "install", true, "ok", "Firmware 0.9.4 is on.", "0.9.4", true},
      {"a blank board is written without asking",
       published("0.9.4", [](Pipeline& p) { p.world.plugBoard(sim::World::BoardSetup::blank()); }),
       "install", false, "ok", "Firmware 0.9.4 is on.", "0.9.4", true},
      {"a running dongle is switched over and comes back updated",
       published("0.9.4", [](Pipeline& p) { p.world.plugDongle(); }), "update", false, "ok",
       "Firmware 0.9.4 is on.", "0.9.4", true},
      {"without the update host the built-in image is installed", oursOn("0.9.1"), "install", false,
       "ok", "Firmware 0.9.3 is on.", "", true},
      {"without the update host there is nothing newer to update to",
       [](Pipeline& p) {
         p.world.plugBoard(sim::World::BoardSetup::ours("0.9.3"));
         p.watchUntilRead();
       },
       "update", false, "failed",
       std::string("Couldn't download the update: ") + UpdateHost +
           " didn't answer. Nothing was changed.",
       "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pipeline p;
    c.setup(p);
    const std::vector<std::uint8_t> before = p.settings();
    const FirmwareJob job = p.run(c.action, c.confirm);
    EXPECT_STREQ(resultWord(job.result), c.result) << job.error << " | " << job.tech;
    EXPECT_EQ(job.result == JobResult::Failed ? job.error : job.msg, c.message);
    const sim::BoardCounters counters = p.world.board().counters();
    EXPECT_EQ(counters.failedCommands, 0u);
    if (job.refused || c.flashUntouched) {
      EXPECT_EQ(counters.sectorsErased + counters.pagesProgrammed, 0u)
          << "a refused board was written";
    }
    if (*c.runningAfter != '\0') {
      EXPECT_TRUE(p.dongleRunningOn(c.runningAfter));
    }
    if (c.settingsKept) {
      EXPECT_EQ(p.settings(), before);
    } else {
      EXPECT_TRUE(allErased(p.settings()) || p.settings() != before);
    }
  }
}

}  // namespace
}  // namespace tw

namespace tw {
namespace {

// A running dongle that ignores the switch report: 0.9.0 and later get 15 s to switch before the
// person is asked, older ones 4 s; then the button wait of ten minutes runs out.
TEST(InstallPipeline, ADongleThatDoesNotSwitchGetsItsWaitThenTheButtonRequest) {
  struct Case {
    const char* version;
    std::uint64_t switchWaitMs;
    const char* detail;
  };
  const Case cases[] = {
      {"0.9.1", 15000,
       "It didn't switch over on its own. If triple-clicking does nothing either, unplug the "
       "dongle, hold its button down and plug it back in."},
      {"0.8.5", 4000,
       "Firmware 0.8.5 can't switch itself over, so it needs a hand. If triple-clicking does "
       "nothing, unplug the dongle, hold its button down and plug it back in."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    Pipeline p;
    p.world.plugBoard(sim::World::BoardSetup::ours(c.version).only(false, false));
    p.world.unplugDongle();
    p.world.plugDongle();
    ASSERT_TRUE(p.dongleRunningOn(c.version));
    p.world.dongle().faults.always("set-feature", sim::FaultKind::Fail);
    const FirmwareJob job = p.run("install");
    EXPECT_EQ(job.error, "The dongle never showed up in update mode, so nothing was changed.");
    EXPECT_EQ(job.detail, c.detail);
    // The 600000 ms button wait after the switch wait, give or take a poll and the preparations.
    const std::uint64_t elapsed = p.clock.tickMs() - p.startedAt;
    EXPECT_GE(elapsed, c.switchWaitMs + 600000);
    EXPECT_LT(elapsed, c.switchWaitMs + 600000 + 2000);
  }
}

}  // namespace
}  // namespace tw
