// The server's accept and connection threads on virtual time, with a scripted listener in place
// of the socket library: which ports it tries, how it retries a failed accept, what it sets on a
// connection, and how going away cuts a waiting connection short, all without real waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "dongle/dongle_link.h"
#include "panel/http_server.h"
#include "server_fixture.h"
#include "sim/memory_connection.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw {
namespace {

const std::string kAsset = "<script>const K=\"TWTOKENPLACEHOLDER00000000000000\";</script>";

// What became of the connections the listener handed out; they are gone by the time a test looks.
struct Served {
  std::mutex lock;
  std::vector<sim::MemoryConnection> connections;
  std::vector<std::uint64_t> closedAt;
};

// An in-memory connection that reports itself when the server closes it.
class ReportingConnection : public sim::MemoryConnection {
 public:
  ReportingConnection(std::string request, Served& served, Clock& clock)
      : MemoryConnection(std::move(request)), served_(served), clock_(clock) {}
  ~ReportingConnection() override {
    std::lock_guard<std::mutex> lock(served_.lock);
    served_.connections.push_back(*this);
    served_.closedAt.push_back(clock_.tickMs());
  }

 private:
  Served& served_;
  Clock& clock_;
};

// A connection whose peer sends `request` (nothing by default) and then falls silent: a receive
// then waits on the clock for the receive time-out, as a socket's does, unless the connection is
// shut down first.
class SilentConnection : public ReportingConnection {
 public:
  SilentConnection(Served& served, Clock& clock, std::string request = "")
      : ReportingConnection(std::move(request), served, clock),
        cut_(clock.createEvent(EventReset::Manual, false)) {}
  long receive(char* buffer, std::size_t capacity) override {
    long n = MemoryConnection::receive(buffer, capacity);
    if (n > 0) return n;
    return cut_->wait(receiveTimeoutMs) ? 0 : -1;
  }
  void shutdownBoth() override {
    MemoryConnection::shutdownBoth();
    cut_->set();
  }

 private:
  std::unique_ptr<ClockEvent> cut_;
};

// A connection whose peer has stopped taking bytes after `budget` of them: a send then waits on
// the clock for the send time-out, as a socket's does, and fails.
class StalledConnection : public ReportingConnection {
 public:
  StalledConnection(std::string request, std::size_t budget, Served& served, Clock& clock)
      : ReportingConnection(std::move(request), served, clock), budget_(budget), clock_(clock) {}
  long send(const char* data, std::size_t length) override {
    if (budget_ == 0) {
      clock_.sleepMs(sendTimeoutMs);
      return -1;
    }
    std::size_t n = std::min(length, budget_);
    budget_ -= n;
    sent.append(data, n);
    return static_cast<long>(n);
  }

 private:
  std::size_t budget_;
  Clock& clock_;
};

struct Step {
  AcceptOutcome outcome;
  std::unique_ptr<SocketConnection> connection;
};

// What the listener saw; it outlives the listener, which the server owns.
struct ListenerLog {
  std::vector<std::uint16_t> triedPorts;
  int backlog = 0;
  std::vector<std::uint64_t> acceptsAt;
};

class ScriptedListener : public ListeningSocket {
 public:
  ScriptedListener(Clock& clock, std::uint16_t firstFreePort, std::deque<Step> script,
                   ListenerLog& log)
      : clock_(clock), firstFreePort_(firstFreePort), script_(std::move(script)), log_(log) {}
  bool bindLoopback(std::uint16_t port) override {
    log_.triedPorts.push_back(port);
    return port >= firstFreePort_;
  }
  bool listen(int backlog) override {
    log_.backlog = backlog;
    return true;
  }
  // Runs on the accept thread only; the test reads the log once that thread has ended.
  AcceptOutcome accept(std::uint32_t waitMs,
                       std::unique_ptr<SocketConnection>& connection) override {
    log_.acceptsAt.push_back(clock_.tickMs());
    if (script_.empty()) {
      clock_.sleepMs(waitMs);
      return AcceptOutcome::TimedOut;
    }
    Step step = std::move(script_.front());
    script_.pop_front();
    if (step.outcome == AcceptOutcome::Accepted) connection = std::move(step.connection);
    if (step.outcome == AcceptOutcome::TimedOut) clock_.sleepMs(waitMs);
    return step.outcome;
  }

