// The fallback onto the RP2350 drive when the board's PICOBOOT interface cannot be used: the board
// takes the file and comes back, a copy that breaks off, a drive that vanishes with the last
// chunk, and a drive that never goes away.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "firmware_fixture.h"
#include "sim/firmware_builder.h"
#include "sim/flash_image_info.h"

namespace tw {
namespace {

constexpr std::uint32_t kImageSize = 40 * 4096;  // a 327680-byte UF2 file: ten chunks

struct DriveBoard : test::FirmwareFixture {
  DriveBoard() {
    verifyBuiltIn();
    sim::FirmwareRecipe recipe;
    recipe.version = "0.9.4";
    recipe.size = kImageSize;
    uf2 = sim::makeUf2(sim::makeFirmwareImage(recipe));
    releases.publish("0.9.4", uf2);
    world.plugBoard(sim::World::BoardSetup::ours("0.9.3"));
    // WinUSB never lets this app in; the drive is the only way.
    world.board().faults.always("open", sim::FaultKind::Fail);
  }
  FirmwareJob run(const std::string& action) {
    FirmwareRequest request;
    request.action = action;
    // A board that could not be read is written only when the person agreed.
    request.confirm = true;
    firmware.runFirmwareJob(request);
    return job();
  }
  std::vector<std::uint8_t> uf2;
};

constexpr char kOpenFailed[] = "couldn't open the dongle's update interface (open failed";

TEST(InstallDriveCopy, TheDriveTakesOverWhenTheDirectWriteCannot) {
  struct Case {
    const char* name;
    const char* action;
    std::function<void(DriveBoard&)> fault;
    const char* result;
    const char* techEnd;  // how the technical text ends, for a failure
    const char* detail;
  };
  const char* copying =
      "The direct write didn't work, so this app is copying the firmware onto the RP2350 drive "
      "instead.";
  const std::vector<Case> cases = {
      {"the board takes the file and comes back", "update", [](DriveBoard&) {}, "ok", "", ""},
      {"a repair cannot clear the settings this way", "repair", [](DriveBoard&) {}, "ok", "",
       "The firmware is reinstalled, but its settings couldn't be cleared this way. Hold the "
       "dongle's button for two seconds to forget paired controllers."},
      {"the copy breaks off", "update",
       [](DriveBoard& b) {
         b.world.boardDrive()->faults.inject("drive-write", sim::FaultKind::Fail, 3);
       },
       "failed", "; drive copy: the copy stopped at 19% (Windows error 29)", copying},
      {"the drive vanishes halfway", "update",
       [](DriveBoard& b) {
         b.world.boardDrive()->faults.inject("drive-write", sim::FaultKind::Stall, 6);
       },
       "failed", "; drive copy: the copy stopped at 49% (Windows error 21)", copying},
      {"the drive vanishes with the last chunk", "update",
       [](DriveBoard& b) {
         // The boot sector's blanking block goes first: eleven chunks.
         b.world.boardDrive()->faults.inject("drive-write", sim::FaultKind::Stall, 11);
       },
       "ok", "", "Turn your controller on and the Bridge will pick it up."},
      {"the drive never goes away", "update",
       [](DriveBoard& b) {
         b.world.boardDrive()->faults.always("drive-write", sim::FaultKind::Busy);
       },
       "failed", "; drive copy: the RP2350 drive is still there, so the copy didn't take", copying},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveBoard b;
    c.fault(b);
    const FirmwareJob job = b.run(c.action);
    EXPECT_EQ(job.result, c.result) << job.error << " | " << job.tech;
    EXPECT_EQ(job.detail, c.detail);
    if (job.result == "ok") {
      EXPECT_EQ(job.installed, "0.9.4");
      // All of it with the blanking block, or all but that last 512-byte chunk when the board
      // went with it.
      const std::uint64_t written = b.world.board().counters().driveBytesWritten;
      EXPECT_TRUE(written == b.uf2.size() + 512 || written == b.uf2.size()) << written;
    } else {
      EXPECT_EQ(job.error,
                "The dongle didn't take the firmware, and copying it onto its RP2350 drive didn't "
                "work either.");
      EXPECT_EQ(job.tech.rfind(kOpenFailed, 0), 0u) << job.tech;
      const std::string end = c.techEnd;
      EXPECT_EQ(job.tech.substr(job.tech.size() - std::min(job.tech.size(), end.size())), end);
      // A copy that broke off leaves a board that starts nothing, never half of each image.
      if (job.tech.find("the copy stopped at") != std::string::npos) {
        EXPECT_TRUE(sim::inspectFlash(b.world.flash()).bootSectorErased);
      }
    }
  }
}

}  // namespace
}  // namespace tw
