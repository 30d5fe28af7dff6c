// The one channel for report exchanges: which step ends an exchange, how the device's report
// lengths are checked against the caller's buffer and payload, and how each use opens the dongle.
#include "dongle/dongle_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dongle/dongle_link.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw {
namespace {

// A device with set report lengths that records what it is asked to exchange.
class LengthDevice : public HidDevice {
 public:
  explicit LengthDevice(HidCaps caps, bool capsWork = true) : caps_(caps), capsWork_(capsWork) {}
  bool getAttributes(HidAttributes& out) override {
    out = HidAttributes{0x054C, 0x0CE6, 0x0100};
    return true;
  }
  bool getCaps(HidCaps& out) override {
    ++capsReads;
    if (capsWork_) out = caps_;
    return capsWork_;
  }
  bool getFeatureReportIds(std::vector<std::uint8_t>&) override { return false; }
  bool getFeature(std::uint8_t* buffer, std::size_t length) override {
    exchanged = length;
    if (!answers) return false;
    std::memset(buffer + 1, buffer[0] == 0xF8 ? 0 : 0x5A, length - 1);
    if (buffer[0] == 0xF8) {
      std::memcpy(buffer + 1, identity.data(), std::min(identity.size(), length - 1));
    }
    return true;
  }
  bool setFeature(const std::uint8_t*, std::size_t length) override {
    exchanged = length;
    return answers;
  }
  InputReadResult readInput(std::uint8_t*, std::size_t, std::uint32_t, std::uint32_t) override {
    return {};
  }
  bool writeOutput(const std::uint8_t*, std::size_t length, std::uint32_t) override {
    exchanged = length;
    return answers;
  }

  bool answers = true;
  std::size_t exchanged = 0;
  int capsReads = 0;
  std::string identity = "1.2.3 \"x\"";

 private:
  HidCaps caps_;
  bool capsWork_;
};

HidCaps withLengths(std::uint16_t input, std::uint16_t output, std::uint16_t feature) {
  HidCaps caps;
  caps.usage = 5;
  caps.usagePage = 1;
  caps.inputReportByteLength = input;
  caps.outputReportByteLength = output;
  caps.featureReportByteLength = feature;
  return caps;
}

TEST(DongleChannel, ChecksTheReportLengthAgainstTheBufferAndThePayload) {
  struct Case {
    std::uint16_t deviceLength;
    std::size_t capacity;
    std::size_t payload;
    DongleExchange expected;
  };
  const Case cases[] = {
      {64, 512, 0, DongleExchange::Done},       {64, 512, 63, DongleExchange::Done},
      {64, 512, 64, DongleExchange::BadLength}, {2, 512, 1, DongleExchange::Done},
      {1, 512, 0, DongleExchange::BadLength},   {0, 512, 0, DongleExchange::BadLength},
      {512, 512, 0, DongleExchange::Done},      {513, 512, 0, DongleExchange::BadLength},
      {64, 64, 0, DongleExchange::Done},        {64, 63, 0, DongleExchange::BadLength},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "length " << c.deviceLength << ", capacity " << c.capacity
                                    << ", payload " << c.payload);
    auto device =
        std::make_unique<LengthDevice>(withLengths(c.deviceLength, c.deviceLength, c.deviceLength));
    LengthDevice& seen = *device;
    DongleChannel channel(std::move(device));
    // Only a whole report of the device's length is exchanged, and nothing when refused.
    const std::size_t whole = c.expected == DongleExchange::Done ? c.deviceLength : 0;
    std::uint8_t report[600] = {0x07};
    EXPECT_EQ(channel.setFeature(report, c.capacity, c.payload), c.expected);
    EXPECT_EQ(seen.exchanged, whole);
    seen.exchanged = 0;
    EXPECT_EQ(channel.writeOutput(report, c.capacity, c.payload, 1000), c.expected);
    EXPECT_EQ(seen.exchanged, whole);
    if (c.payload != 0) continue;
    seen.exchanged = 0;
    std::size_t length = 99;
    EXPECT_EQ(channel.getFeature(report, c.capacity, length), c.expected);
    EXPECT_EQ(seen.exchanged, whole);
    EXPECT_EQ(length, whole);
    EXPECT_EQ(channel.inputLength(c.capacity), whole);
  }
}

