// The firmware calls through the whole request path over in-memory connections (statuses and
// bodies of every route), and the firmware event stream on virtual time: the first document at
// once, changes gathered per poll, keep-alives, documents that do not fit, and the end of a stream.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "common/strict_json.h"
#include "dongle/dongle_link.h"
#include "flash/firmware_fixture.h"
#include "panel/firmware_api.h"
#include "panel/http_server.h"
#include "panel_page_asset.h"
#include "server_fixture.h"
#include "sim/memory_connection.h"

namespace tw {
namespace {

using test::bodyOf;
using test::statusLine;

constexpr char kStreamHead[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n"
    "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Accel-Buffering: no\r\n"
    "Connection: close\r\n\r\n";

class NoSockets : public SocketPort {
 public:
  bool startup() override { return false; }
  std::unique_ptr<ListeningSocket> createListener() override { return nullptr; }
};

class FirmwareRoutes : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kPort = 17836;

  void SetUp() override { ASSERT_TRUE(server.prepareWithoutSocket(kPort)); }

  // One exchange; an event stream ends once `budget` bytes have gone out.
  std::string call(const std::string& method, const std::string& path, const std::string& body = "",
                   std::size_t budget = SIZE_MAX) {
    std::string request = method + " " + path + "?k=" + server.runKey() +
                          " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(kPort) + "\r\n";
    if (!body.empty()) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    sim::MemoryConnection connection(request + "\r\n" + body);
    connection.sendBudget = budget;
    server.serveConnection(connection);
    return connection.sent;
  }
  void expectAnswer(const std::string& answer, const std::string& status, const std::string& body) {
    EXPECT_EQ(statusLine(answer), "HTTP/1.1 " + status) << answer;
    EXPECT_EQ(bodyOf(answer), body) << answer;
    EXPECT_NE(answer.find("Content-Type: application/json; charset=utf-8\r\n"), std::string::npos);
  }
  void expectError(const std::string& answer, const std::string& status,
                   const std::string& message) {
    expectAnswer(answer, status, "{\"ok\":false,\"error\":\"" + message + "\"}");
  }
  bool confirmed() { return f.firmware.snapshot().request.confirm; }

  test::FirmwareFixture f;
  DongleLink dongle{f.world.hid()};
  NoSockets sockets;
  test::FixedRandom random{0x5A};
  PanelHttpServer server{{sockets, random, f.clock}, dongle, f.firmware, assets::panelPageAsset()};
};

TEST_F(FirmwareRoutes, TheStateIsTheDocumentWhateverTheMethod) {
  f.verifyBuiltIn();
  for (const char* method : {"GET", "POST", "PUT"}) {
    std::string answer = call(method, "/api/fw");
    ASSERT_EQ(statusLine(answer), "HTTP/1.1 200 OK") << method;
    EXPECT_NE(answer.find("Content-Type: application/json; charset=utf-8\r\n"), std::string::npos);
    EXPECT_EQ(bodyOf(answer), f.document());
    test::StrictJson json;
    ASSERT_TRUE(json.parse(bodyOf(answer)));
    EXPECT_EQ(json.values().at("app"), "1.2.0");
    EXPECT_EQ(json.values().at("fw.target"), "0.9.3");
  }
}

TEST_F(FirmwareRoutes, ActionsArePostOnlyBeforeTheirNamesAreLookedAt) {
  for (const char* path : {"/api/fw/start", "/api/fw/cancel", "/api/fw/check", "/api/fw/dismiss",
                           "/api/fw/nothing", "/api/fw/", "/api/fw/start/"}) {
    for (const char* method : {"GET", "HEAD", "post", "POSTX"}) {
      std::string answer = call(method, path);
      expectError(answer, "405 Method Not Allowed", "POST only");
      EXPECT_NE(answer.find("\r\nAllow: POST\r\n"), std::string::npos) << answer;
    }
  }
  for (const char* path :
       {"/api/fw/nothing", "/api/fw/", "/api/fw/start/", "/api/fw/Start", "/api/fw/events/x"}) {
    expectError(call("POST", path), "404 Not Found", "no such call");
  }
  expectError(call("GET", "/api/fwx"), "404 Not Found", "no such call");
}

TEST_F(FirmwareRoutes, StartAnswersWithTheRefusalSentence) {
  expectError(call("POST", "/api/fw/start"), "400 Bad Request", "no action");
  expectError(call("POST", "/api/fw/start", "confirm=1"), "400 Bad Request", "no action");
  expectError(call("POST", "/api/fw/start", "action=Update"), "409 Conflict", "Unknown action.");
  expectError(call("POST", "/api/fw/start", "action="), "409 Conflict", "Unknown action.");
  expectError(call("POST", "/api/fw/start", "action=restart"), "409 Conflict",
              "Nothing to restart: no dongle is in update mode.");
  // The bench tool's window, as a watcher pass finds it.
  const WindowId rig = f.desktop.addWindow("RigWindow", "Tarnwick Pellmark Rig");
  f.firmware.watchBoards();
  std::string answer = call("POST", "/api/fw/start", "action=install");
  expectError(answer, "409 Conflict",
              "Another Tarnwick flashing tool is at work (the Pellmark Rig or a bench script). "
              "Let it finish first so the two don't fight over the board.");
  EXPECT_TRUE(test::StrictJson().parse(bodyOf(answer)));
  f.desktop.removeWindow(rig);
  f.firmware.watchBoards();
  expectAnswer(call("POST", "/api/fw/start", "action=install"), "200 OK", "{\"ok\":true}");
  EXPECT_TRUE(f.firmware.isFirmwareBusy());
  expectError(call("POST", "/api/fw/start", "action=update"), "409 Conflict",
              "The dongle is already being worked on.");
  // An action word longer than its 23 characters is cut before it is looked up.
  f.firmware.cancelFirmwareJob();
  expectError(call("POST", "/api/fw/start", "action=install" + std::string(30, 'x')),
              "409 Conflict", "Unknown action.");
}

TEST_F(FirmwareRoutes, OnlyAConfirmOfExactlyOneConfirms) {
  for (const auto& [body, expected] : std::vector<std::pair<std::string, bool>>{
           {"action=install&confirm=1", true},
           {"confirm=1&action=install", true},
           {"action=install&confirm=%31", true},
           {"action=install&confirm=1&confirm=0", true},
           {"action=install&confirm=10", false},
           {"action=install&confirm=1abc", false},
           {"confirm=1xyz&action=install", false},
           {"action=install&confirm=1+", false},
           {"action=install&confirm=1" + std::string(20, '0'), false},
           {"action=install&confirm=0&confirm=1", false},
           {"action=install&confirm=true", false},
           {"action=install&confirm=0", false},
           {"action=install&confirm=", false},
           {"action=install&confirm=+1", false},
           {"action=install", false},
       }) {
    expectAnswer(call("POST", "/api/fw/start", body), "200 OK", "{\"ok\":true}");
    EXPECT_EQ(confirmed(), expected) << body;
    f.firmware.cancelFirmwareJob();
  }
}

TEST_F(FirmwareRoutes, CancelCheckAndDismissAlwaysAnswerOk) {
  for (int round = 0; round < 2; ++round) {
    // Nothing queued the first time round, a queued request the second.
    for (const char* path : {"/api/fw/check", "/api/fw/dismiss", "/api/fw/cancel"}) {
      expectAnswer(call("POST", path), "200 OK", "{\"ok\":true}");
    }
    ASSERT_EQ(statusLine(call("POST", "/api/fw/start", "action=install")), "HTTP/1.1 200 OK");
    expectAnswer(call("POST", "/api/fw/dismiss"), "200 OK", "{\"ok\":true}");
    EXPECT_TRUE(f.firmware.isFirmwareBusy());  // a queued request is not dismissed
  }
  expectAnswer(call("POST", "/api/fw/cancel"), "200 OK", "{\"ok\":true}");
  EXPECT_FALSE(f.firmware.isFirmwareBusy());
}

TEST_F(FirmwareRoutes, TheEventStreamTakesAnyMethodAndStartsWithTheDocument) {
  for (const char* method : {"GET", "POST"}) {
    const std::string first = "data: " + f.document() + "\n\n";
    // The page goes away after the first event: the keep-alive 15 s later cannot be sent.
    std::string sent = call(method, "/api/fw/events", "", std::strlen(kStreamHead) + first.size());
    EXPECT_EQ(sent, kStreamHead + first) << method;
  }
}

TEST_F(FirmwareRoutes, TheDeviceInfoSaysUpdatingWhileAJobIsQueued) {
  expectAnswer(call("GET", "/api/dev"), "200 OK", "{\"found\":false,\"updating\":false}");
  ASSERT_EQ(statusLine(call("POST", "/api/fw/start", "action=install")), "HTTP/1.1 200 OK");
  expectAnswer(call("GET", "/api/dev"), "200 OK", "{\"found\":false,\"updating\":true}");
  // Commands to the dongle wait for the job; the other reports do not.
  f.world.plugDongle(1);
  expectError(call("POST", "/api/feature", "id=246&data=Ag%3D%3D"), "409 Conflict",
              "The firmware is being updated");
  EXPECT_NE(statusLine(call("POST", "/api/feature", "id=247&data=Ag%3D%3D")),
            "HTTP/1.1 409 Conflict");
  f.firmware.cancelFirmwareJob();
  expectAnswer(call("POST", "/api/feature", "id=246&data=Ag%3D%3D"), "200 OK", "{\"ok\":true}");
}

// A firmware side whose document the test writes: {"seq":N,"state":"..."}, or nothing that fits.
class ScriptedFirmware : public IdleFirmware {
 public:
  void change(const std::string& text, bool fits = true) {
    std::lock_guard<std::mutex> lock(lock_);
    ++seq_;
    text_ = text;
    fits_ = fits;
  }
  std::uint32_t firmwareSeq() override {
    std::lock_guard<std::mutex> lock(lock_);
    ++seqReads;
    return seq_;
  }
  bool writeFirmwareState(char* buffer, std::size_t capacity) override {
    std::lock_guard<std::mutex> lock(lock_);
    std::string document = "{\"seq\":" + std::to_string(seq_) + ",\"state\":\"" + text_ + "\"}";
    if (!fits_ || document.size() + 1 > capacity) return false;
    std::memcpy(buffer, document.c_str(), document.size() + 1);
    return true;
  }
  int seqReads = 0;

