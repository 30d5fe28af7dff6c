// The boot ROM's PICOBOOT rules, driven through the raw USB port with hand-built command blocks.
#include <gtest/gtest.h>

#include <vector>

#include "sim/firmware_builder.h"
#include "sim/raw_picoboot.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw::sim {
namespace {

using testing::commandBlock;
using testing::kIn;
using testing::kOut;
using testing::RawPicoboot;

class PicobootRulesTest : public ::testing::Test {
 protected:
  PicobootRulesTest() : world(clock, quietWorld()), raw(world) {
    world.plugBoard(World::BoardSetup::ours());
    EXPECT_TRUE(raw.open());
  }

  static World::Options quietWorld() {
    World::Options options;
    options.donglePlugged = false;
    return options;
  }

  std::uint64_t elapsedSince(std::uint64_t start) { return clock.tickMs() - start; }

  VirtualClock clock{0};
  World world;
  RawPicoboot raw;
};

struct RuleCase {
  const char* name;
  std::vector<std::uint8_t> block;
  std::vector<std::uint8_t> data;  // a host-to-device data phase
  std::uint32_t status;
};

TEST_F(PicobootRulesTest, EachRuleStallsBothEndpointsAndLeavesItsStatus) {
  const std::vector<std::uint8_t> page(256, 0x5A);
  const RuleCase cases[] = {
      {"no command 0x00", commandBlock(0x00, 0, 0), {}, 1},
      {"no command 0x0f", commandBlock(0x0f, 0, 0), {}, 1},
      {"the RP2040's reboot", commandBlock(0x02, 12, 0), {}, 1},
      {"exclusive access without its argument", commandBlock(0x01, 0, 0), {}, 2},
      {"erase with 16 argument bytes", commandBlock(0x03, 16, 0, {0x10000000, 4096}), {}, 2},
      {"reboot with 8 argument bytes", commandBlock(0x0a, 8, 0), {}, 2},
      {"erase with a data phase", commandBlock(0x03, 8, 4096, {0x10000000, 4096}), {}, 3},
      {"read length unlike its size", commandBlock(0x84, 8, 255, {0x10000000, 256}), {}, 3},
      {"write length unlike its size", commandBlock(0x05, 8, 512, {0x10000000, 256}), {}, 3},
      {"device information over 256 bytes", commandBlock(0x8b, 16, 260), {}, 3},
      {"erase not on a sector", commandBlock(0x03, 8, 0, {0x10000100, 4096}), {}, 5},
      {"erase of part of a sector", commandBlock(0x03, 8, 0, {0x10000000, 0x1100}), {}, 5},
      {"erase of RAM", commandBlock(0x03, 8, 0, {0x20000000, 4096}), {}, 4},
      {"erase past the flash window", commandBlock(0x03, 8, 0, {0x11fff000, 0x2000}), {}, 4},
      {"read not on a page", commandBlock(0x84, 8, 256, {0x10000080, 256}), {}, 5},
      {"read of nothing", commandBlock(0x84, 8, 256, {0x30000000, 256}), {}, 4},
      {"write not on a page", commandBlock(0x05, 8, 256, {0x10000080, 256}), page, 5},
      {"write into the ROM", commandBlock(0x05, 8, 256, {0x00000100, 256}), page, 4},
      {"reboot to a PC and SP", commandBlock(0x0a, 16, 0, {0xd, 100, 0, 0}), {}, 10},
      {"reboot to both architectures", commandBlock(0x0a, 16, 0, {0x30, 100, 0, 0}), {}, 10},
      {"reboot into RAM outside RAM",
       commandBlock(0x0a, 16, 0, {0x3, 100, 0x10000000, 16}),
       {},
       10},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(raw.write(c.block));  // the block itself is taken; then the endpoints stall
    if (!c.data.empty()) raw.write(c.data);
    std::vector<std::uint8_t> in;
    EXPECT_FALSE(raw.read(in, 256));
    EXPECT_EQ(raw.error, USB_ERROR_GEN_FAILURE);
    EXPECT_TRUE(raw.deviceHalted(kIn));
    EXPECT_TRUE(raw.deviceHalted(kOut));
    testing::CommandStatus status = raw.status();
    EXPECT_EQ(status.status, c.status);
    EXPECT_EQ(status.token, 0x1234u);
    EXPECT_EQ(status.commandId, c.block[8]);
    EXPECT_EQ(status.inProgress, 0);

    ASSERT_TRUE(raw.recover());
    EXPECT_FALSE(raw.deviceHalted(kIn));
    EXPECT_EQ(raw.status().status, 0u);  // the reset clears the status
    EXPECT_TRUE(raw.run(commandBlock(0x06, 0, 0)));
  }
  EXPECT_TRUE(world.board().counters().flashLog.empty());
}

TEST_F(PicobootRulesTest, ABlockWithoutTheMagicOrNot32BytesLongKeepsTheLastStatus) {
  std::vector<std::uint8_t> longer = commandBlock(0x06, 0, 0, {}, 78);
  longer.push_back(0);
  for (const auto& block : {commandBlock(0x06, 0, 0, {}, 78, 0x431fd10c),
                            std::vector<std::uint8_t>(longer.begin(), longer.end() - 2), longer}) {
    ASSERT_TRUE(raw.run(commandBlock(0x06, 0, 0, {}, 77)));
    ASSERT_TRUE(raw.write(block));
    std::vector<std::uint8_t> in;
    EXPECT_FALSE(raw.read(in, 64));
    testing::CommandStatus status = raw.status();
    EXPECT_EQ(status.token, 77u);
    EXPECT_EQ(status.status, 0u);
    ASSERT_TRUE(raw.recover());
  }
}

TEST_F(PicobootRulesTest, AReadStreamsPageByPageAndStallsAtTheFirstBadPage) {
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(raw.write(commandBlock(0x84, 8, 512, {0x11ffff00, 512})));
  EXPECT_FALSE(raw.read(bytes, 512));
  EXPECT_EQ(bytes.size(), 256u);  // the last page of the window came; the next is outside
  EXPECT_EQ(bytes[0], 0xFF);      // nothing is on the second chip select
  EXPECT_EQ(raw.status().status, 4u);
}

TEST_F(PicobootRulesTest, AFailedCommandNeedsTheHostPipeResetTooNotOnlyTheInterface) {
  ASSERT_TRUE(raw.write(commandBlock(0x03, 8, 0, {0x10000100, 4096})));
  EXPECT_FALSE(raw.ackIn());
  // The interface reset clears the device's halts, but WinUSB still holds the IN pipe halted.
  std::uint32_t done = 0;
  ASSERT_TRUE(
      raw.device->controlTransfer(UsbSetupPacket{0x41, 0x41, 0, 1, 0}, nullptr, done, raw.error));
  EXPECT_FALSE(raw.deviceHalted(kIn));
  ASSERT_TRUE(raw.write(commandBlock(0x06, 0, 0)));
  EXPECT_FALSE(raw.ackIn());
  EXPECT_EQ(raw.error, USB_ERROR_GEN_FAILURE);
  ASSERT_TRUE(raw.device->resetPipe(kIn, raw.error));
  EXPECT_TRUE(raw.ackIn());  // the exit-XIP acknowledgement was waiting

  // With AUTO_CLEAR_STALL the failed read still fails, but the pipe goes on working.
  ASSERT_TRUE(raw.device->setPipePolicy(kIn, UsbPipePolicy::AutoClearStall, 1, raw.error));
  ASSERT_TRUE(raw.write(commandBlock(0x03, 8, 0, {0x10000100, 4096})));
  EXPECT_FALSE(raw.ackIn());
  EXPECT_FALSE(raw.deviceHalted(kIn));
  EXPECT_TRUE(raw.deviceHalted(kOut));
}

TEST_F(PicobootRulesTest, AWriteThatTheDriveInterruptsFailsAsInterleaved) {
  auto drive = world.boardDrive();
  std::uint32_t error = 0;
  auto writer = drive->create("X.BIN", error);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(raw.write(commandBlock(0x05, 8, 512, {0x10040000, 512})));
  ASSERT_TRUE(raw.write(std::vector<std::uint8_t>(256, 0x11)));  // the first page is programmed
  // A UF2 block lands through the drive between the two pages.
  FirmwareRecipe recipe;
  std::vector<std::uint8_t> uf2 = makeUf2(makeFirmwareImage(recipe));
  std::size_t written = 0;
  ASSERT_TRUE(writer->write(uf2.data(), 512, written, error));
  raw.write(std::vector<std::uint8_t>(256, 0x22));
  EXPECT_FALSE(raw.ackIn());
  EXPECT_EQ(raw.status().status, 6u);
}

TEST_F(PicobootRulesTest, FlashIsNorProgrammingOnlyClearsBits) {
  ASSERT_TRUE(raw.erase(0x10020000, 4096));
  ASSERT_TRUE(raw.writeFlash(0x10020000, std::vector<std::uint8_t>(256, 0xF0)));
  ASSERT_TRUE(raw.writeFlash(0x10020000, std::vector<std::uint8_t>(256, 0x3C)));
  // A short write programs the rest of its page with zeros.
  ASSERT_TRUE(raw.writeFlash(0x10020100, std::vector<std::uint8_t>(100, 0xA5)));
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(raw.readFlash(0x10020000, 512, bytes));
  EXPECT_EQ(bytes[0], 0x30);
  EXPECT_EQ(bytes[255], 0x30);
  EXPECT_EQ(bytes[256 + 99], 0xA5);
  EXPECT_EQ(bytes[256 + 100], 0x00);
  ASSERT_TRUE(raw.readFlash(0x10021000, 256, bytes));
  EXPECT_EQ(bytes[0], 0xFF);  // the next sector was never touched

  ASSERT_TRUE(raw.erase(0x10020000, 4096));
  ASSERT_TRUE(raw.readFlash(0x10020000, 256, bytes));
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(256, 0xFF));
  BoardCounters counters = world.board().counters();
  EXPECT_EQ(counters.sectorsErased, 2u);
  EXPECT_EQ(counters.pagesProgrammed, 3u);
  EXPECT_EQ(counters.commands[0x05], 3u);
}

