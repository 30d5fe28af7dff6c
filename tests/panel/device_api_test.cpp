// The device API on the simulated dongle, driven in memory on virtual time.
#include <gtest/gtest.h>

#include "dongle/dongle_link.h"
#include "panel/base64.h"
#include "panel/http_server.h"
#include "platform/host/posix_sockets.h"
#include "server_fixture.h"
#include "sim/memory_connection.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw {
namespace {

using test::bodyOf;
using test::statusLine;

constexpr std::uint32_t kPort = 17840;
const std::string kAsset = "<script>const K=\"TWTOKENPLACEHOLDER00000000000000\";</script>";

std::string encode(const std::vector<std::uint8_t>& bytes) {
  std::string text(base64EncodedCapacity(bytes.size()), '\0');
  text.resize(base64Encode(bytes.data(), bytes.size(), text.data()));
  return text;
}

std::vector<std::uint8_t> decode(const std::string& text) {
  std::vector<std::uint8_t> bytes(kMaxDecodedBytes);
  int n = base64Decode(text, bytes.data());
  bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return bytes;
}

std::string urlEncode(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '+' || c == '/' || c == '=') {
      static const char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[(c >> 4) & 15];
      out += kHex[c & 15];
    } else {
      out += c;
    }
  }
  return out;
}

class DeviceApiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.prepareWithoutSocket(kPort)); }

  std::string call(const std::string& method, const std::string& pathAndQuery,
                   const std::string& body = "", std::size_t sendBudget = SIZE_MAX) {
    std::string target = pathAndQuery + (pathAndQuery.find('?') == std::string::npos ? "?" : "&") +
                         "k=" + server.runKey();
    std::string request = method + " " + target +
                          " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(kPort) +
                          "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    sim::MemoryConnection connection(request);
    connection.sendBudget = sendBudget;
    server.serveConnection(connection);
    EXPECT_TRUE(connection.shutDown);
    return connection.sent;
  }
  void expectError(const std::string& answer, const std::string& status,
                   const std::string& message) {
    EXPECT_EQ(statusLine(answer), "HTTP/1.1 " + status) << answer;
    EXPECT_EQ(bodyOf(answer), "{\"ok\":false,\"error\":\"" + message + "\"}") << answer;
  }
  std::string writeBody(int id, const std::vector<std::uint8_t>& payload) {
    return "id=" + std::to_string(id) + "&data=" + urlEncode(encode(payload));
  }

  sim::VirtualClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  PosixSockets sockets;  // never used: the server gets no socket here
  test::FixedRandom random;
  PanelHttpServer server{{sockets, random, clock}, dongle, firmware, kAsset};
};

TEST_F(DeviceApiTest, DeviceInfoDescribesTheDongle) {
  std::string answer = call("GET", "/api/dev");
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_EQ(bodyOf(answer),
            "{\"found\":true,\"vid\":1356,\"pid\":3302,\"version\":\"0.9.3\",\"name\":\"Tarnwick "
            "Bridge\",\"features\":[246,247,248,249],\"updating\":false}");
  firmware.busy = true;
  EXPECT_NE(bodyOf(call("POST", "/api/dev")).find("\"updating\":true}"), std::string::npos);
}

TEST_F(DeviceApiTest, DeviceInfoWithoutADongleIsNotFound) {
  world.unplugDongle();
  std::string answer = call("GET", "/api/dev");
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_EQ(bodyOf(answer), "{\"found\":false,\"updating\":false}");
  firmware.busy = true;
  EXPECT_EQ(bodyOf(call("GET", "/api/dev")), "{\"found\":false,\"updating\":true}");
}

TEST_F(DeviceApiTest, VersionTextIsCleanedForJson) {
  const std::uint8_t spaces[] = {0xF8, ' ', '\t', 0x7F, ' ', 0};
  EXPECT_EQ(identityTextFromReport(spaces, sizeof spaces, IdentityChars::JsonSafe), "");
  const std::uint8_t quoted[] = {0xF8, '1', '"', ',', '\\', 'x', ' ', ' ', 0, 'y'};
  EXPECT_EQ(identityTextFromReport(quoted, sizeof quoted, IdentityChars::JsonSafe), "1,x");
  std::vector<std::uint8_t> longText(100, 'a');
  longText[0] = 0xF8;
  EXPECT_EQ(
      identityTextFromReport(longText.data(), longText.size(), IdentityChars::JsonSafe).size(),
      63u);

  // Whatever the dongle answers, the device info stays well-formed JSON.
  DongleLink fresh{world.hid()};
  world.dongle().setIdentityOverride({'9', '"', ',', '"', 'x', '"', ':', '1', '\\'});
  EXPECT_NE(bodyOf(call("GET", "/api/dev")).find("\"version\":\"9,x:1\""), std::string::npos);
}

