// The firmware calls from many connection threads at once while the firmware thread runs jobs, on
// virtual time: every answer whole and well-formed, every document a consistent snapshot.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "common/strict_json.h"
#include "dongle/dongle_link.h"
#include "flash/firmware_fixture.h"
#include "panel/http_server.h"
#include "panel_page_asset.h"
#include "server_fixture.h"
#include "sim/memory_connection.h"

namespace tw {
namespace {

using test::bodyOf;
using test::statusLine;

class NoSockets : public SocketPort {
 public:
  bool startup() override { return false; }
  std::unique_ptr<ListeningSocket> createListener() override { return nullptr; }
};

// An in-memory connection whose page goes away at a given moment.
class ConnectionUntil : public sim::MemoryConnection {
 public:
  ConnectionUntil(std::string request, Clock& clock, std::uint64_t untilMs)
      : MemoryConnection(std::move(request)), clock_(clock), until_(untilMs) {}
  long send(const char* data, std::size_t length) override {
    if (clock_.tickMs() >= until_) return -1;
    return MemoryConnection::send(data, length);
  }

 private:
  Clock& clock_;
  std::uint64_t until_;
};

// A document is a snapshot: the advice says busy exactly while a job is active or queued, and a
// running job has no result yet.
bool consistent(const std::map<std::string, std::string>& v) {
  const bool active = v.at("job.active") == "true";
  const bool queued = v.at("job.queued") == "true";
  if ((v.at("advice.kind") == "busy") != (active || queued)) return false;
  if (active && !v.at("job.result").empty()) return false;
  if (queued && v.at("job.cancellable") != "true") return false;
  return active || queued || v.at("job.result").empty() || v.at("job.phase") == "done";
}

TEST(FirmwareApiThreaded, ManyCallersWhileJobsRun) {
  test::ScriptedJob body([](FirmwareJobContext& job, const FirmwareRequest&) {
    for (int pct = 10; pct <= 90; pct += 10) {
      job.setProgress(JobPhase::Download, pct, "Downloading firmware\xE2\x80\xA6 %d%%", pct);
      if (!job.cancellableWait(40)) return FirmwareJobEnding::cancelled();
    }
    job.setCancellable(false);
    job.setProgress(JobPhase::Write, 50, "Writing");
    job.cancellableWait(100);
    return FirmwareJobEnding::ok("0.9.3", "Firmware 0.9.3 is on.", true);
  });
  test::FirmwareFixture f(&body);
  DongleLink dongle{f.world.hid()};
  NoSockets sockets;
  test::FixedRandom random{0x21};
  PanelHttpServer server{{sockets, random, f.clock}, dongle, f.firmware, assets::panelPageAsset()};
  ASSERT_TRUE(server.prepareWithoutSocket(17837));
  f.firmware.firmwareStart(f.window);

  auto requestText = [&](const std::string& method, const std::string& path,
                         const std::string& body) {
    return method + " " + path + "?k=" + server.runKey() +
           " HTTP/1.1\r\nHost: 127.0.0.1:17837\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
  };
  auto request = [&](const std::string& method, const std::string& path, const std::string& body) {
    sim::MemoryConnection connection(requestText(method, path, body));
    server.serveConnection(connection);
    return connection.sent;
  };

  std::atomic<int> bad{0};
  std::atomic<int> documents{0};
  std::atomic<int> started{0};
  std::vector<std::unique_ptr<ClockThread>> threads;
  auto spawn = [&](std::function<void()> work) { threads.push_back(f.clock.startThread(work)); };

  for (int reader = 0; reader < 4; ++reader) {
    spawn([&, reader] {
      for (int i = 0; i < 60; ++i) {
        std::string answer = request(i % 2 ? "GET" : "POST", "/api/fw", "");
        test::StrictJson json;
        if (statusLine(answer) != "HTTP/1.1 200 OK" || !json.parse(bodyOf(answer)) ||
            !consistent(json.values())) {
          ++bad;
        }
        ++documents;
        f.clock.sleepMs(17 + reader * 7);
      }
    });
  }
  for (int starter = 0; starter < 2; ++starter) {
    spawn([&] {
      for (int i = 0; i < 25; ++i) {
        std::string answer = request("POST", "/api/fw/start", "action=install&confirm=1");
        if (statusLine(answer) == "HTTP/1.1 200 OK") {
          ++started;
        } else if (bodyOf(answer) !=
                   "{\"ok\":false,\"error\":\"The dongle is already being worked on.\"}") {
          ++bad;
        }
        f.clock.sleepMs(90);
      }
    });
  }
  for (const char* path : {"/api/fw/cancel", "/api/fw/dismiss", "/api/fw/check"}) {
    spawn([&, path] {
      for (int i = 0; i < 15; ++i) {
        if (bodyOf(request("POST", path, "")) != "{\"ok\":true}") ++bad;
        f.clock.sleepMs(230);
      }
    });
  }
  spawn([&] {
    for (int i = 0; i < 30; ++i) {
      if (statusLine(request("GET", "/api/dev", "")) != "HTTP/1.1 200 OK") ++bad;
      f.clock.sleepMs(110);
    }
  });
  for (int stream = 0; stream < 2; ++stream) {
    spawn([&] {
      // Open for longer than the others call, so that it ends with a keep-alive or two.
      ConnectionUntil connection(requestText("GET", "/api/fw/events", ""), f.clock,
                                 f.clock.tickMs() + 40000);
      server.serveConnection(connection);
      const std::string& sent = connection.sent;
      std::size_t at = sent.find("\r\n\r\n") + 4;
      int events = 0;
      for (std::size_t end; (end = sent.find("\n\n", at)) != std::string::npos; at = end + 2) {
        std::string event = sent.substr(at, end - at);
        if (event == ":") continue;
        test::StrictJson json;
        if (event.rfind("data: ", 0) != 0 || !json.parse(event.substr(6)) ||
            !consistent(json.values())) {
          ++bad;
        }
        ++events;
      }
      if (events < 10) ++bad;
    });
  }
  for (auto& thread : threads) thread->join(kWaitForever);
  f.firmware.firmwareStop();

  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(documents.load(), 240);
  EXPECT_GT(started.load(), 0);
  EXPECT_GE(body.requests.size(), 1u);
}

}  // namespace
}  // namespace tw
