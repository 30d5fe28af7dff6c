// Many connections at once on real loopback sockets: feature reads racing live input streams.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "dongle/dongle_link.h"
#include "panel/base64.h"
#include "panel/http_server.h"
#include "panel_page_asset.h"
#include "platform/host/posix_sockets.h"
#include "platform/host/steady_clock.h"
#include "server_fixture.h"
#include "sim/world.h"

namespace tw {
namespace {

int threadCount() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(tasks);
  }
  return count;
}

// True when `answer` is a whole feature-read answer carrying a 64-byte report of `id`.
bool wellFormedFeatureAnswer(const std::string& answer, int id) {
  if (test::statusLine(answer) != "HTTP/1.1 200 OK") return false;
  std::string body = test::bodyOf(answer);
  if (answer.find("Content-Length: " + std::to_string(body.size()) + "\r\n") == std::string::npos) {
    return false;
  }
  const std::string prefix = "{\"ok\":true,\"data\":\"";
  if (body.rfind(prefix, 0) != 0 || body.size() < prefix.size() + 2) return false;
  std::uint8_t report[kMaxDecodedBytes];
  int n = base64Decode(body.substr(prefix.size(), body.size() - prefix.size() - 2), report);
  return n == 64 && report[0] == id;
}

TEST(ServerThreaded, ManyFeatureReadsBesideInputStreams) {
  SteadyClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  PosixSockets sockets;
  test::FixedRandom random;
  HttpServerSettings settings;
  settings.receiveTimeoutMs = 5000;
  settings.sendTimeoutMs = 5000;
  settings.device.inputWaitMs = 200;
  auto server =
      std::make_unique<PanelHttpServer>(HttpServerPorts{sockets, random, clock}, dongle, firmware,
                                        assets::panelPageAsset(), test::privatePorts(settings));
  ASSERT_TRUE(server->startServer());
  const std::uint32_t port = server->serverPort();
  const std::string key = server->runKey();
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  const int threadsBefore = threadCount();

  std::atomic<bool> streamsStop{false};
  std::atomic<int> streamEvents{0};
  std::atomic<int> badStreams{0};
  std::vector<std::thread> streams;
  for (int i = 0; i < 4; ++i) {
    streams.emplace_back([&] {
      int fd = test::connectLoopback(port);
      test::sendText(fd, "GET /api/input?k=" + key + " HTTP/1.1\r\n" + host + "\r\n");
      std::string got;
      while (!streamsStop.load()) {
        got += test::readSome(fd, 100);
      }
      close(fd);
      if (got.rfind("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n", 0) !=
          0) {
        ++badStreams;
        return;
      }
      std::size_t at = got.find("\r\n\r\n") + 4;
      for (std::size_t end; (end = got.find("\n\n", at)) != std::string::npos; at = end + 2) {
        std::string event = got.substr(at, end - at);
        std::uint8_t report[kMaxDecodedBytes];
        if (event.rfind("data: ", 0) != 0 || base64Decode(event.substr(6), report) != 64 ||
            report[0] != 0x01) {
          ++badStreams;
          return;
        }
        ++streamEvents;
      }
    });
  }

  std::atomic<int> good{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 200; ++i) {
    readers.emplace_back([&, i] {
      int id = i % 2 == 0 ? 248 : 249;
      std::string answer = test::roundTrip(port,
                                           "GET /api/feature?id=" + std::to_string(id) +
                                               "&k=" + key + " HTTP/1.1\r\n" + host + "\r\n",
                                           20000);
      if (wellFormedFeatureAnswer(answer, id)) ++good;
    });
  }
  for (std::thread& t : readers) t.join();
  streamsStop = true;
  for (std::thread& t : streams) t.join();

  EXPECT_EQ(good.load(), 200);
  EXPECT_EQ(badStreams.load(), 0);
  EXPECT_GT(streamEvents.load(), 0);

  // Every connection thread ends once its peer is gone.
  for (int waited = 0; server->activeConnections() > 0 && waited < 200; ++waited) {
    clock.sleepMs(50);
  }
  EXPECT_EQ(server->activeConnections(), 0);
  // A connection thread is counted out just before it returns; the system itself takes a moment
  // longer to take the thread down, and only real time gives it that moment.
  for (int waited = 0; threadCount() > threadsBefore && waited < 200; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_LE(threadCount(), threadsBefore);
  server.reset();
}

}  // namespace
}  // namespace tw