TEST_F(DeviceApiTest, FeatureReadReturnsTheWholeReport) {
  std::string answer = call("GET", "/api/feature?id=248");
  ASSERT_EQ(statusLine(answer), "HTTP/1.1 200 OK") << answer;
  std::string body = bodyOf(answer);
  ASSERT_EQ(body.rfind("{\"ok\":true,\"data\":\"", 0), 0u);
  std::vector<std::uint8_t> report = decode(body.substr(19, body.size() - 21));
  ASSERT_EQ(report.size(), 64u);
  EXPECT_EQ(report[0], 0xF8);
  EXPECT_EQ(std::string(report.begin() + 1, report.begin() + 6), "0.9.3");
  EXPECT_EQ(report[6], 0);
}

TEST_F(DeviceApiTest, FeatureReadFailures) {
  for (const char* bad : {"0", "256", "-1", "x"}) {
    expectError(call("GET", std::string("/api/feature?id=") + bad), "400 Bad Request", "bad id");
  }
  expectError(call("GET", "/api/feature"), "400 Bad Request", "no id");
  // Once the dongle's path is known, the fault meets the report read, not discovery.
  EXPECT_EQ(statusLine(call("GET", "/api/feature?id=249")), "HTTP/1.1 200 OK");
  world.dongle().faults.inject("get-feature", sim::FaultKind::Fail);
  expectError(call("GET", "/api/feature?id=249"), "503 Service Unavailable",
              "The dongle did not answer");
  world.unplugDongle();
  expectError(call("GET", "/api/feature?id=249"), "503 Service Unavailable",
              "The Bridge is not plugged in");
}

TEST_F(DeviceApiTest, CommandWritesReachTheDongle) {
  std::vector<std::uint8_t> payload(63, 0);
  payload[0] = 0x01;  // apply
  for (std::size_t i = 0; i < sim::kDongleConfigSize; ++i) {
    payload[1 + i] = sim::factoryDongleConfig()[i];
  }
  payload[1 + 10] = 2;  // full-speed reports
  std::string answer = call("POST", "/api/feature", writeBody(246, payload));
  EXPECT_EQ(bodyOf(answer), "{\"ok\":true}") << answer;
  EXPECT_EQ(world.dongle().appliedConfig()[10], 2);

  // White space and stray characters in the base64 text are skipped.
  std::string spaced = encode({0x02});
  spaced = "%20" + spaced.substr(0, 1) + "%0A!*" + spaced.substr(1);
  EXPECT_EQ(bodyOf(call("POST", "/api/feature", "id=246&data=" + spaced)), "{\"ok\":true}");
  EXPECT_EQ(world.dongle().saveCount(), 1u);
}

TEST_F(DeviceApiTest, CommandReportIsGuarded) {
  expectError(call("POST", "/api/feature", writeBody(246, {0x04})), "409 Conflict",
              "Use the app's firmware update instead");
  EXPECT_FALSE(world.dongleInUpdateMode());
  firmware.busy = true;
  expectError(call("POST", "/api/feature", writeBody(246, {0x02})), "409 Conflict",
              "The firmware is being updated");
  EXPECT_EQ(world.dongle().saveCount(), 0u);
  // Other reports are not guarded: the dongle itself answers.
  EXPECT_EQ(statusLine(call("POST", "/api/feature", writeBody(247, {0x01}))).find("409"),
            std::string::npos);
}

TEST_F(DeviceApiTest, ReportWriteParameters) {
  expectError(call("POST", "/api/feature", "data=AA"), "400 Bad Request", "no id");
  expectError(call("POST", "/api/feature", "id=246"), "400 Bad Request", "no data");
  expectError(call("POST", "/api/feature", "id=0&data=AA"), "400 Bad Request", "bad id");
  expectError(call("POST", "/api/output", "id=256&data=AA"), "400 Bad Request", "bad id");
  std::vector<std::uint8_t> big(513, 1);
  expectError(call("POST", "/api/feature", writeBody(247, big)), "400 Bad Request",
              "payload too long");
  big.resize(512);
  expectError(call("POST", "/api/feature", writeBody(247, big)), "400 Bad Request",
              "payload does not fit the report");
  expectError(call("POST", "/api/feature", writeBody(247, std::vector<std::uint8_t>(64, 0))),
              "400 Bad Request", "payload does not fit the report");
  world.dongle().faults.inject("set-feature", sim::FaultKind::Fail);
  expectError(call("POST", "/api/feature", writeBody(246, {0x02})), "503 Service Unavailable",
              "The dongle refused the write");
}

