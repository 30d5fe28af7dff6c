// What the install pipeline leaves behind, checked on the world rather than on the job's texts:
// the version the board really holds and runs, the settings a repair erased, a running 0.8 dongle
// switched over by its report, a busy board read again, a release that fails its checks replaced by
// the built-in image, a drive copy that brings back another version, and a restart asked for while
// only a running dongle is there.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "firmware_fixture.h"
#include "sim/dongle_settings.h"
#include "sim/firmware_builder.h"
#include "sim/flash_image_info.h"

namespace tw {
namespace {

using test::allErased;

constexpr std::uint32_t kSettingsOffset = 0x3FC000;

struct Outcome : test::FirmwareFixture {
  Outcome() {
    verifyBuiltIn();
    sim::DongleConfigBytes config = sim::loadSavedConfig(world.flash());
    config[8] = 30;
    sim::storeSavedConfig(world.flash(), config);
    sim::storePairing(world.flash(), true);
  }
  FirmwareJob run(const std::string& action, bool confirm = false) {
    FirmwareRequest request;
    request.queued = true;
    EXPECT_TRUE(parseFirmwareAction(action, request.action)) << action;
    request.confirm = confirm;
    startedAt = clock.tickMs();
    firmware.runFirmwareJob(request);
    return job();
  }
  std::string runningVersion() {
    world.update();
    return world.dongleRunning() ? world.dongle().firmwareVersion() : "";
  }
  // A running dongle on `version`, from its own flash.
  void runningDongleOn(const char* version) {
    world.plugBoard(sim::World::BoardSetup::ours(version).only(false, false));
    world.unplugDongle();
    world.plugDongle();
  }
  std::uint64_t startedAt = 0;
};

struct OutcomeCase {
  const char* name;
  std::function<void(Outcome&)> setup;
  const char* action;
  const char* result;
  const char* flashVersion;  // what the board's flash declares afterwards
  // The dongle runs it afterwards. The built-in image of test builds is a data image that no
  // board boots, so a board given it comes back in update mode.
  bool runs;
  bool settingsErased;
  const char* from = nullptr;  // the version the job read on the board, when it matters
};

TEST(InstallOutcome, TheWorldShowsWhatTheJobSays) {
  const auto oursOn = [](const char* version) {
    return [version](Outcome& o) { o.world.plugBoard(sim::World::BoardSetup::ours(version)); };
  };
  const auto releaseFault = [](sim::ReleaseFault fault) {
    return [fault](Outcome& o) {
      o.releases.publish("0.9.4");
      o.releases.setFault(fault);
      o.world.plugBoard(sim::World::BoardSetup::ours("0.9.1"));
    };
  };
  const std::vector<OutcomeCase> cases = {
      {"without the update host the built-in image goes on", oursOn("0.9.1"), "install", nullptr,
       "0.9.3", false, false},
      {"a repair leaves the settings area erased",
       [](Outcome& o) {
         o.releases.publish("0.9.4");
         o.world.plugBoard(sim::World::BoardSetup::ours("0.9.4"));
       },
       "repair", "ok", "0.9.4", true, true},
      // 0.8 firmware gets the switch report too, only with a shorter wait; it switches, so the
      // job never waits for the button.
      {"a running 0.8.5 dongle is switched over by its report",
       [](Outcome& o) {
         o.releases.publish("0.9.4");
         o.runningDongleOn("0.8.5");
       },
       "install", "ok", "0.9.4", true, false},
      {"a board another program holds is read again after its wait",
       [](Outcome& o) {
         o.releases.publish("0.9.4");
         o.world.plugBoard(sim::World::BoardSetup::ours("0.9.1"));
         o.world.board().faults.inject("open", sim::FaultKind::Busy);
       },
       "install", "ok", "0.9.4", true, false, "0.9.1"},
      {"a release of the wrong size gives way to the built-in image",
       releaseFault(sim::ReleaseFault::WrongSize), "update", nullptr, "0.9.3", false, false},
      {"a release with another digest gives way to the built-in image",
       releaseFault(sim::ReleaseFault::WrongDigest), "update", nullptr, "0.9.3", false, false},
      {"an unsigned release gives way to the built-in image",
       releaseFault(sim::ReleaseFault::NoSignature), "update", nullptr, "0.9.3", false, false},
      {"a release signed by a stranger gives way to the built-in image",
       releaseFault(sim::ReleaseFault::OtherKey), "update", nullptr, "0.9.3", false, false},
      {"a release cut short gives way to the built-in image",
       releaseFault(sim::ReleaseFault::CutShort), "update", nullptr, "0.9.3", false, false},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o;
    c.setup(o);
    const std::vector<std::uint8_t> before = o.world.flash().read(kSettingsOffset, 16384);
    const FirmwareJob job = o.run(c.action);
    if (c.result != nullptr) {
      EXPECT_STREQ(resultWord(job.result), c.result) << job.error << " | " << job.tech;
    }
    if (c.from != nullptr) {
      EXPECT_EQ(job.from, c.from);
    }
    const sim::FlashImageInfo info = sim::inspectFlash(o.world.flash());
    EXPECT_EQ(info.program, "korrinlink");
    EXPECT_EQ(info.version, c.flashVersion);
    EXPECT_EQ(o.runningVersion(), c.runs ? c.flashVersion : "");
    EXPECT_EQ(o.world.boardInUpdateMode(), !c.runs);
    // No button wait: a switch report that was never sent costs ten minutes.
    EXPECT_LT(o.clock.tickMs() - o.startedAt, 120000u);
    const std::vector<std::uint8_t> settings = o.world.flash().read(kSettingsOffset, 16384);
    if (c.settingsErased) {
      EXPECT_TRUE(allErased(settings));
    } else {
      EXPECT_EQ(settings, before);
    }
  }
}

TEST(InstallOutcome, ADriveCopyThatBringsBackAnotherVersionSaysSo) {
  Outcome o;
  // The list names 0.9.4, but the file inside declares 0.9.5.
  sim::FirmwareRecipe recipe;
  recipe.version = "0.9.5";
  recipe.size = 40 * 4096;
  o.releases.publish("0.9.4", sim::makeUf2(sim::makeFirmwareImage(recipe)));
  o.world.plugBoard(sim::World::BoardSetup::ours("0.9.3"));
  o.world.board().faults.always("open", sim::FaultKind::Fail);  // the drive is the only way in
  // A board that can't be read is written only with the person's agreement.
  const FirmwareJob job = o.run("update", true);
  EXPECT_EQ(job.result, JobResult::Failed);
  EXPECT_EQ(job.error,
            "The dongle came back on 0.9.5 instead of 0.9.4. Try again, or use Reset everything.");
  EXPECT_EQ(o.runningVersion(), "0.9.5");
}

TEST(InstallOutcome, ARestartIsRefusedWhileOnlyARunningDongleIsThere) {
  Outcome o;
  o.runningDongleOn("0.9.1");
  o.firmware.reportDongle(true, "0.9.1");
  std::string refusal;
  EXPECT_FALSE(o.firmware.startFirmwareAction("restart", false, refusal));
  EXPECT_EQ(refusal, "Nothing to restart: no dongle is in update mode.");
  EXPECT_FALSE(o.queued());
  EXPECT_EQ(o.runningVersion(), "0.9.1");
}

}  // namespace
}  // namespace tw