TEST_F(PicobootRulesTest, TimeIsChargedAsTheFlashAndTheBusTakeIt) {
  std::uint64_t start = clock.tickMs();
  ASSERT_TRUE(raw.write(commandBlock(0x03, 8, 0, {0x10010000, 4 * 4096}, 9)));
  testing::CommandStatus running = raw.status();
  EXPECT_EQ(running.inProgress, 1);
  EXPECT_EQ(running.status, 0u);
  EXPECT_EQ(running.token, 9u);
  ASSERT_TRUE(raw.ackIn());
  std::uint64_t erase = elapsedSince(start);
  EXPECT_GE(erase, 180u);  // four 45 ms sector erases, one after another
  EXPECT_LE(erase, 182u);
  EXPECT_EQ(raw.status().inProgress, 0);
  EXPECT_EQ(world.board().counters().sectorsErased, 4u);

  // 64 KB read: 256 pages of 0.34 ms flash read plus 0.256 ms on the bus (430 KB/s).
  start = clock.tickMs();
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(raw.readFlash(0x10000000, 65536, bytes));
  EXPECT_NEAR(static_cast<double>(elapsedSince(start)), 153.0, 2.0);

  start = clock.tickMs();
  ASSERT_TRUE(raw.erase(0x10100000, 65536));
  ASSERT_TRUE(raw.writeFlash(0x10100000, std::vector<std::uint8_t>(65536, 0)));
  // Sixteen 45 ms sector erases, then 256 pages of 0.4 ms programming and 0.256 ms on the bus.
  EXPECT_NEAR(static_cast<double>(elapsedSince(start)), 16 * 45 + 168 + 2, 2.0);
}

