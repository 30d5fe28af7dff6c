// What the install leaves behind when the board fails it. For every PICOBOOT command of an update
// and of a repair, one run in which the board answers that command with an error, one in which
// its pipes stall there, and one in which it leaves the bus there; each with and without its
// RP2350 drive. Whatever happens, the job must tell the truth about the board, and a board left
// alone must never start half an image. Then the drive copy's own faults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware_fixture.h"
#include "sim/dongle_settings.h"
#include "sim/firmware_builder.h"
#include "sim/flash_image_info.h"

namespace tw {
namespace {

using test::allErased;

constexpr std::uint32_t kImageSize = 40 * 4096;  // three 64 KB blocks, the last one partly
constexpr std::uint32_t kSettingsOffset = 0x3FC000;
constexpr std::uint32_t kSettingsSize = 16384;

std::vector<std::uint8_t> image(const char* version) {
  sim::FirmwareRecipe recipe;
  recipe.version = version;
  recipe.size = kImageSize;
  std::vector<std::uint8_t> bytes = sim::makeFirmwareImage(recipe);
  if (std::string(version) == "0.9.4") {
    // Besides the declared version, a few runs of changed code, one of them across two blocks.
    for (std::uint32_t sector : {3u, 4u, 15u, 16u, 17u, 30u}) bytes[sector * 4096 + 700] ^= 0x5A;
  }
  return bytes;
}

struct Board : test::FirmwareFixture {
  // `current`: the board holds the published image already, so a repair only clears settings.
  Board(bool withDrive, bool current = false)
      : oldImage(image(current ? "0.9.4" : "0.9.3")), newImage(image("0.9.4")) {
    verifyBuiltIn();
    world.plugBoard(sim::World::BoardSetup::ours("0.9.3").only(true, withDrive));
    world.flash().eraseAll();
    sim::writeImage(world.flash(), oldImage);
    sim::DongleConfigBytes config = sim::loadSavedConfig(world.flash());
    config[8] = 30;
    sim::storeSavedConfig(world.flash(), config);
    sim::storePairing(world.flash(), true);
    releases.publish("0.9.4", sim::makeUf2(newImage));
    flashBefore = world.flash().read(0, kSettingsOffset + kSettingsSize);
  }
  FirmwareJob run(const std::string& action) {
    FirmwareRequest request;
    EXPECT_TRUE(parseFirmwareAction(action, request.action)) << action;
    firmware.runFirmwareJob(request);
    return job();
  }
  std::uint32_t commandsSent() {
    std::uint32_t total = 0;
    for (const auto& [id, count] : world.board().counters().commands) total += count;
    return total;
  }
  std::vector<std::uint8_t> imageNow() { return world.flash().read(0, kImageSize); }
  std::vector<std::uint8_t> settingsNow() {
    return world.flash().read(kSettingsOffset, kSettingsSize);
  }
  std::vector<std::uint8_t> settingsBefore() {
    return {flashBefore.begin() + kSettingsOffset, flashBefore.end()};
  }

