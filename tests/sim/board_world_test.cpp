// The board in the world: update mode from the running dongle, what a reboot brings back, the
// boards a person can plug in, and faults on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/dongle_settings.h"
#include "sim/firmware_builder.h"
#include "sim/flash_image_info.h"
#include "sim/raw_picoboot.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw::sim {
namespace {

using testing::commandBlock;
using testing::RawPicoboot;

class BoardWorldTest : public ::testing::Test {
 protected:
  bool dongleOnHid() {
    std::vector<std::string> paths;
    world.hid().listInterfaces(paths);
    return std::find(paths.begin(), paths.end(), world.donglePath()) != paths.end();
  }

  std::vector<UsbInterfaceEntry> boards() {
    std::vector<UsbInterfaceEntry> entries;
    EXPECT_TRUE(world.usb().listInterfaces(kPicobootInterfaceClass, 4, entries));
    return entries;
  }

  // Writes `image` from 0x10000000 over PICOBOOT and asks for a reboot after `delayMs`.
  void flashAndReboot(const std::vector<std::uint8_t>& image, std::uint32_t delayMs = 500) {
    RawPicoboot raw(world);
    ASSERT_TRUE(raw.open());
    ASSERT_TRUE(raw.run(commandBlock(0x01, 1, 0, {1})));
    auto size = static_cast<std::uint32_t>(image.size());
    ASSERT_TRUE(raw.erase(0x10000000, (size + 4095) & ~4095u));
    ASSERT_TRUE(raw.writeFlash(0x10000000, image));
    ASSERT_TRUE(raw.run(commandBlock(0x0a, 16, 0, {0, delayMs, 0, 0})));
  }

  void reboot(std::vector<std::uint32_t> args = {0, 100, 0, 0}) {
    RawPicoboot raw(world);
    ASSERT_TRUE(raw.open());
    ASSERT_TRUE(raw.run(commandBlock(0x0a, 16, 0, args)));
  }

  static std::vector<std::uint8_t> ours(const std::string& version) {
    FirmwareRecipe recipe;
    recipe.version = version;
    return makeFirmwareImage(recipe);
  }

  void sendFeature(std::vector<std::uint8_t> report) {
    report.resize(64, 0);
    ASSERT_TRUE(world.dongle().setFeature(report.data(), report.size()));
  }

  VirtualClock clock{0};
  World world{clock};
};

TEST_F(BoardWorldTest, TheButtonAndCommand4TurnTheDongleIntoABoardInUpdateMode) {
  for (bool byCommand : {false, true}) {
    SCOPED_TRACE(byCommand ? "command 0x04" : "button");
    world.plugDongle();
    ASSERT_TRUE(dongleOnHid());
    if (byCommand) {
      sendFeature({0xF6, 0x04});
    } else {
      world.pressButton();
    }
    EXPECT_FALSE(dongleOnHid());
    EXPECT_TRUE(world.dongleInUpdateMode());
    EXPECT_TRUE(boards().empty());  // Windows has not enumerated it yet
    EXPECT_TRUE(world.drives().empty());
    clock.sleepMs(1000);
    ASSERT_EQ(boards().size(), 1u);
    auto drives = world.drives();
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0]->label(), "RP2350");
    EXPECT_TRUE(drives[0]->removable());
    std::vector<std::uint8_t> info;
    std::uint32_t error = 0;
    ASSERT_TRUE(drives[0]->readFile("info_uf2.txt", info, error));
    EXPECT_NE(std::string(info.begin(), info.end()).find("Board-ID: RP2350"), std::string::npos);
    // The flash still holds the dongle's firmware.
    EXPECT_EQ(inspectFlash(world.flash()).program, "korrinlink");
  }
  world.unplugDongle();
  world.pressButton();  // nothing listens to the button of an unplugged dongle
  clock.sleepMs(1000);
  EXPECT_TRUE(boards().empty());
}

