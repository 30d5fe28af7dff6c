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
  Board(bool withDrive) : oldImage(image("0.9.3")), newImage(image("0.9.4")) {
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
    request.action = action;
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

bool allErased(const std::vector<std::uint8_t>& bytes) {
  for (std::uint8_t b : bytes) {
    if (b != 0xFF) return false;
  }
  return true;
}

// The truth about the board after a job, whatever broke.
void expectTrueEnding(Board& b, const std::string& action) {
  const FirmwareJob job = b.job();
  const std::vector<std::uint8_t> now = b.world.flash().read(0, kSettingsOffset + kSettingsSize);
  const std::vector<std::uint8_t> imageNow = b.imageNow();
  const sim::FlashImageInfo boots = sim::inspectFlash(b.world.flash());
  if (job.result == "ok") {
    EXPECT_EQ(imageNow, b.newImage) << "done, yet the new image is not all there";
    EXPECT_EQ(job.installed, "0.9.4");
  } else {
    ASSERT_EQ(job.result, "failed");
    EXPECT_FALSE(job.refused) << job.error;
    EXPECT_FALSE(job.tech.empty());
    if (saysNothingChanged(job)) {
      EXPECT_EQ(now, b.flashBefore) << "said nothing was changed: " << job.error;
    } else if (boots.bootable) {
      // Whatever starts must be whole: the old image or the new one, never a mix.
      EXPECT_TRUE(imageNow == b.oldImage || imageNow == b.newImage)
          << "a partial image would start: " << job.error << " | " << job.tech;
    }
  }
  if (action == "repair" && job.result == "ok") {
    EXPECT_TRUE(allErased(b.settingsNow()));
  } else if (action != "repair") {
    EXPECT_EQ(b.settingsNow(), b.settingsBefore()) << "settings lost: " << job.tech;
  }
}

TEST(InstallFaults, EveryPicobootCommandCanFailAndTheBoardIsStillTrue) {
  struct Setup {
    const char* action;
    bool withDrive;
  };
  for (const Setup setup :
       {Setup{"update", true}, Setup{"update", false}, Setup{"repair", false}}) {
    std::uint32_t commands = 0;
    {
      Board clean(setup.withDrive);
      const std::uint32_t before = clean.commandsSent();
      const FirmwareJob job = clean.run(setup.action);
      ASSERT_EQ(job.result, "ok") << job.error << " | " << job.tech;
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
        Board b(setup.withDrive);
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
