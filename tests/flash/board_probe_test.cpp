// The one-page flash cache and the board probe against the simulated board.
#include "flash/board_probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "flash/board_bench.h"

namespace tw {
namespace {

using test::BoardBench;

std::uint32_t reads(BoardBench& bench) {
  return bench.board().counters().commands[kPicobootRead];
}

class FlashPageReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bench.open(device);
    ASSERT_TRUE(exitXip(device));
    reader.device = &device;
  }

  BoardBench bench;
  PicobootDevice device;
  FlashPageReader reader;
};

TEST_F(FlashPageReaderTest, ReadsEachPageOnceAcrossABoundary) {
  std::uint8_t bytes[8];
  ASSERT_TRUE(readFlashCached(&reader, 0x10000FFC, bytes, sizeof bytes));
  EXPECT_EQ(reads(bench), 2u);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 8), bench.flash(0x10000FFC, 8));

  // The second page is the one held now; the first has to be read again.
  ASSERT_TRUE(readFlashCached(&reader, 0x10001100, bytes, 4));
  EXPECT_EQ(reads(bench), 2u);
  ASSERT_TRUE(readFlashCached(&reader, 0x10000000, bytes, 4));
  EXPECT_EQ(reads(bench), 3u);

  std::vector<std::uint8_t> span(3 * 4096 + 16);
  ASSERT_TRUE(readFlashCached(&reader, 0x10000FF8, span.data(), span.size()));
  EXPECT_EQ(span, bench.flash(0x10000FF8, span.size()));
}

TEST_F(FlashPageReaderTest, RefusesPagesOutsideTheFlashWindowWithoutTraffic) {
  std::uint32_t writes = bench.faults().calls("write-pipe");
  std::uint8_t bytes[8];
  EXPECT_FALSE(readFlashCached(&reader, 0x11000000, bytes, sizeof bytes));
  EXPECT_FALSE(readFlashCached(&reader, 0x0FFFFFFC, bytes, sizeof bytes));
  EXPECT_FALSE(readFlashCached(&reader, 0xFFFFFFFC, bytes, sizeof bytes));
  EXPECT_TRUE(readFlashCached(&reader, 0x11000000, bytes, 0));
  EXPECT_EQ(bench.faults().calls("write-pipe"), writes);
  EXPECT_EQ(reads(bench), 0u);
}

TEST_F(FlashPageReaderTest, AFailedReadLeavesNothingCached) {
  std::uint8_t bytes[16];
  ASSERT_TRUE(readFlashCached(&reader, 0x10000100, bytes, sizeof bytes));
  bench.faults().inject("read-pipe", sim::FaultKind::Fail);
  EXPECT_FALSE(readFlashCached(&reader, 0x10001200, bytes, sizeof bytes));
  EXPECT_FALSE(reader.valid);
  ASSERT_TRUE(readFlashCached(&reader, 0x10000100, bytes, sizeof bytes));
  EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 16), bench.flash(0x10000100, 16));
}

struct ProbeCase {
  const char* name;
  void (*prepare)(BoardBench&);
  BoardRead result;
  const char* program;
  const char* version;
  bool blank;
  const char* why;  // the start of the failure line
};

void plugWith(BoardBench& bench, const sim::FirmwareRecipe& recipe) {
  sim::writeImage(bench.world.flash(), sim::makeFirmwareImage(recipe));
  bench.world.plugInUpdateMode();
}

sim::World::BoardSetup held(std::uint32_t error) {
  sim::World::BoardSetup setup;
  setup.heldError = error;
  return setup;
}

