// What exactly reaches the HID device: a recording device behind the dongle link.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "dongle/dongle_link.h"
#include "panel/http_server.h"
#include "platform/host/posix_sockets.h"
#include "server_fixture.h"
#include "sim/memory_connection.h"
#include "sim/virtual_clock.h"

namespace tw {
namespace {

struct Recorded {
  std::vector<std::vector<std::uint8_t>> featureWrites;
  std::vector<std::uint8_t> featureIds{1, 3, 0xF7};
  bool featureIdsComplete = false;
};

class RecordingDevice : public HidDevice {
 public:
  explicit RecordingDevice(Recorded& recorded) : recorded_(recorded) {}
  bool getAttributes(HidAttributes& out) override {
    out = HidAttributes{0x054C, 0x0CE6, 0x0100};
    return true;
  }
  bool getCaps(HidCaps& out) override {
    out = HidCaps{5, 1, 64, 48, 64};
    return true;
  }
  bool getFeatureReportIds(std::vector<std::uint8_t>& ids) override {
    ids = recorded_.featureIds;
    return recorded_.featureIdsComplete;
  }
  bool getFeature(std::uint8_t* buffer, std::size_t length) override {
    std::fill(buffer + 1, buffer + length, 0);
    if (buffer[0] == 0xF8) std::memcpy(buffer + 1, "1.0.0", 5);
    return true;
  }
  bool setFeature(const std::uint8_t* buffer, std::size_t length) override {
    recorded_.featureWrites.emplace_back(buffer, buffer + length);
    return true;
  }
  InputReadResult readInput(std::uint8_t*, std::size_t, std::uint32_t, std::uint32_t) override {
    return {};
  }
  bool writeOutput(const std::uint8_t*, std::size_t, std::uint32_t) override { return true; }

 private:
  Recorded& recorded_;
};

class RecordingPort : public HidPort {
 public:
  Recorded recorded;
  bool listInterfaces(std::vector<std::string>& paths) override {
    paths = {"\\\\?\\hid#vid_054c&pid_0ce6#1"};
    return true;
  }
  std::unique_ptr<HidDevice> open(const std::string&, HidAccess, bool) override {
    return std::make_unique<RecordingDevice>(recorded);
  }
};

class DeviceReports : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.prepareWithoutSocket(17833)); }
  std::string call(const std::string& method, const std::string& path, const std::string& body) {
    sim::MemoryConnection connection(method + " " + path + "?k=" + server.runKey() +
                                     " HTTP/1.1\r\nHost: localhost:17833\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\n\r\n" + body);
    server.serveConnection(connection);
    return test::bodyOf(connection.sent);
  }

  RecordingPort port;
  DongleLink dongle{port};
  test::BusyFlagFirmware firmware;
  sim::VirtualClock clock;
  PosixSockets sockets;
  test::FixedRandom random;
  PanelHttpServer server{
      {sockets, random, clock}, dongle, firmware, "TWTOKENPLACEHOLDER00000000000000"};
};

TEST_F(DeviceReports, ShortPayloadIsSentAsAWholeZeroPaddedReport) {
  // Ten bytes 1..10 in base64.
  ASSERT_EQ(call("POST", "/api/feature", "id=247&data=AQIDBAUGBwgJCg%3D%3D"), "{\"ok\":true}");
  ASSERT_EQ(port.recorded.featureWrites.size(), 1u);
  const std::vector<std::uint8_t>& report = port.recorded.featureWrites[0];
  ASSERT_EQ(report.size(), 64u);
  EXPECT_EQ(report[0], 247);
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(report[i], i);
  for (std::size_t i = 11; i < 64; ++i) EXPECT_EQ(report[i], 0) << i;

  // A later shorter write carries nothing over from the earlier one.
  ASSERT_EQ(call("POST", "/api/feature", "id=247&data=/w=="), "{\"ok\":true}");
  const std::vector<std::uint8_t>& second = port.recorded.featureWrites[1];
  EXPECT_EQ(second[1], 0xFF);
  for (std::size_t i = 2; i < 64; ++i) EXPECT_EQ(second[i], 0) << i;
}

TEST_F(DeviceReports, FeatureListKeepsWhatWasReadAndTheVendorReports) {
  // The id list failed part way: the ids read so far stay, and 246..249 are always there.
  EXPECT_EQ(call("GET", "/api/dev", ""),
            "{\"found\":true,\"vid\":1356,\"pid\":3302,\"version\":\"1.0.0\",\"name\":\"Tarnwick "
            "Bridge\",\"features\":[1,3,246,247,248,249],\"updating\":false}");
  port.recorded.featureIds = {};
  EXPECT_NE(call("GET", "/api/dev", "").find("\"features\":[246,247,248,249]"), std::string::npos);
}

}  // namespace
}  // namespace tw
