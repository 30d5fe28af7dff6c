#include "dongle/dongle_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw {
namespace {

using sim::FaultKind;

class DongleLinkTest : public ::testing::Test {
 protected:
  explicit DongleLinkTest(sim::World::Options options = {})
      : world(clock, options), link(world.hid()) {}

  DongleStatus poll() {
    DongleStatus status;
    link.discoverDongle(status, true);
    return status;
  }

  sim::VirtualClock clock;
  sim::World world;
  DongleLink link;
};

TEST_F(DongleLinkTest, FindsTheDongleBehindOtherDevicesAndReadsSignalAndBattery) {
  world.unplugDongle();
  world.plugKeyboard();
  world.plugDualSense();
  world.plugDongle();
  world.setController([](sim::ControllerState& c) {
    c.batteryLevel = 4;
    c.powerState = 1;
    c.signalDbm = -67;
  });

  DongleStatus status = poll();
  EXPECT_TRUE(status.present);
  EXPECT_EQ(status.firmware, "0.9.3");
  EXPECT_EQ(status.signalDbm, -67);
  EXPECT_EQ(status.batteryLevel, 4);
  EXPECT_EQ(status.batteryState, 1u);
  EXPECT_EQ(link.rememberedPathForTest(), world.donglePath());
}

TEST_F(DongleLinkTest, APlainDualSenseIsTheDongleOnlyWhenItsPathIsRemembered) {
  world.unplugDongle();
  world.plugDualSense();
  EXPECT_FALSE(poll().present);
  EXPECT_EQ(link.rememberedPathForTest(), "");

  // A remembered dongle whose identity read fails once still counts, with no firmware text.
  world.plugDongle();
  ASSERT_TRUE(poll().present);
  world.dongle().faults.inject("get-feature", FaultKind::Fail);
  DongleStatus status = poll();
  EXPECT_TRUE(status.present);
  EXPECT_EQ(status.firmware, "");

  // The same failure on a dongle at a path not remembered is not accepted.
  world.unplugDongle();
  world.plugDongle(2);
  world.dongle().faults.inject("get-feature", FaultKind::Fail);
  EXPECT_FALSE(poll().present);
}

TEST(IdentityText, KeepsPrintableAsciiUpTo63CharactersWithoutTrailingSpaces) {
  auto text = [](std::vector<std::uint8_t> payload) {
    payload.insert(payload.begin(), 0xF8);
    return identityTextFromReport(payload.data(), payload.size());
  };
  EXPECT_EQ(text({' ', ' ', ' '}), "");
  EXPECT_EQ(text({0x01, 0x7F, 0x80, 0xFF}), "");
  EXPECT_EQ(text({'1', 0x07, '.', 0x1B, '2', 0xC3, '.', '0', ' ', ' '}), "1.2.0");
  EXPECT_EQ(text({'1', 0, '2'}), "1");  // ends at the first NUL
  std::vector<std::uint8_t> longer(80, 'x');
  EXPECT_EQ(text(longer), std::string(63, 'x'));
  // Skipped bytes don't count towards the 63.
  std::vector<std::uint8_t> mixed;
  for (int i = 0; i < 70; ++i) mixed.insert(mixed.end(), {0x01, 'a'});
  EXPECT_EQ(text(mixed), std::string(63, 'a'));
}

TEST_F(DongleLinkTest, JunkIdentityRepliesAreNotADongle) {
  world.dongle().setIdentityOverride({' ', ' ', ' ', ' '});
  EXPECT_FALSE(poll().present);
  world.dongle().setIdentityOverride({0x02, 0x03, 0x90, 0xA0});
  EXPECT_FALSE(poll().present);
  world.dongle().setIdentityOverride({'v', 0x01, '1', '.', '0', 0x7F});
  EXPECT_EQ(poll().firmware, "v1.0");
}

class OddFeatureLength : public DongleLinkTest, public ::testing::WithParamInterface<int> {
 protected:
  OddFeatureLength() : DongleLinkTest(optionsWith(GetParam())) {}
  static sim::World::Options optionsWith(int length) {
    sim::World::Options options;
    options.dongle.featureLength = static_cast<std::uint16_t>(length);
    return options;
  }
};

TEST_P(OddFeatureLength, TinyReportsAreSkippedAndLongOnesReadAt256Bytes) {
  DongleStatus status = poll();
  std::vector<std::size_t> lengths = world.hid().featureLengthsSeen();
  if (GetParam() <= 2) {
    EXPECT_FALSE(status.present);
    EXPECT_TRUE(lengths.empty()) << "no report may be read from a device this small";
  } else {
    ASSERT_FALSE(lengths.empty());
    EXPECT_EQ(lengths.front(), static_cast<std::size_t>(std::min(GetParam(), 256)));
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, OddFeatureLength, ::testing::Values(1, 2, 3, 300));

TEST_F(DongleLinkTest, WithoutAccessRightsIdentityAndSignalWorkButNotTheBattery) {
  world.dongle().faults.always("open-with-access", FaultKind::Fail);
  DongleStatus status = poll();
  EXPECT_TRUE(status.present);
  EXPECT_EQ(status.firmware, "0.9.3");
  EXPECT_EQ(status.signalDbm, -55);
  EXPECT_EQ(status.batteryLevel, -1);
}

TEST_F(DongleLinkTest, BatteryNibbles) {
  world.setController([](sim::ControllerState& c) {
    c.batteryLevel = 13;  // a nibble above 10 reads as full
    c.powerState = 2;
  });
  DongleStatus status = poll();
  EXPECT_EQ(status.batteryLevel, 10);
  EXPECT_EQ(status.batteryState, 2u);

  world.setController([](sim::ControllerState& c) {
    c.batteryLevel = 0;
    c.powerState = 0;
  });
  EXPECT_EQ(poll().batteryLevel, 0);
}

TEST(DongleLinkInput, ShortReportsAndOtherReportIdsLeaveTheBatteryUnread) {
  for (auto [length, id] : {std::pair<int, int>{53, 0x01}, {64, 0x31}}) {
    sim::VirtualClock clock;
    sim::World::Options options;
    options.dongle.inputLength = static_cast<std::uint16_t>(length);
    options.dongle.inputReportId = static_cast<std::uint8_t>(id);
    sim::World world(clock, options);
    DongleLink link(world.hid());
    DongleStatus status;
    link.discoverDongle(status, true);
    EXPECT_TRUE(status.present);
    EXPECT_EQ(status.batteryLevel, -1) << "length " << length << " id " << id;
  }
}

TEST_F(DongleLinkTest, AnInputReadThatNeverCompletesIsBoundedTo600Ms) {
  world.dongle().faults.always("read-input", FaultKind::Stall);
  std::uint64_t start = clock.tickMs();
  DongleStatus status = poll();
  EXPECT_TRUE(status.present);
  EXPECT_EQ(status.batteryLevel, -1);
  EXPECT_LE(clock.tickMs() - start, 600u);

  // A controller that is off sends nothing: the read gives up after 400 ms.
  world.dongle().faults.clearAll();
  world.setController([](sim::ControllerState& c) { c.on = false; });
  start = clock.tickMs();
  status = poll();
  EXPECT_EQ(status.batteryLevel, -1);
  EXPECT_EQ(status.signalDbm, 0);
  EXPECT_LE(clock.tickMs() - start, 400u);
}

TEST_F(DongleLinkTest, EnumerationFailureLeavesAClearedStatus) {
  world.hid().enumerationFaults.inject("enumerate", FaultKind::Fail);
  DongleStatus status = poll();
  EXPECT_FALSE(status.present);
  EXPECT_EQ(status.batteryLevel, -1);
  EXPECT_TRUE(poll().present);
}

TEST_F(DongleLinkTest, PathLookupAndReopeningAfterTheDongleMovedPorts) {
  std::string path;
  ASSERT_TRUE(link.getDonglePath(path, false));
  EXPECT_EQ(path, world.donglePath());

  // Moved to another USB port: the remembered path is stale, the open retries with discovery.
  world.unplugDongle();
  world.plugDongle(3);
  EXPECT_EQ(link.rememberedPathForTest(), path);
  auto device = link.openDongle(HidAccess::ReadWrite, false);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(link.rememberedPathForTest(), world.donglePath());
  EXPECT_EQ(DongleLink::featureReportLength(*device), 64u);

  world.unplugDongle();
  EXPECT_EQ(link.openDongle(HidAccess::ReadWrite, false), nullptr);
  EXPECT_FALSE(link.getDonglePath(path, true));
  EXPECT_EQ(link.rememberedPathForTest(), "");
}

}  // namespace
}  // namespace tw