TEST_F(PicobootRulesTest, ANakedReadTimesOutAfterThePipeTimeoutOnTheClock) {
  ASSERT_TRUE(raw.device->setPipePolicy(kIn, UsbPipePolicy::PipeTransferTimeout, 700, raw.error));
  std::uint32_t timeout = 0;
  ASSERT_TRUE(
      raw.device->getPipePolicy(kIn, UsbPipePolicy::PipeTransferTimeout, timeout, raw.error));
  EXPECT_EQ(timeout, 700u);
  std::uint64_t start = clock.tickMs();
  std::vector<std::uint8_t> bytes;
  EXPECT_FALSE(raw.read(bytes, 64, kWaitForever));
  EXPECT_EQ(raw.error, USB_ERROR_SEM_TIMEOUT);
  EXPECT_EQ(elapsedSince(start), 700u);
  // The call's own bound cuts it shorter.
  EXPECT_FALSE(raw.read(bytes, 64, 250));
  EXPECT_EQ(elapsedSince(start), 950u);
  // An erase longer than the acknowledgement's time-out: the read gives up, the erase goes on.
  ASSERT_TRUE(raw.write(commandBlock(0x03, 8, 0, {0x10000000, 32 * 4096})));
  EXPECT_FALSE(raw.read(bytes, 64));
  EXPECT_EQ(raw.error, USB_ERROR_SEM_TIMEOUT);
  EXPECT_EQ(raw.status().inProgress, 1);
  ASSERT_TRUE(raw.device->setPipePolicy(kIn, UsbPipePolicy::PipeTransferTimeout, 0, raw.error));
  EXPECT_TRUE(raw.ackIn());
  EXPECT_EQ(world.board().counters().sectorsErased, 32u);
}