 private:
  std::mutex lock_;
  std::uint32_t seq_ = 1;
  std::string text_ = "idle";
  bool fits_ = true;
};

// A connection that notes when each send happened and fails every send from a given moment on.
class TimedConnection : public SocketConnection {
 public:
  TimedConnection(Clock& clock, std::uint64_t failFromMs) : clock_(clock), failFrom_(failFromMs) {}
  long receive(char*, std::size_t) override { return 0; }
  long send(const char* data, std::size_t length) override {
    if (clock_.tickMs() >= failFrom_) return -1;
    sends.emplace_back(clock_.tickMs(), std::string(data, length));
    return static_cast<long>(length);
  }
  void shutdownSend() override {}
  void shutdownBoth() override {}
  bool setNoDelay(bool) override { return true; }
  bool setSendTimeout(std::uint32_t) override { return true; }
  bool setReceiveTimeout(std::uint32_t) override { return true; }
  std::vector<std::pair<std::uint64_t, std::string>> sends;

 private:
  Clock& clock_;
  std::uint64_t failFrom_;
};

class FirmwareEventStream : public ::testing::Test {
 protected:
  // Runs a stream from t0 until its sends start failing at t0 + `failAfterMs`, while `script`
  // changes the state on a thread of its own. Returns the sends, times relative to t0.
  std::vector<std::pair<std::uint64_t, std::string>> stream(
      std::uint64_t failAfterMs, const std::function<void()>& script = {}) {
    const std::uint64_t t0 = clock.tickMs();
    TimedConnection connection(clock, t0 + failAfterMs);
    std::unique_ptr<ClockThread> changes;
    if (script) changes = clock.startThread(script);
    api.events(connection);
    if (changes) changes->join(kWaitForever);
    auto sends = connection.sends;
    for (auto& send : sends) send.first -= t0;
    return sends;
  }
  static std::string event(std::uint32_t seq, const std::string& state) {
    return "data: {\"seq\":" + std::to_string(seq) + ",\"state\":\"" + state + "\"}\n\n";
  }