 private:
  Clock& clock_;
  std::uint16_t firstFreePort_;
  std::deque<Step> script_;
  ListenerLog& log_;
};

// Hands out one scripted listener.
class ScriptedSockets : public SocketPort {
 public:
  ScriptedSockets(Clock& clock, std::uint16_t firstFreePort, std::deque<Step> script)
      : listener_(
            std::make_unique<ScriptedListener>(clock, firstFreePort, std::move(script), log)) {}
  bool startup() override { return true; }
  std::unique_ptr<ListeningSocket> createListener() override { return std::move(listener_); }

  ListenerLog log;

 private:
  std::unique_ptr<ScriptedListener> listener_;
};

class ServerThreadsThreaded : public ::testing::Test {
 protected:
  std::string requestFor(const std::string& key) {
    return "GET /api/dev?k=" + key + " HTTP/1.1\r\nHost: 127.0.0.1:17834\r\n\r\n";
  }

  sim::VirtualClock clock{0};
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  test::FixedRandom random{0x11};
  Served served;
};

TEST_F(ServerThreadsThreaded, RetriesFailedAcceptsAndSetsTheWaitsOnEachConnection) {
  const std::string key(32, '1');  // from the random bytes 0x11
  std::deque<Step> script;
  script.push_back({AcceptOutcome::Failed, nullptr});
  script.push_back({AcceptOutcome::Failed, nullptr});
  script.push_back({AcceptOutcome::TimedOut, nullptr});
  script.push_back({AcceptOutcome::Accepted,
                    std::make_unique<ReportingConnection>(requestFor(key), served, clock)});
  ScriptedSockets sockets(clock, 17834, std::move(script));
  const ListenerLog& listener = sockets.log;
  {
    PanelHttpServer server({sockets, random, clock}, dongle, firmware, kAsset);
    ASSERT_TRUE(server.startServer());
    EXPECT_EQ(server.serverPort(), 17834u);
    EXPECT_EQ(listener.triedPorts, (std::vector<std::uint16_t>{17832, 17833, 17834}));
    EXPECT_EQ(listener.backlog, 8);
    // Time moves only while everyone waits, so this sleep ends after the connection is served.
    clock.sleepMs(10'000);
    EXPECT_EQ(server.activeConnections(), 0);
  }
  // Accepts at 0 and 50 failed; each is retried 50 ms later; the quiet one waited 250 ms.
  ASSERT_GE(listener.acceptsAt.size(), 5u);
  EXPECT_EQ(listener.acceptsAt[0], 0u);
  EXPECT_EQ(listener.acceptsAt[1], 50u);
  EXPECT_EQ(listener.acceptsAt[2], 100u);
  EXPECT_EQ(listener.acceptsAt[3], 350u);
  ASSERT_EQ(served.connections.size(), 1u);
  const sim::MemoryConnection& connection = served.connections[0];
  EXPECT_TRUE(connection.noDelay);
  EXPECT_EQ(connection.sendTimeoutMs, 15000u);
  EXPECT_EQ(connection.receiveTimeoutMs, 30000u);
  EXPECT_TRUE(connection.shutDown);
  EXPECT_EQ(test::statusLine(connection.sent), "HTTP/1.1 200 OK");
  EXPECT_NE(test::bodyOf(connection.sent).find("\"found\":true"), std::string::npos);
}

TEST_F(ServerThreadsThreaded, TriesEveryPortOfTheRangeInOrder) {
  ScriptedSockets sockets(clock, 65535, {});
  const ListenerLog& listener = sockets.log;
  PanelHttpServer server({sockets, random, clock}, dongle, firmware, kAsset);
  EXPECT_FALSE(server.startServer());
  EXPECT_EQ(server.serverPort(), 0u);
  std::vector<std::uint16_t> range;
  for (std::uint16_t port = 17832; port <= 17843; ++port) range.push_back(port);
  EXPECT_EQ(listener.triedPorts, range);
}

TEST_F(ServerThreadsThreaded, GoingAwayNeverWaitsOutAReceive) {
  std::deque<Step> script;
  script.push_back({AcceptOutcome::Accepted, std::make_unique<SilentConnection>(served, clock)});
  ScriptedSockets sockets(clock, 17832, std::move(script));
  {
    PanelHttpServer server({sockets, random, clock}, dongle, firmware, kAsset);
    ASSERT_TRUE(server.startServer());
    clock.sleepMs(1000);
    ASSERT_EQ(server.activeConnections(), 1);  // still waiting for its request
  }
  ASSERT_EQ(served.closedAt.size(), 1u);
  // Cut short when the server went away, long before the 30 s wait would have run out.
  EXPECT_LT(served.closedAt[0], 2000u);
  EXPECT_EQ(served.connections[0].sent, "");
}

TEST_F(ServerThreadsThreaded, AStalledReaderEndsItsStreamWithTheSendWait) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n"
      "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Accel-Buffering: no\r\n"
      "Connection: close\r\n\r\n";
  std::deque<Step> script;
  script.push_back({AcceptOutcome::Accepted, std::make_unique<StalledConnection>(
                                                 "GET /api/input?k=" + std::string(32, '1') +
                                                     " HTTP/1.1\r\nHost: 127.0.0.1:17832\r\n\r\n",
                                                 head.size(), served, clock)});
  ScriptedSockets sockets(clock, 17832, std::move(script));
  PanelHttpServer server({sockets, random, clock}, dongle, firmware, kAsset);
  ASSERT_TRUE(server.startServer());
  clock.sleepMs(60'000);
  EXPECT_EQ(server.activeConnections(), 0);
  std::lock_guard<std::mutex> lock(served.lock);
  ASSERT_EQ(served.closedAt.size(), 1u);
  // The first event's send waited 15 s and failed; the stream ended there.
  EXPECT_GE(served.closedAt[0], 15'000u);
  EXPECT_LT(served.closedAt[0], 16'000u);
  EXPECT_EQ(served.connections[0].sent, head);
}

TEST_F(ServerThreadsThreaded, ASilentConnectionEndsWithItsReceiveWait) {
  std::deque<Step> script;
  script.push_back({AcceptOutcome::Accepted, std::make_unique<SilentConnection>(served, clock)});
  ScriptedSockets sockets(clock, 17832, std::move(script));
  PanelHttpServer server({sockets, random, clock}, dongle, firmware, kAsset);
  ASSERT_TRUE(server.startServer());
  clock.sleepMs(60'000);
  EXPECT_EQ(server.activeConnections(), 0);
  std::lock_guard<std::mutex> lock(served.lock);
  ASSERT_EQ(served.closedAt.size(), 1u);
  EXPECT_EQ(served.closedAt[0], 30'000u);
  EXPECT_EQ(served.connections[0].sent, "");
}

TEST_F(ServerThreadsThreaded, ABodyThatStopsShortIsRefusedWhenTheReceiveWaitRunsOut) {
  // 14 of the 100 bytes declared arrive; then the peer says nothing more.
  std::deque<Step> script;
  script.push_back({AcceptOutcome::Accepted, std::make_unique<SilentConnection>(
                                                 served, clock,
                                                 "POST /api/fw/start?k=" + std::string(32, '1') +
                                                     " HTTP/1.1\r\nHost: 127.0.0.1:17832\r\n"
                                                     "Content-Length: 100\r\n\r\naction=restart")});
  ScriptedSockets sockets(clock, 17832, std::move(script));
  PanelHttpServer server({sockets, random, clock}, dongle, firmware, kAsset);
  ASSERT_TRUE(server.startServer());
  clock.sleepMs(60'000);
  EXPECT_EQ(server.activeConnections(), 0);
  std::lock_guard<std::mutex> lock(served.lock);
  ASSERT_EQ(served.closedAt.size(), 1u);
  EXPECT_EQ(served.closedAt[0], 30'000u);
  EXPECT_EQ(test::statusLine(served.connections[0].sent), "HTTP/1.1 408 Request Timeout");
  EXPECT_TRUE(firmware.actions().empty());
}

}  // namespace
}  // namespace tw
