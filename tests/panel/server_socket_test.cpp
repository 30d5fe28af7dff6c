// The request rules against a running server on real loopback sockets.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <vector>

#include "dongle/dongle_link.h"
#include "panel/http_server.h"
#include "panel_page_asset.h"
#include "platform/host/posix_sockets.h"
#include "platform/host/steady_clock.h"
#include "server_fixture.h"
#include "sim/world.h"

namespace tw {
namespace {

using test::bodyOf;
using test::roundTrip;
using test::statusLine;

class ServerSocket : public ::testing::Test {
 protected:
  static HttpServerSettings shortWaits() {
    HttpServerSettings settings;
    settings.receiveTimeoutMs = 3000;
    settings.sendTimeoutMs = 2000;
    return settings;
  }
  void SetUp() override {
    ASSERT_TRUE(server.startServer());
    port = server.serverPort();
    key = server.runKey();
  }

  std::string request(const std::string& line, const std::string& headers) {
    return roundTrip(port, line + "\r\n" + headers + "\r\n");
  }
  std::string host() { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }
  std::string api(const std::string& pathAndQuery, const std::string& extra = "") {
    return request("GET " + pathAndQuery + " HTTP/1.1", host() + extra);
  }
  void expectError(const std::string& answer, const std::string& status,
                   const std::string& message) {
    EXPECT_EQ(statusLine(answer), "HTTP/1.1 " + status) << answer;
    EXPECT_EQ(bodyOf(answer), "{\"ok\":false,\"error\":\"" + message + "\"}") << answer;
  }

  SteadyClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  PosixSockets sockets;
  test::FixedRandom random{0x3C};
  PanelHttpServer server{
      {sockets, random, clock}, dongle, firmware, assets::panelPageAsset(), shortWaits()};
  std::uint32_t port = 0;
  std::string key;
};

TEST_F(ServerSocket, ServesThePageWithTheKeyInPlace) {
  EXPECT_GE(port, 17832u);
  EXPECT_LE(port, 17843u);
  std::string answer = request("GET /?x=1 HTTP/1.1", host());
  ASSERT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_NE(answer.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos);
  EXPECT_NE(answer.find("Content-Length: " + std::to_string(twPanelPageSize) + "\r\n"),
            std::string::npos);
  std::string page = bodyOf(answer);
  EXPECT_EQ(page.size(), twPanelPageSize);
  EXPECT_NE(page.find("<title>Tarnwick Panel</title>"), std::string::npos);
  EXPECT_NE(page.find("\"" + key + "\""), std::string::npos);
  EXPECT_EQ(page.find("TWTOKENPLACEHOLDER"), std::string::npos);
  // Only GET serves the page.
  for (const char* method : {"HEAD", "POST", "get"}) {
    std::string other = request(std::string(method) + " / HTTP/1.1", host());
    EXPECT_EQ(statusLine(other), "HTTP/1.1 404 Not Found") << method;
    EXPECT_EQ(bodyOf(other), "No.\n");
  }
}

TEST_F(ServerSocket, HostMustNameThisServer) {
  const std::string target = "GET /api/dev?k=" + key + " HTTP/1.1";
  const std::string p = std::to_string(port);
  for (const std::string& bad : std::vector<std::string>{
           std::string(), "Host: 127.0.0.1\r\n",
           "Host: 127.0.0.1:" + std::to_string(port + 1) + "\r\n",
           "Host: rebind.example:" + p + "\r\n", "Host: 127.1:" + p + "\r\n",
           "Host: [::ffff:127.0.0.1]:" + p + "\r\n", "Host: 127.0.0.1:" + p + "x\r\n",
           "Host: 127.0.0.1:" + p + " \r\n"}) {
    expectError(request(target, bad), "403 Forbidden", "not a local request");
  }
  for (const std::string& good :
       std::vector<std::string>{"Host: LOCALHOST:" + p + "\r\n", "Host: [::1]:" + p + "\r\n",
                                "host:127.0.0.1:" + p + "\r\n"}) {
    EXPECT_EQ(statusLine(request(target, good)), "HTTP/1.1 200 OK") << good;
  }
  // The page too is served only to a local Host.
  expectError(request("GET / HTTP/1.1", "Host: rebind.example:" + p + "\r\n"), "403 Forbidden",
              "not a local request");
}

TEST_F(ServerSocket, AbsoluteFormTargetIsNotServed) {
  std::string answer = api("http://127.0.0.1:" + std::to_string(port) + "/api/dev?k=" + key);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(bodyOf(answer), "No.\n");
}

TEST_F(ServerSocket, OriginWhenSentMustBeOurs) {
  const std::string p = std::to_string(port);
  const std::string path = "/api/dev?k=" + key;
  for (const std::string& bad : std::vector<std::string>{
           "Origin: http://evil.example\r\n", "Origin: null\r\n", "Origin:\r\n",
           "Origin: http://127.0.0.1:" + p + "/\r\n", "Origin: https://127.0.0.1:" + p + "\r\n",
           "Origin: http://[::1]:" + p + "\r\n"}) {
    expectError(api(path, bad), "403 Forbidden", "cross-origin");
  }
  for (const std::string& good : std::vector<std::string>{
           "Origin: http://127.0.0.1:" + p + "\r\n", "Origin: HTTP://LocalHost:" + p + "\r\n"}) {
    EXPECT_EQ(statusLine(api(path, good)), "HTTP/1.1 200 OK") << good;
  }
}

TEST_F(ServerSocket, KeyMustMatchExactly) {
  std::string upper = key;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  ASSERT_NE(upper, key);  // the fixed key holds letters
  for (const std::string& bad :
       std::vector<std::string>{"/api/dev", "/api/dev?k=" + upper, "/api/dev?k=" + key + "0",
                                "/api/dev?k=" + key.substr(1), "/api/dev?K=" + key}) {
    expectError(api(bad), "403 Forbidden", "bad key");
  }
  // An empty k is the key; it does not fall back to the header.
  expectError(api("/api/dev?k=", "X-TW-Key: " + key + "\r\n"), "403 Forbidden", "bad key");
  EXPECT_EQ(statusLine(api("/api/dev", "X-TW-Key: " + key + "\r\n")), "HTTP/1.1 200 OK");
  EXPECT_EQ(statusLine(api("/api/dev?a=1&k=" + key)), "HTTP/1.1 200 OK");
  // Percent-encoding is decoded before the comparison.
  std::string encoded = "%" + std::to_string(30 + (key[0] - '0')) + key.substr(1);
  if (key[0] >= '0' && key[0] <= '9') {
    EXPECT_EQ(statusLine(api("/api/dev?k=" + encoded)), "HTTP/1.1 200 OK");
  }
}

TEST_F(ServerSocket, PathsAndMethods) {
  std::string answer = api("/api?k=" + key);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 404 Not Found");
  EXPECT_NE(answer.find("Content-Type: text/plain; charset=utf-8"), std::string::npos);
  EXPECT_EQ(bodyOf(answer), "No.\n");
  expectError(api("/api/?k=" + key), "404 Not Found", "no such call");
  expectError(api("/api/"), "403 Forbidden", "bad key");
  expectError(api("/api/DEV?k=" + key), "404 Not Found", "no such call");
  for (const char* method : {"post", "POSTX", "GET"}) {
    expectError(request(std::string(method) + " /api/output?k=" + key + " HTTP/1.1", host()),
                "405 Method Not Allowed", "POST only");
  }
  expectError(request("GET", host()), "400 Bad Request", "bad request");
  expectError(request("", host()), "400 Bad Request", "bad request");
}

TEST_F(ServerSocket, FirmwareCallsAreNotServedYet) {
  for (const char* path : {"/api/fw", "/api/fw/events", "/api/fw/start"}) {
    expectError(api(std::string(path) + "?k=" + key), "404 Not Found", "no such call");
  }
}

TEST_F(ServerSocket, OversizeHeaderBlockIsHandledWithWhatArrived) {
  std::string head = "GET /api/dev?k=" + key + " HTTP/1.1\r\n" + host() + "X-Pad: ";
  head += std::string(kRequestCapacity - head.size(), 'p');
  std::string answer = roundTrip(port, head);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_NE(bodyOf(answer).find("\"found\":true"), std::string::npos);
}

TEST_F(ServerSocket, DeclaredLengthsStopReadingEarly) {
  const std::string line = "POST /api/feature?k=" + key + " HTTP/1.1\r\n" + host();
  for (const char* length : {"9000", "-1", "18446744073709551617"}) {
    // The answer comes at once, well before the receive wait would run out.
    int fd = test::connectLoopback(port);
    test::sendText(fd, line + "Content-Length: " + length + "\r\n\r\nid=7");
    bool closed = false;
    std::string answer = test::readAll(fd, 2500, &closed);
    close(fd);
    EXPECT_TRUE(closed) << length;
    expectError(answer, "400 Bad Request", "no data");
  }
}

TEST_F(ServerSocket, ShortBodyIsHandledWhenThePeerStopsSending) {
  int fd = test::connectLoopback(port);
  test::sendText(fd, "POST /api/feature?k=" + key + " HTTP/1.1\r\n" + host() +
                         "Content-Length: 100\r\n\r\nid=248");
  shutdown(fd, SHUT_WR);
  std::string answer = test::readAll(fd, 3000);
  close(fd);
  expectError(answer, "400 Bad Request", "no data");
}

TEST_F(ServerSocket, SilentConnectionIsClosedUnanswered) {
  int fd = test::connectLoopback(port);
  bool closed = false;
  std::string answer = test::readAll(fd, 6000, &closed);
  close(fd);
  EXPECT_TRUE(closed);
  EXPECT_EQ(answer, "");
  // A request that stops half way is answered with what arrived once the wait runs out.
  fd = test::connectLoopback(port);
  test::sendText(fd, "GET /api/dev?k=" + key + " HTTP/1.1\r\n" + host());
  answer = test::readAll(fd, 6000, &closed);
  close(fd);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
}

TEST_F(ServerSocket, FormValuesAreDecodedBeforeUse) {
  const std::string base = "/api/feature?k=" + key + "&id=";
  EXPECT_EQ(statusLine(api(base + "%20248")), "HTTP/1.1 200 OK");
  EXPECT_EQ(statusLine(api(base + "+248")), "HTTP/1.1 200 OK");
  EXPECT_EQ(statusLine(api(base + "248abc")), "HTTP/1.1 200 OK");
  for (const char* bad : {"0", "256", "%2", "%zz248", "-248", ""}) {
    expectError(api(base + bad), "400 Bad Request", "bad id");
  }
  expectError(api("/api/feature?k=" + key), "400 Bad Request", "no id");
}

TEST(ServerStart, FailsWhenEveryPortIsTaken) {
  // Find three consecutive free ports and hold them.
  PosixSockets sockets;
  std::vector<std::unique_ptr<ListeningSocket>> held;
  std::uint16_t first = 0;
  for (std::uint16_t base = 41000; base < 42000 && first == 0; base += 7) {
    held.clear();
    for (std::uint16_t p = base; p < base + 3; ++p) {
      auto listener = sockets.createListener();
      if (!listener->bindLoopback(p) || !listener->listen(1)) break;
      held.push_back(std::move(listener));
    }
    if (held.size() == 3) first = base;
  }
  ASSERT_NE(first, 0);
  SteadyClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  test::FixedRandom random;
  HttpServerSettings settings;
  settings.firstPort = first;
  settings.lastPort = static_cast<std::uint16_t>(first + 2);
  PanelHttpServer taken{
      {sockets, random, clock}, dongle, firmware, assets::panelPageAsset(), settings};
  EXPECT_FALSE(taken.startServer());
  EXPECT_EQ(taken.serverPort(), 0u);

  // Freeing the middle one makes the server take it.
  held.erase(held.begin() + 1);
  PanelHttpServer second{
      {sockets, random, clock}, dongle, firmware, assets::panelPageAsset(), settings};
  EXPECT_TRUE(second.startServer());
  EXPECT_EQ(second.serverPort(), first + 1u);
}

TEST(ServerStart, FailsWithoutThePlaceholder) {
  SteadyClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  test::FixedRandom random;
  PosixSockets sockets;
  PanelHttpServer server{
      {sockets, random, clock}, dongle, firmware, "<html>no key constant here at all</html>"};
  EXPECT_FALSE(server.startServer());
  EXPECT_EQ(server.serverPort(), 0u);
}

}  // namespace
}  // namespace tw

namespace tw {
namespace {

TEST(ServerStop, CutsWaitingConnectionsAndStreamsShort) {
  SteadyClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  test::FixedRandom random;
  PosixSockets sockets;
  auto server = std::make_unique<PanelHttpServer>(HttpServerPorts{sockets, random, clock}, dongle,
                                                  firmware, assets::panelPageAsset());
  ASSERT_TRUE(server->startServer());
  const std::uint32_t port = server->serverPort();
  int silent = test::connectLoopback(port);
  int stream = test::connectLoopback(port);
  test::sendText(stream, "GET /api/input?k=" + server->runKey() +
                             " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n");
  EXPECT_NE(test::readSome(stream, 2000), "");
  while (server->activeConnections() < 2) clock.sleepMs(10);

  // Without the cut this would wait out the 30 s receive time-out of the silent connection.
  auto started = std::chrono::steady_clock::now();
  server.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  bool closed = false;
  test::readAll(silent, 2000, &closed);
  EXPECT_TRUE(closed);
  close(silent);
  close(stream);
}

}  // namespace
}  // namespace tw