  sim::VirtualClock clock;
  ScriptedFirmware firmware;
  std::atomic<bool> stopping{false};
  FirmwareApi api{firmware, clock, stopping};
};

TEST_F(FirmwareEventStream, SendsTheDocumentAtOnceThenOnlyKeepAlivesWhileNothingChanges) {
  auto sends = stream(40000);  // the third keep-alive, at 45360, fails
  ASSERT_GE(sends.size(), 4u);
  EXPECT_EQ(sends[0], std::make_pair(std::uint64_t{0}, std::string(kStreamHead)));
  EXPECT_EQ(sends[1], std::make_pair(std::uint64_t{0}, event(1, "idle")));
  // Polls fall every 120 ms; the first one more than 15 s after the last write sends a comment.
  EXPECT_EQ(sends[2], std::make_pair(std::uint64_t{15120}, std::string(":\n\n")));
  EXPECT_EQ(sends[3], std::make_pair(std::uint64_t{30240}, std::string(":\n\n")));
  EXPECT_EQ(sends.size(), 4u);
  // One brief look at the counter per poll, and the stream ended on the failed send.
  EXPECT_NEAR(firmware.seqReads, 45360 / 120, 2);
}

TEST_F(FirmwareEventStream, ChangesWithinOnePollArriveAsOneEventInTheirLatestForm) {
  auto sends = stream(3000, [this] {
    clock.sleepMs(1000);
    firmware.change("first");
    clock.sleepMs(50);
    firmware.change("second");
    clock.sleepMs(1000);
    firmware.change("third");
  });
  ASSERT_EQ(sends.size(), 4u);
  EXPECT_EQ(sends[1].second, event(1, "idle"));
  // Changes at 1000 and 1050 are seen by the poll at 1080.
  EXPECT_EQ(sends[2], std::make_pair(std::uint64_t{1080}, event(3, "second")));
  EXPECT_EQ(sends[3], std::make_pair(std::uint64_t{2160}, event(4, "third")));
}

TEST_F(FirmwareEventStream, ADocumentThatDoesNotFitIsSkippedUntilTheNextChange) {
  auto sends = stream(30000, [this] {
    clock.sleepMs(1000);
    firmware.change("huge", false);
    clock.sleepMs(9000);
    firmware.change("small");
  });
  ASSERT_EQ(sends.size(), 4u);
  EXPECT_EQ(sends[1].second, event(1, "idle"));
  // Nothing for the document that did not fit; the keep-alive clock ran on from the last write.
  EXPECT_EQ(sends[2].second, event(3, "small"));
  EXPECT_GE(sends[2].first, 10000u);
  EXPECT_LT(sends[2].first, 10200u);
  EXPECT_EQ(sends[3].second, ":\n\n");
  EXPECT_GT(sends[3].first - sends[2].first, 15000u);
}

TEST_F(FirmwareEventStream, AFailedSendEndsTheStream) {
  // The head cannot be sent: nothing else is tried.
  auto sends = stream(0);
  EXPECT_TRUE(sends.empty());
  EXPECT_EQ(firmware.seqReads, 0);
  // A stream whose page went away after the first event ends at the next send it tries.
  sends = stream(100, [this] {
    clock.sleepMs(500);
    firmware.change("unseen");
  });
  EXPECT_EQ(sends.size(), 2u);
}

}  // namespace
}  // namespace tw