TEST_F(PicobootRulesTest, TheInterfaceLooksAsTheRomDescribesIt) {
  std::vector<UsbInterfaceEntry> entries;
  ASSERT_TRUE(world.usb().listInterfaces("{bc7398c1-73cd-4cb7-98b8-913a8fca7bf6}", 4, entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].parentId, "USB\\VID_2E8A&PID_000F\\5A1C9E3F0B7D2468");
  ASSERT_TRUE(world.usb().listInterfaces("{4d1e55b2-f16f-11cf-88cb-001111000030}", 4, entries));
  EXPECT_TRUE(entries.empty());

  UsbInterfaceDescriptor descriptor;
  ASSERT_TRUE(raw.device->queryInterfaceSettings(0, descriptor, raw.error));
  EXPECT_EQ(descriptor.interfaceClass, 0xFF);
  EXPECT_EQ(descriptor.numEndpoints, 2);
  EXPECT_EQ(descriptor.interfaceNumber, 1);
  UsbPipeInfo out, in;
  ASSERT_TRUE(raw.device->queryPipe(0, 0, out, raw.error));
  ASSERT_TRUE(raw.device->queryPipe(0, 1, in, raw.error));
  EXPECT_EQ(out.pipeId, kOut);
  EXPECT_EQ(in.pipeId, kIn);
  EXPECT_EQ(in.type, UsbPipeType::Bulk);
  EXPECT_FALSE(raw.device->queryPipe(0, 2, in, raw.error));
  std::uint32_t size = 0;
  ASSERT_TRUE(raw.device->getPipePolicy(kIn, UsbPipePolicy::MaximumTransferSize, size, raw.error));
  EXPECT_EQ(size, 2097152u);
  EXPECT_FALSE(raw.device->setPipePolicy(kIn, UsbPipePolicy::MaximumTransferSize, 4096, raw.error));
  EXPECT_EQ(raw.error, USB_ERROR_INVALID_PARAMETER);

  // WinUSB gives the interface to one handle at a time.
  UsbOpenStep step;
  std::uint32_t error = 0;
  EXPECT_EQ(world.usb().open(world.boardPath(), step, error), nullptr);
  EXPECT_EQ(error, USB_ERROR_ACCESS_DENIED);
}

TEST_F(PicobootRulesTest, ExclusiveAccessLocksTheDriveOutUntilTheInterfaceReset) {
  auto drive = world.boardDrive();
  std::uint32_t error = 0;
  auto writer = drive->create("X.UF2", error);
  ASSERT_TRUE(writer);
  std::vector<std::uint8_t> sector(512, 0);
  std::size_t written = 0;

  ASSERT_TRUE(raw.run(commandBlock(0x01, 1, 0, {1})));
  EXPECT_FALSE(writer->write(sector.data(), sector.size(), written, error));
  EXPECT_EQ(error, kDriveErrorWriteProtect);
  EXPECT_TRUE(drive->mediaPresent());

  ASSERT_TRUE(raw.run(commandBlock(0x01, 1, 0, {2})));
  EXPECT_FALSE(drive->mediaPresent());
  EXPECT_TRUE(drive->files().empty());
  EXPECT_FALSE(writer->write(sector.data(), sector.size(), written, error));
  EXPECT_EQ(error, kDriveErrorNotReady);

  ASSERT_TRUE(raw.recover());
  EXPECT_TRUE(drive->mediaPresent());
  EXPECT_TRUE(writer->write(sector.data(), sector.size(), written, error));
}

TEST_F(PicobootRulesTest, AfterARebootIsSetCommandsFailAsRebootingThenTheBoardLeaves) {
  ASSERT_TRUE(raw.run(commandBlock(0x0a, 16, 0, {0, 1000, 0, 0})));
  ASSERT_TRUE(raw.write(commandBlock(0x06, 0, 0)));
  EXPECT_FALSE(raw.ackIn());
  EXPECT_EQ(raw.status().status, 7u);
  ASSERT_TRUE(raw.recover());

  clock.sleepMs(1000);
  EXPECT_FALSE(raw.write(commandBlock(0x06, 0, 0)));
  EXPECT_EQ(raw.error, USB_ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(world.boardInUpdateMode());
  EXPECT_EQ(world.board().counters().reboots, 1u);
}

}  // namespace
}  // namespace tw::sim
