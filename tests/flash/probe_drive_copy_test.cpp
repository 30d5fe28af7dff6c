// The board probe against a board that is taking someone's own UF2 copy through its drive: the
// boot ROM's interface reset empties the drive's one-slot task queue, so the probe resets only an
// interface that another program left stuck.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "flash/board_bench.h"
#include "flash/board_probe.h"

namespace tw {
namespace {

using test::BoardBench;

// Sends a command block for another tool that stops before its data phase ends (`readAll`
// false) or before it takes the acknowledgement.
void leaveACommand(BoardBench& bench, std::uint8_t id, std::uint32_t length) {
  PicobootDevice device;
  ASSERT_TRUE(openPicoboot(bench.ports, device, bench.world.boardPath()));
  std::uint8_t block[kPicobootCommandSize] = {};
  auto put32 = [&block](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) block[at + i] = std::uint8_t(value >> (8 * i));
  };
  put32(0, kPicobootMagic);
  put32(4, 77);
  block[8] = id;
  block[9] = length != 0 ? 8 : 0;
  put32(12, length);
  put32(16, 0x10000000);
  put32(20, length);
  std::uint32_t moved = 0, error = 0;
  ASSERT_TRUE(device.usb->writePipe(device.pipeOut, block, sizeof block, moved, 3000, error));
  if (length != 0) {
    std::uint8_t packet[64];
    ASSERT_TRUE(device.usb->readPipe(device.pipeIn, packet, sizeof packet, moved, 3000, error));
  }
  closePicoboot(device);
}

struct InterfaceCase {
  const char* name;
  void (*leave)(BoardBench&);
  std::uint32_t resets;  // interface resets the probe made
  bool dropped;          // the person's block in flight was lost
};

const InterfaceCase kInterfaceCases[] = {
    {"idle interface", [](BoardBench&) {}, 0, false},
    {"pipes left halted",
     [](BoardBench& b) {
       b.board().halt(sim::PicobootDevice::kInEndpoint);
       b.board().halt(sim::PicobootDevice::kOutEndpoint);
     },
     1, true},
    {"a read left half done", [](BoardBench& b) { leaveACommand(b, kPicobootRead, 4096); }, 1,
     true},
    // Nothing shows this one; the probe's first command times out, is recovered and sent again,
    // by which time the block has long been written.
    {"an acknowledgement never taken", [](BoardBench& b) { leaveACommand(b, kPicobootExitXip, 0); },
     1, false},
};

TEST(ProbeDuringDriveCopy, ResetsOnlyAStuckInterfaceAndSoKeepsThePersonsCopyWhole) {
  for (const InterfaceCase& c : kInterfaceCases) {
    SCOPED_TRACE(c.name);
    BoardBench bench;
    bench.world.plugBoard({});
    c.leave(bench);
    bench.board().resetCounters();

    // Someone copies their own program onto the drive; its first block is being written.
    sim::FirmwareRecipe recipe;
    recipe.program = "blink";
    recipe.seed = 3;
    std::vector<std::uint8_t> uf2 = sim::makeUf2(sim::makeFirmwareImage(recipe));
    std::uint32_t error = 0;
    auto writer = bench.world.boardDrive()->create("BLINK.UF2", error);
    ASSERT_TRUE(writer);
    std::size_t written = 0;
    ASSERT_TRUE(writer->write(uf2.data(), sim::kDriveSectorSize, written, error));
    ASSERT_TRUE(bench.board().driveBlockPending());

    std::string program, version, why;
    bool blank = false;
    EXPECT_EQ(probeBoard(bench.ports, bench.world.boardPath(), program, version, blank, why),
              BoardRead::Read)
        << why;
    sim::BoardCounters counters = bench.board().counters();
    EXPECT_EQ(counters.interfaceResets, c.resets);
    EXPECT_EQ(counters.driveBlocksDropped, c.dropped ? 1u : 0u);

    // The copy's block either lands or never completes, and the person's copy then fails.
    bool closed = writer->close(error);
    EXPECT_EQ(closed, !c.dropped);
    if (!closed) {
      EXPECT_EQ(error, sim::kDriveErrorTimeout);
    }
    std::size_t driveWrites = 0;
    for (const sim::FlashOperation& op : bench.board().counters().flashLog) {
      driveWrites += op.viaDrive && op.kind == sim::FlashOperation::Kind::Program;
    }
    EXPECT_EQ(driveWrites, c.dropped ? 0u : 1u);
  }
}

}  // namespace
}  // namespace tw
