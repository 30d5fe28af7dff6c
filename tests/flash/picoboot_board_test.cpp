// The PICOBOOT transport against the simulated board: finding and opening, the commands, the
// phases of the command runner, and the recovery after every kind of failed step.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "flash/board_bench.h"
#include "flash/picoboot.h"

namespace tw {
namespace {

using test::BoardBench;
using test::pattern;
using Op = bool (*)(PicobootDevice&);

constexpr std::uint32_t kScratch = 0x10040000;

std::string failureLine(const PicobootDevice& device) {
  char text[kFailureTextCapacity];
  describeFailure(device, text, sizeof text);
  return text;
}

// The operations the tables run.
const std::vector<std::uint8_t>& someData() {
  static const std::vector<std::uint8_t> data = pattern(0x10000);
  return data;
}
bool exclusive(PicobootDevice& d) {
  return exclusiveAccess(d, kPicobootExclusive);
}
bool leaveXip(PicobootDevice& d) {
  return exitXip(d);
}
bool eraseSector(PicobootDevice& d) {
  return eraseFlash(d, kScratch, 4096);
}
bool erase64k(PicobootDevice& d) {
  return eraseFlash(d, kScratch, 0x10000);
}
bool writePages(PicobootDevice& d) {
  return writeFlash(d, kScratch, someData().data(), 512);
}
bool write64k(PicobootDevice& d) {
  return writeFlash(d, kScratch, someData().data(), 0x10000);
}
bool readPage(PicobootDevice& d) {
  std::uint8_t page[256];
  return readFlash(d, 0x10000000, page, sizeof page);
}
bool read32k(PicobootDevice& d) {
  std::vector<std::uint8_t> data(0x8000);
  return readFlash(d, 0x10000000, data.data(), 0x8000);
}
bool restart(PicobootDevice& d) {
  return reboot(d, 500);
}
// Straight through the runner, with an acknowledgement time-out of its own (7000 ms).
bool readPageAck7000(PicobootDevice& d) {
  std::uint8_t args[8] = {0x00, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00, 0x00};
  std::uint8_t page[256];
  return runCommand(d, kPicobootRead, args, 8, page, 256, 10008, 7000, "read");
}
bool readNothingAck7000(PicobootDevice& d) {
  std::uint8_t args[8] = {0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00};
  return runCommand(d, kPicobootRead, args, 8, nullptr, 0, 0, 7000, "read");
}

TEST(PicobootFind, ListsTheBoardWithItsSerial) {
  BoardBench bench;
  PicobootInterface entries[kPicobootMaxInterfaces];
  EXPECT_EQ(findPicobootInterfaces(bench.ports, entries, kPicobootMaxInterfaces), 0);

  bench.world.plugBoard({});
  ASSERT_EQ(findPicobootInterfaces(bench.ports, entries, kPicobootMaxInterfaces), 1);
  EXPECT_EQ(entries[0].path, bench.world.boardPath());
  EXPECT_EQ(entries[0].serial, bench.board().serial());
  EXPECT_EQ(findPicobootInterfaces(bench.ports, entries, 0), 0);

  bench.world.usb().enumerationFaults.inject("enumerate", sim::FaultKind::Fail);
  EXPECT_EQ(findPicobootInterfaces(bench.ports, entries, kPicobootMaxInterfaces), 0);
}

TEST(PicobootOpen, TakesThePipesInterfaceAndTransferSizeFromTheBoard) {
  struct Case {
    std::uint32_t reported, maxTransfer;
  } cases[] = {
      {2097152, 65536}, {1048576, 1048576}, {1048577, 65536}, {4096, 4096},
      {4095, 65536},    {100000, 99968},    {0, 65536},
  };
  for (const Case& c : cases) {
    sim::World::Options options = test::boardOnly();
    options.board.maximumTransferSize = c.reported;
    BoardBench bench(options, 0x7123'4567);
    PicobootDevice device;
    bench.open(device);
    EXPECT_EQ(device.maxTransfer, c.maxTransfer) << c.reported;
    EXPECT_EQ(device.pipeIn, 0x84);
    EXPECT_EQ(device.pipeOut, 0x03);
    EXPECT_EQ(device.interfaceNumber, 1);  // the drive is interface 0
    EXPECT_EQ(device.token, 0x4567u);
    EXPECT_EQ(bench.openHandles(), 1);
    closePicoboot(device);
    EXPECT_EQ(device.usb, nullptr);
    EXPECT_EQ(bench.openHandles(), 0);
  }

  BoardBench alone;
  PicobootDevice device;
  sim::World::BoardSetup noDrive;
  noDrive.drive = false;
  alone.open(device, noDrive);
  EXPECT_EQ(device.interfaceNumber, 0);
  EXPECT_TRUE(exitXip(device));
}

TEST(PicobootOpen, AFailedOpenLeavesNothingOpen) {
  struct Case {
    const char* operation;
    sim::FaultKind kind;
    std::uint32_t held;
    const char* line;
  } cases[] = {
      {"open", sim::FaultKind::Fail, 0, "open failed (Windows error 31)"},
      {"open", sim::FaultKind::Busy, 0, "open failed (Windows error 170)"},
      {"initialize", sim::FaultKind::Fail, 0, "winusb failed"},
      {nullptr, sim::FaultKind::None, 32, "open failed (Windows error 32)"},
  };
  for (const Case& c : cases) {
    BoardBench bench;
    sim::World::BoardSetup setup;
    setup.heldError = c.held;
    bench.world.plugBoard(setup);
    if (c.operation != nullptr) bench.faults().inject(c.operation, c.kind);
    PicobootDevice device;
    EXPECT_FALSE(openPicoboot(bench.ports, device, bench.world.boardPath()));
    EXPECT_EQ(failureLine(device).rfind(c.line, 0), 0u) << failureLine(device);
    EXPECT_EQ(device.usb, nullptr);
    EXPECT_EQ(bench.openHandles(), 0) << c.line;
  }

  BoardBench bench;
  PicobootDevice device;
  EXPECT_FALSE(openPicoboot(bench.ports, device, "\\\\?\\usb#vid_2e8a&pid_000f#gone"));
  EXPECT_EQ(failureLine(device), "open failed (Windows error 2)");
}

TEST(PicobootCommands, WriteEraseReadAndRebootTheBoard) {
  sim::World::Options options = test::boardOnly();
  options.board.maximumTransferSize = 4096;  // several chunks per transfer
  BoardBench bench(options);
  PicobootDevice device;
  bench.open(device);
  std::uint32_t seeded = device.token;

  ASSERT_TRUE(resetInterface(device));
  ASSERT_TRUE(exclusiveAccess(device, kPicobootExclusive));
  EXPECT_EQ(bench.board().exclusiveAccess(), kPicobootExclusive);
  ASSERT_TRUE(exitXip(device));
  ASSERT_TRUE(eraseFlash(device, kScratch, 0x4000));
  EXPECT_EQ(bench.flash(kScratch, 0x4000), std::vector<std::uint8_t>(0x4000, 0xFF));

  std::vector<std::uint8_t> data = pattern(0x3100);
  std::uint32_t writesBefore = bench.faults().calls("write-pipe");
  ASSERT_TRUE(writeFlash(device, kScratch, data.data(), std::uint32_t(data.size())));
  // The block, then 0x3100 bytes in chunks of 4096: four writes.
  EXPECT_EQ(bench.faults().calls("write-pipe") - writesBefore, 5u);
  EXPECT_EQ(bench.flash(kScratch, data.size()), data);

  std::vector<std::uint8_t> back(data.size());
  std::uint32_t readsBefore = bench.faults().calls("read-pipe");
  ASSERT_TRUE(readFlash(device, kScratch, back.data(), std::uint32_t(back.size())));
  EXPECT_EQ(bench.faults().calls("read-pipe") - readsBefore, 4u);
  EXPECT_EQ(back, data);

  ASSERT_TRUE(reboot(device, 300));
  EXPECT_EQ(device.token, seeded + 6);
  closePicoboot(device);
  bench.clock.sleepMs(400);
  std::optional<sim::RebootRequest> rebooted = bench.board().takeReboot();
  ASSERT_TRUE(rebooted.has_value());
  EXPECT_EQ(rebooted->flags, 0u);
  EXPECT_EQ(rebooted->delayMs, 300u);
}

TEST(PicobootCommands, MisalignedArgumentsSendNothing) {
  BoardBench bench;
  PicobootDevice device;
  bench.open(device);
  std::uint8_t buffer[0x1100] = {};
  struct Case {
    bool ok;
    const char* step;
  } cases[] = {
      {readFlash(device, 0x10000080, buffer, 256), "read alignment"},
      {readFlash(device, 0x10000000, buffer, 100), "read alignment"},
      {eraseFlash(device, 0x10000000, 0x1100), "erase alignment"},
      {eraseFlash(device, 0x10000100, 4096), "erase alignment"},
      {writeFlash(device, 0x10000001, buffer, 256), "write alignment"},
      {writeFlash(device, 0x10000000, buffer, 0x1080), "write alignment"},
  };
  for (const Case& c : cases) EXPECT_FALSE(c.ok) << c.step;
  // Each check above ran before the next call, so only the last one's step is left to see.
  EXPECT_EQ(failureLine(device), "write alignment failed (Windows error 87)");
  EXPECT_EQ(bench.faults().calls("write-pipe"), 0u);
  EXPECT_EQ(bench.faults().calls("read-pipe"), 0u);
  EXPECT_EQ(bench.faults().calls("control"), 0u);
  EXPECT_TRUE(bench.board().counters().commands.empty());
}

// Every step of a command can fail; each failure is recovered, described, and the connection
// then runs a good command.
TEST(PicobootRecovery, EveryFailedStepLeavesTheConnectionUsable) {
  struct Case {
    const char* name;
    const char* operation;  // a fault of the USB side, or
    sim::FaultKind kind;
    std::uint32_t nth;
    std::uint8_t refused;  // a command the board refuses with "invalid address"
    Op run;
    const char* line;
    std::uint32_t halted;  // pipes the board stalled, which the recovery resets
  } cases[] = {
      {"command block", "write-pipe", sim::FaultKind::Fail, 1, 0, leaveXip,
       "exit xip failed (Windows error 31)", 1},
      {"data out", "write-pipe", sim::FaultKind::Fail, 2, 0, writePages,
       "write failed (Windows error 31)", 1},
      {"short data out", "write-pipe", sim::FaultKind::Busy, 2, 0, writePages,
       "write failed (Windows error 29)", 0},
      {"ack in", "read-pipe", sim::FaultKind::Fail, 1, 0, eraseSector,
       "erase failed (Windows error 31)", 1},
      {"ack in times out", "read-pipe", sim::FaultKind::Stall, 1, 0, exclusive,
       "exclusive access failed (Windows error 121)", 0},
      {"data in", "read-pipe", sim::FaultKind::Fail, 1, 0, readPage,
       "read failed (Windows error 31)", 1},
      {"ack out", "write-pipe", sim::FaultKind::Fail, 2, 0, readPage,
       "read failed (Windows error 31)", 1},
      {"refused write", nullptr, sim::FaultKind::None, 0, kPicobootWrite, writePages,
       "write failed: invalid address (Windows error 31)", 2},
      {"refused read", nullptr, sim::FaultKind::None, 0, kPicobootRead, readPage,
       "read failed: invalid address (Windows error 31)", 2},
      {"refused reboot", nullptr, sim::FaultKind::None, 0, kPicobootReboot2, restart,
       "reboot failed: invalid address (Windows error 31)", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardBench bench;
    PicobootDevice device;
    bench.open(device);
    std::vector<std::uint8_t> known = pattern(256, 9);
    ASSERT_TRUE(exitXip(device));
    ASSERT_TRUE(eraseFlash(device, 0x10030000, 4096));
    ASSERT_TRUE(writeFlash(device, 0x10030000, known.data(), 256));

    sim::BoardCounters before = bench.board().counters();
    if (c.operation != nullptr) bench.faults().inject(c.operation, c.kind, c.nth);
    if (c.refused != 0) bench.board().failCommand(c.refused, 4);
    EXPECT_FALSE(c.run(device));
    EXPECT_EQ(failureLine(device), c.line);
    sim::BoardCounters after = bench.board().counters();
    EXPECT_EQ(after.interfaceResets, before.interfaceResets + 1);
    // The command status, the halt state of both pipes, clearing each halt, the interface reset.
    EXPECT_EQ(after.controlRequests, before.controlRequests + 4 + c.halted);

    std::uint8_t page[256];
    ASSERT_TRUE(readFlash(device, 0x10030000, page, sizeof page)) << failureLine(device);
    EXPECT_EQ(std::vector<std::uint8_t>(page, page + 256), known);
    EXPECT_EQ(device.status, 0u);
  }
}

// The pipe's own time-out ends a transfer the board never completes; it follows the size of the
// request.
TEST(PicobootTimeouts, EachPhaseWaitsAsLongAsItsRequestNeeds) {
  struct Case {
    const char* name;
    const char* operation;
    std::uint32_t nth;
    Op run;
    std::uint64_t waitedMs;
  } cases[] = {
      {"command block", "write-pipe", 1, leaveXip, 3000},
      {"exclusive access", "read-pipe", 1, exclusive, 10000},
      {"exit xip", "read-pipe", 1, leaveXip, 10000},
      {"erase 64 KB", "read-pipe", 1, erase64k, 16 * 400 + 15000},
      {"write data", "write-pipe", 2, write64k, 0x10000 / 32 + 10000},
      {"write ack", "read-pipe", 1, write64k, 256 * 20 + 10000},
      {"read data", "read-pipe", 1, read32k, 0x8000 / 32 + 10000},
      {"read ack", "write-pipe", 2, read32k, 3000},
      {"ack out after data", "write-pipe", 2, readPageAck7000, 3000},
      {"ack out without data", "write-pipe", 2, readNothingAck7000, 7000},
      {"reboot", "read-pipe", 1, restart, 5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardBench bench(test::timelessBoard());
    PicobootDevice device;
    bench.open(device);
    ASSERT_TRUE(exitXip(device));
    bench.faults().inject(c.operation, sim::FaultKind::Stall, c.nth);
    std::uint64_t start = bench.clock.tickMs();
    EXPECT_FALSE(c.run(device));
    EXPECT_EQ(bench.clock.tickMs() - start, c.waitedMs);
    EXPECT_EQ(device.windowsError, USB_ERROR_SEM_TIMEOUT);
  }
}

TEST(PicobootEmptyReads, TwoAreToleratedAndTheThirdFails) {
  for (std::uint32_t empties : {1u, 2u, 3u}) {
    SCOPED_TRACE(empties);
    sim::World::Options options = test::boardOnly();
    options.board.maximumTransferSize = 4096;
    BoardBench bench(options);
    PicobootDevice device;
    bench.open(device);
    ASSERT_TRUE(exitXip(device));
    std::vector<std::uint8_t> back(0x2000);
    bench.faults().inject("read-pipe", sim::FaultKind::Busy, 2, empties);
    bool ok = readFlash(device, 0x10000000, back.data(), std::uint32_t(back.size()));
    std::vector<std::uint8_t> expected = bench.flash(0x10000000, back.size());
    if (empties < 3) {
      EXPECT_TRUE(ok) << failureLine(device);
      EXPECT_EQ(back, expected);
      continue;
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(failureLine(device), "read failed (Windows error 30)");
    // What arrived before is kept; what never arrived reads as 0xAA.
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 4096, expected.begin()));
    EXPECT_EQ(std::vector<std::uint8_t>(back.begin() + 4096, back.end()),
              std::vector<std::uint8_t>(0x1000, 0xAA));
    ASSERT_TRUE(readFlash(device, 0x10000000, back.data(), std::uint32_t(back.size())));
    EXPECT_EQ(back, expected);
  }
}

}  // namespace
}  // namespace tw
