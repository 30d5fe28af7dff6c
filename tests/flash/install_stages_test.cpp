// The install stages one at a time, as the pipeline sees them: how each says it ended, and the
// facts it hands on that the later stages and the job's ending are decided from.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "flash/write_bench.h"
#include "sim/uf2_drive_volume.h"

namespace tw {
namespace {

using test::WriteBench;

struct WriteCase {
  const char* name;
  std::function<void(WriteBench&)> setup;
  bool repair;
  StageEnd end;
  bool imageChanged;
  bool settingsCleared;
  const char* techStart;  // Failed: how the technical line begins
};

TEST(InstallStages, TheWriteSaysWhetherItWroteFoundNothingToWriteOrFailedAndWhatItChanged) {
  const std::vector<WriteCase> cases = {
      {"a blank board", [](WriteBench&) {}, false, StageEnd::Written, true, false, nullptr},
      {"the image already there", [](WriteBench& b) { b.boardHoldsImageBut({}); }, false,
       StageEnd::NothingToWrite, false, false, nullptr},
      {"a repair onto the image already there", [](WriteBench& b) { b.boardHoldsImageBut({}); },
       true, StageEnd::Written, false, true, nullptr},
      {"one sector behind", [](WriteBench& b) { b.boardHoldsImageBut({7}); }, false,
       StageEnd::Written, true, false, nullptr},
      {"an interface that won't open",
       [](WriteBench& b) { b.world.board().faults.always("open", sim::FaultKind::Fail); }, false,
       StageEnd::Failed, false, false, "couldn't open the dongle's update interface"},
      {"a sector that never keeps what is written",
       [](WriteBench& b) {
         b.world.board().flashFaults().always("program@10005000", sim::FaultKind::Fail);
       },
       false, StageEnd::Failed, true, false, "the dongle didn't keep what was written"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBench bench;
    c.setup(bench);
    const BoardWritten& written = bench.run(true, c.repair);
    EXPECT_EQ(written.result.end, c.end) << written.result.tech;
    EXPECT_EQ(written.imageChanged, c.imageChanged);
    EXPECT_EQ(written.settingsErasing, c.repair);
    EXPECT_EQ(written.settingsCleared, c.settingsCleared);
    // What the write changed is what makes the job forget what it read of the board.
    EXPECT_EQ(written.changedBoard(), c.imageChanged || c.repair);
    EXPECT_TRUE(written.result.error.empty());
    if (c.techStart != nullptr) {
      EXPECT_EQ(written.result.tech.rfind(c.techStart, 0), 0u) << written.result.tech;
    }
    if (c.end == StageEnd::NothingToWrite) {
      EXPECT_TRUE(bench.world.board().counters().flashLog.empty());
    }
  }
}

// One stage on a world holding a board in update mode, and nothing else.
struct StageBench {
  explicit StageBench(const sim::World::BoardSetup& setup) {
    world.plugBoard(setup);
    sim::mountBoardDrive(world, files);
  }
  sim::VirtualClock clock{0x5A17};
  sim::World world{clock, test::boardOnly()};
  sim::SimFileSystem files{clock};
  DongleLink dongle{world.hid()};
  InstallPorts ports{PicobootPorts{world.usb(), clock}, files, dongle, {}, {}};
  FirmwareStore store;
  std::atomic<bool> stop{false};
  FirmwareJobContext job{store, clock, stop};
};

struct InspectCase {
  const char* name;
  sim::World::BoardSetup board;
  FirmwareAction action;
  bool confirm;
  bool broughtByJob;
  StageEnd end;
  BoardPlan plan;
  const char* version;  // what the board said it runs, when ours
  BoardRead read;
};

TEST(InstallStages, TheInspectionSaysWhatMayBeDoneWithTheBoard) {
  using Setup = sim::World::BoardSetup;
  const auto held = [] { return Setup::ours("0.9.1").heldBy(170); };
  const auto driveOnly = [] { return Setup::ours("0.9.1").only(false, true); };
  const std::vector<InspectCase> cases = {
      {"an older one of ours", Setup::ours("0.9.1"), FirmwareAction::Update, false, false,
       StageEnd::Done, BoardPlan::Write, "0.9.1", BoardRead::Read},
      {"ours on the target", Setup::ours("0.9.3"), FirmwareAction::Update, false, false,
       StageEnd::Done, BoardPlan::AlreadyCurrent, "0.9.3", BoardRead::Read},
      {"ours ahead, installed anyway", Setup::ours("0.9.4"), FirmwareAction::Install, false, false,
       StageEnd::Done, BoardPlan::Write, "0.9.4", BoardRead::Read},
      {"a restart", Setup::ours("0.9.3"), FirmwareAction::Restart, false, false, StageEnd::Done,
       BoardPlan::Restart, "0.9.3", BoardRead::Read},
      {"a blank board", Setup::blank(), FirmwareAction::Install, false, false, StageEnd::Done,
       BoardPlan::Write, "", BoardRead::Read},
      {"someone else's", Setup::foreign("blink"), FirmwareAction::Install, false, false,
       StageEnd::Refused, BoardPlan::Write, "", BoardRead::Read},
      {"someone else's, agreed", Setup::foreign("blink"), FirmwareAction::Install, true, false,
       StageEnd::Done, BoardPlan::Write, "", BoardRead::Read},
      {"only its drive", driveOnly(), FirmwareAction::Install, false, false, StageEnd::Refused,
       BoardPlan::Write, "", BoardRead::NotRead},
      {"only its drive, brought by the job", driveOnly(), FirmwareAction::Install, false, true,
       StageEnd::Done, BoardPlan::Write, "", BoardRead::NotRead},
      {"held by another program", held(), FirmwareAction::Install, false, false, StageEnd::Refused,
       BoardPlan::Write, "", BoardRead::Busy},
      {"held, brought by the job", held(), FirmwareAction::Install, false, true, StageEnd::Done,
       BoardPlan::Write, "", BoardRead::Busy},
  };
  for (const InspectCase& c : cases) {
    SCOPED_TRACE(c.name);
    StageBench bench(c.board);
    const BoardFound found =
        inspectBoard(bench.job, bench.ports, {c.action, c.confirm, c.broughtByJob, "0.9.3"});
    EXPECT_EQ(found.result.end, c.end) << found.result.error;
    EXPECT_EQ(found.result.end == StageEnd::Refused, !found.result.error.empty());
    if (c.end == StageEnd::Done) {
      EXPECT_EQ(found.plan, c.plan);
    }
    EXPECT_EQ(found.version, c.version);
    EXPECT_EQ(found.read, c.read);
    EXPECT_FALSE(found.drive.empty());
  }
}

struct NoCopyCase {
  const char* name;
  bool imageChanged;
  bool settingsErasing;
  bool boardBusy;
  const char* error;
};

TEST(InstallStages, WithoutADriveTheCopySaysWhatTheFailedWriteLeftBehind) {
  const std::vector<NoCopyCase> cases = {
      {"the image partly written", true, true, true,
       "The firmware only got partway onto the dongle."},
      {"only the settings erase sent", false, true, true,
       "The firmware on the dongle is whole, but its settings couldn't be cleared. Press Try "
       "again, or hold the dongle's button for two seconds to forget paired controllers."},
      {"a board another program holds", false, false, true,
       "Another program is using the dongle's update connection, so nothing was changed. Close "
       "it and press Try again."},
      {"nothing sent", false, false, false,
       "The dongle didn't take the update, so nothing on it was changed."},
  };
  for (const NoCopyCase& c : cases) {
    SCOPED_TRACE(c.name);
    StageBench bench(sim::World::BoardSetup::ours().only(true, false));
    BoardWritten before;
    before.result = StageResult::failed({}, "USB write to the dongle failed (stalled)");
    before.imageChanged = c.imageChanged;
    before.settingsErasing = c.settingsErasing;
    const std::uint8_t file[512] = {};
    const DriveCopied copied =
        copyToDrive(bench.job, bench.files, {file, sizeof file, "", true, c.boardBusy, before});
    EXPECT_EQ(copied.result.end, StageEnd::Failed);
    EXPECT_EQ(copied.result.error, c.error);
    EXPECT_EQ(copied.result.tech, "USB write to the dongle failed (stalled)");
  }
}

}  // namespace
}  // namespace tw