TEST(DongleChannel, TellsTheStepThatEndedAnExchange) {
  std::uint8_t report[512] = {0x07};
  std::size_t length = 0;
  DongleChannel none;
  EXPECT_EQ(none.getFeature(report, sizeof report, length), DongleExchange::NotOpen);
  EXPECT_EQ(none.setFeature(report, sizeof report, 1), DongleExchange::NotOpen);
  EXPECT_EQ(none.writeOutput(report, sizeof report, 1, 1000), DongleExchange::NotOpen);
  EXPECT_EQ(none.inputLength(1024), 0u);
  EXPECT_EQ(none.readInput(report, 64, 10, 10).outcome, InputReadResult::Outcome::Failed);

  DongleChannel blind(std::make_unique<LengthDevice>(withLengths(64, 48, 64), false));
  EXPECT_FALSE(blind.capsKnown());
  EXPECT_EQ(blind.getFeature(report, sizeof report, length), DongleExchange::BadLength);
  EXPECT_EQ(blind.setFeature(report, sizeof report, 1), DongleExchange::BadLength);
  EXPECT_EQ(blind.writeOutput(report, sizeof report, 1, 1000), DongleExchange::BadLength);
  EXPECT_EQ(blind.inputLength(1024), 0u);

  auto device = std::make_unique<LengthDevice>(withLengths(64, 48, 64));
  device->answers = false;
  DongleChannel deaf(std::move(device));
  EXPECT_EQ(deaf.getFeature(report, sizeof report, length), DongleExchange::Failed);
  EXPECT_EQ(deaf.setFeature(report, sizeof report, 1), DongleExchange::Failed);
  EXPECT_EQ(deaf.writeOutput(report, sizeof report, 1, 1000), DongleExchange::Failed);
}

TEST(DongleChannel, ReadsTheIdentityWithTheFeatureLengthCapped) {
  struct Case {
    std::uint16_t featureLength;
    std::size_t maxLength;
    bool read;
    std::size_t exchanged;
    const char* text;
  };
  for (Case c : {Case{64, 512, true, 64, "1.2.3 \"x\""}, Case{600, 512, true, 512, "1.2.3 \"x\""},
                 Case{600, 256, true, 256, "1.2.3 \"x\""}, Case{3, 512, true, 3, "1."},
                 Case{2, 512, false, 0, ""}}) {
    auto device = std::make_unique<LengthDevice>(withLengths(64, 48, c.featureLength));
    LengthDevice* seen = device.get();
    DongleChannel channel(std::move(device));
    std::string text = "stale";
    EXPECT_EQ(channel.readIdentity(c.maxLength, IdentityChars::Printable, text), c.read);
    EXPECT_EQ(seen->exchanged, c.exchanged);
    EXPECT_EQ(text, c.text);
  }
  DongleChannel channel(std::make_unique<LengthDevice>(withLengths(64, 48, 64)));
  std::string text;
  ASSERT_TRUE(channel.readIdentity(512, IdentityChars::JsonSafe, text));
  EXPECT_EQ(text, "1.2.3 x");
}

// The access each use opens the dongle with, recorded in front of the simulated world.
class RecordingHid : public HidPort {
 public:
  explicit RecordingHid(HidPort& inner) : inner_(inner) {}
  bool listInterfaces(std::vector<std::string>& paths) override {
    return inner_.listInterfaces(paths);
  }
  std::unique_ptr<HidDevice> open(const std::string& path, HidAccess access,
                                  bool overlapped) override {
    opens.push_back({access, overlapped});
    if (refuseAccess && access != HidAccess::None) return nullptr;
    return inner_.open(path, access, overlapped);
  }
  std::vector<std::pair<HidAccess, bool>> opens;
  bool refuseAccess = false;

 private:
  HidPort& inner_;
};

TEST(DongleChannel, EachUseOpensTheDongleWithTheAccessItNeeds) {
  sim::VirtualClock clock;
  sim::World world{clock};
  RecordingHid hid{world.hid()};
  DongleLink link{hid};
  std::string path;
  ASSERT_TRUE(link.getDonglePath(path, false));
  using Open = std::pair<HidAccess, bool>;
  struct Case {
    DongleUse use;
    Open open;
  };
  for (const Case& c : {Case{DongleUse::FeatureReports, {HidAccess::ReadWrite, false}},
                        Case{DongleUse::OutputReports, {HidAccess::ReadWrite, true}},
                        Case{DongleUse::InputReports, {HidAccess::Read, true}}}) {
    hid.opens.clear();
    DongleChannel channel = link.openChannel(c.use);
    EXPECT_TRUE(channel.isOpen());
    EXPECT_TRUE(channel.capsKnown());
    EXPECT_EQ(hid.opens, std::vector<Open>{c.open});
  }
  // Refused read and write access: feature reports still go through a handle without access
  // rights; the other uses have no second way. (Each refused open is retried once after a fresh
  // discovery, whose own opens fall back the same way.)
  hid.refuseAccess = true;
  DongleChannel features = link.openChannel(DongleUse::FeatureReports);
  EXPECT_TRUE(features.isOpen());
  EXPECT_EQ(hid.opens.back(), Open(HidAccess::None, false));
  EXPECT_FALSE(link.openChannel(DongleUse::OutputReports).isOpen());
  EXPECT_FALSE(link.openChannel(DongleUse::InputReports).isOpen());
}

}  // namespace
}  // namespace tw