TEST_F(BoardWorldTest, AfterARebootTheDongleReportsItsNewVersionAndKeepsItsSettings) {
  DongleConfigBytes config = factoryDongleConfig();
  config[10] = 2;  // the fastest report rate
  std::vector<std::uint8_t> apply = {0xF6, 0x01};
  apply.insert(apply.end(), config.begin(), config.end());
  sendFeature(apply);
  sendFeature({0xF6, 0x02});
  EXPECT_EQ(loadSavedConfig(world.flash())[10], 2);

  world.pressButton();
  clock.sleepMs(1000);
  flashAndReboot(ours("0.9.4"));
  clock.sleepMs(400);
  EXPECT_EQ(boards().size(), 1u);
  clock.sleepMs(200);
  EXPECT_TRUE(boards().empty());  // reset; Windows needs a moment for the new device
  EXPECT_FALSE(dongleOnHid());
  clock.sleepMs(1000);
  ASSERT_TRUE(dongleOnHid());
  EXPECT_EQ(world.dongle().firmwareVersion(), "0.9.4");
  EXPECT_EQ(world.dongle().appliedConfig()[10], 2);
  EXPECT_TRUE(world.controller().paired);

  // Clearing the settings area forgets the configuration and the paired controller.
  world.pressButton();
  clock.sleepMs(1000);
  RawPicoboot raw(world);
  ASSERT_TRUE(raw.open());
  ASSERT_TRUE(raw.erase(kSettingsAreaAddress, kSettingsAreaSize));
  ASSERT_TRUE(raw.run(commandBlock(0x0a, 16, 0, {0, 300, 0, 0})));
  clock.sleepMs(1300);
  ASSERT_TRUE(dongleOnHid());
  EXPECT_EQ(world.dongle().appliedConfig(), factoryDongleConfig());
  EXPECT_FALSE(world.controller().paired);
  world.setController([](ControllerState& c) { c.paired = true; });
  EXPECT_TRUE(loadPairing(world.flash()));
}

TEST_F(BoardWorldTest, WhatARebootBringsBackDependsOnTheFlash) {
  struct Case {
    const char* name;
    World::BoardSetup setup;
    bool dongle, board;
  };
  const Case cases[] = {
      {"ours", World::BoardSetup::ours("0.9.1"), true, false},
      {"blank", World::BoardSetup::blank(), false, true},
      {"foreign", World::BoardSetup::foreign("blink"), false, false},
      {"foreign without a name", World::BoardSetup::foreign(""), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    world.plugBoard(c.setup);
    ASSERT_EQ(boards().size(), 1u);
    std::string path = boards()[0].path;
    reboot();
    clock.sleepMs(1100);
    EXPECT_EQ(dongleOnHid(), c.dongle);
    std::vector<UsbInterfaceEntry> after = boards();
    EXPECT_EQ(after.size(), c.board ? 1u : 0u);
    if (c.board) {
      EXPECT_EQ(after[0].path, path);
    }
    EXPECT_EQ(world.drives().size(), c.board ? 1u : 0u);
    if (c.dongle) {
      EXPECT_EQ(world.dongle().firmwareVersion(), "0.9.1");
    }
  }
  // A board with its sector 0 erased stays in update mode whatever the rest holds.
  world.plugBoard(World::BoardSetup::ours());
  RawPicoboot raw(world);
  ASSERT_TRUE(raw.open());
  ASSERT_TRUE(raw.erase(0x10000000, 4096));
  raw.device.reset();
  reboot();
  clock.sleepMs(1100);
  EXPECT_FALSE(dongleOnHid());
  EXPECT_EQ(boards().size(), 1u);
}

TEST_F(BoardWorldTest, ARebootBackIntoTheRomCanLeaveOneInterfaceOut) {
  world.plugBoard(World::BoardSetup::ours());
  reboot({0x2, 100, 0, 0x1});  // BOOTSEL without the drive
  clock.sleepMs(1100);
  std::vector<UsbInterfaceEntry> entries = boards();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].parentId.find("VID_2E8A"), std::string::npos);  // not composite now
  EXPECT_TRUE(world.drives().empty());
  RawPicoboot raw(world);
  ASSERT_TRUE(raw.open());
  UsbInterfaceDescriptor descriptor;
  ASSERT_TRUE(raw.device->queryInterfaceSettings(0, descriptor, raw.error));
  EXPECT_EQ(descriptor.interfaceNumber, 0);
  raw.device.reset();

  reboot({0x2, 100, 0, 0x2});  // BOOTSEL without PICOBOOT
  clock.sleepMs(1100);
  EXPECT_TRUE(boards().empty());
  EXPECT_EQ(world.drives().size(), 1u);
}