TEST_F(DeviceApiTest, OutputReportsAreForwarded) {
  expectError(call("GET", "/api/output?id=2&data=AA"), "405 Method Not Allowed", "POST only");
  std::vector<std::uint8_t> rumble(47, 0);
  rumble[0] = 0x03;
  rumble[2] = 140;
  EXPECT_EQ(bodyOf(call("POST", "/api/output", writeBody(2, rumble))), "{\"ok\":true}");
  auto outputs = world.dongle().outputReports();
  ASSERT_EQ(outputs.size(), 1u);
  ASSERT_EQ(outputs[0].size(), 48u);
  EXPECT_EQ(outputs[0][0], 2);
  EXPECT_EQ(outputs[0][1], 0x03);
  EXPECT_EQ(outputs[0][3], 140);
  expectError(call("POST", "/api/output", writeBody(2, std::vector<std::uint8_t>(48, 0))),
              "400 Bad Request", "payload does not fit the report");
  world.dongle().faults.inject("write-output", sim::FaultKind::Fail);
  expectError(call("POST", "/api/output", writeBody(2, rumble)), "503 Service Unavailable",
              "The dongle did not take the report");
  world.unplugDongle();
  expectError(call("POST", "/api/output", writeBody(2, rumble)), "503 Service Unavailable",
              "The Bridge is not plugged in");
}

TEST_F(DeviceApiTest, OpenTouchesNoDevice) {
  world.unplugDongle();
  EXPECT_EQ(bodyOf(call("POST", "/api/open")), "{\"ok\":true}");
}

constexpr std::string_view kStreamHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n"
    "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Accel-Buffering: no\r\n"
    "Connection: close\r\n\r\n";

TEST_F(DeviceApiTest, InputStreamSendsEachReport) {
  static_assert(kStreamHead.size() == 167);
  // The stream ends when the peer goes away: here after a few events' worth of bytes.
  std::string answer = call("GET", "/api/input", "", kStreamHead.size() + 5 * 96);
  ASSERT_EQ(answer.substr(0, kStreamHead.size()), kStreamHead);
  std::string events = answer.substr(kStreamHead.size());
  std::size_t at = 0;
  int complete = 0;
  while (events.find("\n\n", at) != std::string::npos) {
    std::size_t end = events.find("\n\n", at);
    std::string event = events.substr(at, end - at);
    ASSERT_EQ(event.rfind("data: ", 0), 0u) << event;
    std::vector<std::uint8_t> report = decode(event.substr(6));
    ASSERT_EQ(report.size(), 64u);
    EXPECT_EQ(report[0], 0x01);
    ++complete;
    at = end + 2;
  }
  EXPECT_EQ(complete, 5);
}

TEST_F(DeviceApiTest, QuietInputStreamSendsKeepAlives) {
  world.setController([](sim::ControllerState& c) { c.on = false; });
  std::uint64_t before = clock.tickMs();
  std::string answer = call("GET", "/api/input", "", kStreamHead.size() + 3 * 3);
  EXPECT_EQ(answer.substr(kStreamHead.size()), ":\n\n:\n\n:\n\n");
  // One keep-alive per quiet read: a second of waiting each.
  EXPECT_GE(clock.tickMs() - before, 3000u);
}

TEST_F(DeviceApiTest, InputStreamWithoutADongleEndsAfterTheHead) {
  world.unplugDongle();
  EXPECT_EQ(call("GET", "/api/input"), kStreamHead);
}

TEST_F(DeviceApiTest, UnreadableCapabilitiesAnswerInEachCallsWords) {
  // Once the dongle's path is known, the next capability read is the call's own.
  ASSERT_EQ(statusLine(call("GET", "/api/feature?id=248")), "HTTP/1.1 200 OK");
  auto failNextCaps = [&] { world.dongle().faults.inject("caps", sim::FaultKind::Fail); };
  failNextCaps();
  expectError(call("GET", "/api/feature?id=248"), "500 Internal Server Error", "odd report length");
  failNextCaps();
  expectError(call("POST", "/api/feature", writeBody(246, {0x02})), "400 Bad Request",
              "payload does not fit the report");
  failNextCaps();
  expectError(call("POST", "/api/output", writeBody(2, {0x01})), "400 Bad Request",
              "payload does not fit the report");
  failNextCaps();
  EXPECT_EQ(bodyOf(call("GET", "/api/dev")), "{\"found\":false,\"updating\":false}");
  failNextCaps();
  EXPECT_EQ(call("GET", "/api/input"), kStreamHead);
  EXPECT_EQ(world.dongle().saveCount(), 0u);
}

}  // namespace
}  // namespace tw