  std::vector<std::uint8_t> oldImage;
  std::vector<std::uint8_t> newImage;
  std::vector<std::uint8_t> flashBefore;
};

bool saysNothingChanged(const FirmwareJob& job) {
  return job.error.find("othing was changed") != std::string::npos ||
         job.error.find("nothing on it was changed") != std::string::npos;
}

// The truth about the board after a job, whatever broke.
void expectTrueEnding(Board& b, const std::string& action) {
  const FirmwareJob job = b.job();
  const std::vector<std::uint8_t> now = b.world.flash().read(0, kSettingsOffset + kSettingsSize);
  const std::vector<std::uint8_t> imageNow = b.imageNow();
  const sim::FlashImageInfo boots = sim::inspectFlash(b.world.flash());
  if (job.result == JobResult::Ok) {
    EXPECT_EQ(imageNow, b.newImage) << "done, yet the new image is not all there";
    EXPECT_EQ(job.installed, "0.9.4");
  } else if (job.refused) {
    // A board the job could not read before writing is left as it was.
    EXPECT_EQ(job.error,
              "This board couldn't be read, so this app can't tell whose firmware it holds and "
              "left it alone.");
    EXPECT_EQ(now, b.flashBefore);
  } else {
    ASSERT_EQ(job.result, JobResult::Failed);
    EXPECT_FALSE(job.tech.empty());
    if (b.oldImage == b.newImage) {
      // Nothing of the image was sent, whatever the settings went through.
      EXPECT_EQ(job.error.find("partway"), std::string::npos) << job.error;
    }
    if (saysNothingChanged(job)) {
      EXPECT_EQ(now, b.flashBefore) << "said nothing was changed: " << job.error;
    } else if (boots.bootable) {
      // Whatever starts must be whole: the old image or the new one, never a mix.
      EXPECT_TRUE(imageNow == b.oldImage || imageNow == b.newImage)
          << "a partial image would start: " << job.error << " | " << job.tech;
    }
  }
  if (action == "repair" && job.result == JobResult::Ok) {
    // Settings cleared over PICOBOOT stay cleared when the drive copy finishes the job: nobody
    // is sent to clear them by hand. Only a drive copy that found them kept says so.
    if (allErased(b.settingsNow())) {
      EXPECT_EQ(job.msg, "Firmware 0.9.4 is on, and the dongle is starting fresh.");
      EXPECT_EQ(job.detail.find("couldn't be cleared"), std::string::npos) << job.detail;
    } else {
      EXPECT_EQ(job.msg, "Firmware 0.9.4 is on.");
      EXPECT_NE(job.detail.find("couldn't be cleared this way"), std::string::npos) << job.detail;
    }
  } else if (action != "repair") {
    EXPECT_EQ(b.settingsNow(), b.settingsBefore()) << "settings lost: " << job.tech;
  }
}

TEST(InstallFaults, EveryPicobootCommandCanFailAndTheBoardIsStillTrue) {
  struct Setup {
    const char* action;
    bool withDrive;
    bool current = false;
  };
  for (const Setup setup : {Setup{"update", true}, Setup{"update", false}, Setup{"repair", false},
                            Setup{"repair", true}, Setup{"repair", false, true}}) {
    std::uint32_t commands = 0;
    {
      Board clean(setup.withDrive, setup.current);
      const std::uint32_t before = clean.commandsSent();
      const FirmwareJob job = clean.run(setup.action);
      ASSERT_EQ(job.result, JobResult::Ok) << job.error << " | " << job.tech;
      commands = clean.commandsSent() - before;
      // The board refuses what its boot ROM refuses; a clean install meets no refusal.
      EXPECT_EQ(clean.world.board().counters().failedCommands, 0u);
      expectTrueEnding(clean, setup.action);
    }
    ASSERT_GT(commands, 10u);
    for (std::uint32_t n = 1; n <= commands; ++n) {
      for (const char* fault : {"status", "stall", "unplug"}) {
        SCOPED_TRACE(std::string(setup.action) +
                     (setup.withDrive ? " with drive" : " without drive") + ", command " +
                     std::to_string(n) + " of " + std::to_string(commands) + ": " + fault);
        Board b(setup.withDrive, setup.current);
        sim::FaultPlan& faults = b.world.board().faults;
        if (std::string(fault) == "status") faults.inject("command", sim::FaultKind::Fail, n);
        if (std::string(fault) == "stall") faults.inject("command", sim::FaultKind::Stall, n);
        if (std::string(fault) == "unplug")
          faults.inject("unplug-at-command", sim::FaultKind::Fail, n);
        b.run(setup.action);
        expectTrueEnding(b, setup.action);
        if (HasFailure()) return;
      }
    }
  }
}

}  // namespace
}  // namespace tw