const ProbeCase kProbeCases[] = {
    {"ours", [](BoardBench& b) { b.world.plugBoard({}); }, BoardRead::Read, "korrinlink", "0.9.3",
     false, ""},
    {"foreign",
     [](BoardBench& b) {
       sim::World::BoardSetup setup;
       setup.firmware = sim::World::BoardFirmware::Foreign;
       setup.program = "blinky";
       setup.version = "2.1";
       b.world.plugBoard(setup);
     },
     BoardRead::Read, "blinky", "2.1", false, ""},
    {"unnamed",
     [](BoardBench& b) {
       sim::FirmwareRecipe recipe;
       recipe.program = "";
       recipe.version = "1.4";
       plugWith(b, recipe);
     },
     BoardRead::Read, "", "1.4", false, ""},
    {"no program information",
     [](BoardBench& b) {
       sim::FirmwareRecipe recipe;
       recipe.binaryInfo = false;
       plugWith(b, recipe);
     },
     BoardRead::Read, "", "", false, ""},
    {"blank",
     [](BoardBench& b) {
       sim::World::BoardSetup setup;
       setup.firmware = sim::World::BoardFirmware::Blank;
       b.world.plugBoard(setup);
     },
     BoardRead::Read, "", "", true, ""},
    {"erased but for the last byte of the first page",
     [](BoardBench& b) {
       sim::World::BoardSetup setup;
       setup.firmware = sim::World::BoardFirmware::Blank;
       b.world.plugBoard(setup);
       std::uint8_t page[256];
       std::memset(page, 0xFF, sizeof page);
       page[255] = 0xFE;
       b.world.flash().programPage(0xF00, page, sizeof page);
     },
     BoardRead::Read, "", "", false, ""},
    {"unreadable",
     [](BoardBench& b) {
       b.world.plugBoard({});
       b.board().failCommand(kPicobootRead, 4, 1, 100);
     },
     BoardRead::Failed, "", "", false, "read failed: invalid address (Windows error 31)"},
    {"exit xip refused",
     [](BoardBench& b) {
       b.world.plugBoard({});
       // Twice: a probe that skipped the interface reset tries once more after the recovery.
       b.board().failCommand(kPicobootExitXip, 10, 1, 2);
     },
     BoardRead::Failed, "", "", false, "exit xip failed: not permitted (Windows error 31)"},
    {"interface reset refused",
     [](BoardBench& b) {
       b.world.plugBoard({});
       b.faults().always("control", sim::FaultKind::Fail);
     },
     BoardRead::Failed, "", "", false, "reset failed"},
    {"open fails",
     [](BoardBench& b) {
       b.world.plugBoard({});
       b.faults().inject("open", sim::FaultKind::Fail);
     },
     BoardRead::Failed, "", "", false, "open failed (Windows error 31)"},
    {"busy", [](BoardBench& b) { b.world.plugBoard(held(170)); }, BoardRead::Busy, "", "", false,
     "open failed (Windows error 170)"},
    {"shared", [](BoardBench& b) { b.world.plugBoard(held(32)); }, BoardRead::Busy, "", "", false,
     "open failed (Windows error 32)"},
    {"denied", [](BoardBench& b) { b.world.plugBoard(held(5)); }, BoardRead::Busy, "", "", false,
     "open failed (Windows error 5)"},
};

TEST(BoardProbe, TellsWhatTheBoardCarriesAndNeverChangesIt) {
  for (const ProbeCase& c : kProbeCases) {
    SCOPED_TRACE(c.name);
    BoardBench bench;
    c.prepare(bench);
    bench.board().resetCounters();
    std::string program = "stale", version = "stale", why = "stale";
    bool blank = !c.blank;
    EXPECT_EQ(probeBoard(bench.ports, bench.world.boardPath(), program, version, blank, why),
              c.result);
    EXPECT_EQ(program, c.program);
    EXPECT_EQ(version, c.version);
    EXPECT_EQ(blank, c.blank);
    EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
    EXPECT_EQ(c.result == BoardRead::Read, why.empty()) << why;

    EXPECT_EQ(bench.openHandles(), 0);
    sim::BoardCounters counters = bench.board().counters();
    EXPECT_EQ(counters.commands.count(kPicobootExclusiveAccess), 0u);
    EXPECT_EQ(counters.commands.count(kPicobootWrite), 0u);
    EXPECT_EQ(counters.commands.count(kPicobootFlashErase), 0u);
    EXPECT_TRUE(counters.flashLog.empty());
  }
}

}  // namespace
}  // namespace tw