TEST_F(BoardWorldTest, BoardsAPersonCanPlugIn) {
  world.plugBoard(World::BoardSetup::ours().only(false, true));
  EXPECT_TRUE(boards().empty());
  EXPECT_EQ(world.drives().size(), 1u);
  EXPECT_FALSE(dongleOnHid());

  world.plugBoard(World::BoardSetup::ours().only(true, false));
  EXPECT_EQ(boards().size(), 1u);
  EXPECT_TRUE(world.drives().empty());

  for (std::uint32_t held :
       {USB_ERROR_ACCESS_DENIED, USB_ERROR_SHARING_VIOLATION, USB_ERROR_BUSY}) {
    world.plugBoard(World::BoardSetup::blank().heldBy(held));
    UsbOpenStep step = UsbOpenStep::WinUsb;
    std::uint32_t error = 0;
    EXPECT_EQ(world.usb().open(boards().at(0).path, step, error), nullptr);
    EXPECT_EQ(step, UsbOpenStep::Open);
    EXPECT_EQ(error, held);
  }
  world.setBoardHeld(0);
  RawPicoboot raw(world);
  EXPECT_TRUE(raw.open());
  std::string path = world.boardPath();
  raw.device.reset();

  world.unplugBoard();
  EXPECT_TRUE(boards().empty());
  UsbOpenStep step;
  std::uint32_t error = 0;
  EXPECT_EQ(world.usb().open(path, step, error), nullptr);
  EXPECT_EQ(error, USB_ERROR_FILE_NOT_FOUND);
}

TEST_F(BoardWorldTest, FaultsOnDemand) {
  world.plugBoard(World::BoardSetup::ours());
  RawPicoboot raw(world);
  ASSERT_TRUE(raw.open());

  // A command that fails with a given status, once.
  world.board().failCommand(0x03, 8);
  EXPECT_FALSE(raw.erase(0x10100000, 4096));
  EXPECT_EQ(raw.status().status, 8u);
  ASSERT_TRUE(raw.recover());
  EXPECT_TRUE(raw.erase(0x10100000, 4096));

  // An empty packet instead of data.
  world.board().faults.inject("read-pipe", FaultKind::Busy);
  ASSERT_TRUE(raw.write(commandBlock(0x84, 8, 256, {0x10000000, 256})));
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(raw.read(bytes, 256));
  EXPECT_TRUE(bytes.empty());
  EXPECT_TRUE(raw.read(bytes, 256));
  EXPECT_EQ(bytes.size(), 256u);
  EXPECT_TRUE(raw.ackOut());

  // A short write: half of a command block is not a command.
  world.board().faults.inject("write-pipe", FaultKind::Busy);
  std::uint32_t done = 0;
  auto block = commandBlock(0x06, 0, 0);
  ASSERT_TRUE(raw.device->writePipe(testing::kOut, block.data(), 32, done, 1000, raw.error));
  EXPECT_EQ(done, 16u);
  EXPECT_FALSE(raw.ackIn());
  ASSERT_TRUE(raw.recover());

  // A pipe that never answers: the transfer times out on the clock.
  world.board().faults.inject("read-pipe", FaultKind::Stall);
  ASSERT_TRUE(raw.write(commandBlock(0x06, 0, 0)));
  std::uint64_t start = clock.tickMs();
  EXPECT_FALSE(raw.read(bytes, 64, 3000));
  EXPECT_EQ(raw.error, USB_ERROR_SEM_TIMEOUT);
  EXPECT_EQ(clock.tickMs() - start, 3000u);
  EXPECT_TRUE(raw.ackIn());

  // A stalled pipe.
  world.board().faults.inject("write-pipe", FaultKind::Fail);
  EXPECT_FALSE(raw.write(commandBlock(0x06, 0, 0)));
  EXPECT_EQ(raw.error, USB_ERROR_GEN_FAILURE);
  EXPECT_TRUE(raw.deviceHalted(testing::kOut));
  ASSERT_TRUE(raw.recover());

  // Opening meets another program, then WinUSB fails.
  raw.device.reset();
  world.board().faults.inject("open", FaultKind::Busy);
  world.board().faults.inject("initialize", FaultKind::Fail);
  UsbOpenStep step;
  std::uint32_t error = 0;
  EXPECT_EQ(world.usb().open(world.boardPath(), step, error), nullptr);
  EXPECT_EQ(error, USB_ERROR_BUSY);
  EXPECT_EQ(world.usb().open(world.boardPath(), step, error), nullptr);
  EXPECT_EQ(step, UsbOpenStep::WinUsb);
  ASSERT_TRUE(raw.open());

  // A reboot that does not take: the board comes back in update mode, then not at all.
  raw.device.reset();
  world.board().faults.inject("boot", FaultKind::Fail);
  reboot();
  clock.sleepMs(1100);
  EXPECT_EQ(boards().size(), 1u);
  EXPECT_FALSE(dongleOnHid());
  world.board().faults.inject("boot", FaultKind::Stall);
  reboot();
  clock.sleepMs(1100);
  EXPECT_TRUE(boards().empty());
  EXPECT_FALSE(dongleOnHid());
  world.plugDongle();
  EXPECT_TRUE(dongleOnHid());
}

}  // namespace
}  // namespace tw::sim
