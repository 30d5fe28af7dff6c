// What only real sockets show: where the server listens, which port it takes, that its receive
// wait reaches the socket, and how going away cuts open connections short. The request rules are
// tested in memory (server_rules_test.cpp), the threads and waits on virtual time
// (server_threads_threaded_test.cpp). A send wait is not shown here: the kernel grows a
// loopback socket's send buffer to megabytes, so a stalled reader takes many seconds to fill it.
#include <gtest/gtest.h>

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
using test::statusLine;

// The server on ports of its own, with its waits short enough to be seen running out.
class ServerSocket : public ::testing::Test {
 protected:
  static HttpServerSettings shortWaits() {
    HttpServerSettings settings;
    settings.receiveTimeoutMs = 300;
    settings.sendTimeoutMs = 300;
    return test::privatePorts(settings);
  }
  void SetUp() override {
    ASSERT_NE(settings.firstPort, 0);
    ASSERT_TRUE(server.startServer());
    port = server.serverPort();
  }
  std::string host() { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }
  // Waits up to `ms` for every connection thread to end.
  bool connectionsEnd(int ms) {
    for (int waited = 0; server.activeConnections() > 0; waited += 10) {
      if (waited >= ms) return false;
      clock.sleepMs(10);
    }
    return true;
  }

  SteadyClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  PosixSockets sockets;
  test::FixedRandom random{0x3C};
  HttpServerSettings settings = shortWaits();
  PanelHttpServer server{
      {sockets, random, clock}, dongle, firmware, assets::panelPageAsset(), settings};
  std::uint32_t port = 0;
};

TEST_F(ServerSocket, ListensOnTheLoopbackAddressOnly) {
  EXPECT_EQ(port, settings.firstPort);
  std::string answer = test::roundTrip(port, "GET / HTTP/1.1\r\n" + host() + "\r\n");
  ASSERT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_EQ(bodyOf(answer).size(), twPanelPageSize);
  // 127.0.0.2 reaches this machine too, but only a socket bound to every address answers there.
  int other = test::connectLoopback(port, 0x7F000002);
  EXPECT_EQ(other, -1);
  if (other >= 0) close(other);
}

TEST_F(ServerSocket, SilentConnectionIsClosedOnceTheReceiveWaitRunsOut) {
  int fd = test::connectLoopback(port);
  bool closed = false;
  std::string answer = test::readAll(fd, 5000, &closed);
  close(fd);
  EXPECT_TRUE(closed);
  EXPECT_EQ(answer, "");
  // A request that stops half way is answered with what arrived.
  fd = test::connectLoopback(port);
  test::sendText(fd, "GET /api/dev?k=" + server.runKey() + " HTTP/1.1\r\n" + host());
  answer = test::readAll(fd, 5000, &closed);
  close(fd);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
}

TEST(ServerStart, TakesTheFirstFreePortOfItsRangeAndFailsWhenAllAreTaken) {
  // Hold three consecutive ports.
  PosixSockets sockets;
  std::vector<std::unique_ptr<ListeningSocket>> held;
  const std::uint16_t first = test::freePortBlock(3);
  ASSERT_NE(first, 0);
  for (std::uint16_t p = first; p < first + 3; ++p) {
    auto listener = sockets.createListener();
    ASSERT_TRUE(listener->bindLoopback(p) && listener->listen(1)) << p;
    held.push_back(std::move(listener));
  }
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
  EXPECT_FALSE(second.startServer());  // there is no second start
}

TEST(ServerStop, CutsWaitingConnectionsAndStreamsShort) {
  SteadyClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  test::FixedRandom random;
  PosixSockets sockets;
  // The real waits: 30 s for a request.
  auto server =
      std::make_unique<PanelHttpServer>(HttpServerPorts{sockets, random, clock}, dongle, firmware,
                                        assets::panelPageAsset(), test::privatePorts());
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
