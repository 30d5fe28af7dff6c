// The firmware API when the state document does not fit: the state call answers 500 "state too
// large", and the event stream skips the document without counting it as a write, so the page
// still hears a keep-alive in time.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "panel/firmware_api.h"
#include "server_fixture.h"
#include "sim/memory_connection.h"
#include "sim/virtual_clock.h"

namespace tw {
namespace {

// A firmware side whose document fits until the test says it no longer does.
class OversizedFirmware : public IdleFirmware {
 public:
  void grow() {
    std::lock_guard<std::mutex> lock(lock_);
    ++seq_;
    fits_ = false;
  }
  std::uint32_t firmwareSeq() override {
    std::lock_guard<std::mutex> lock(lock_);
    return seq_;
  }
  bool writeFirmwareState(char* buffer, std::size_t capacity) override {
    std::lock_guard<std::mutex> lock(lock_);
    return fits_ && IdleFirmware::writeFirmwareState(buffer, capacity);
  }

 private:
  std::mutex lock_;
  std::uint32_t seq_ = 1;
  bool fits_ = true;
};

// Records when each send happened; sends fail from `failFromMs` on, which ends a stream.
class ClockedConnection : public sim::MemoryConnection {
 public:
  ClockedConnection(Clock& clock, std::uint64_t failFromMs)
      : clock_(clock), failFrom_(failFromMs) {}
  long send(const char* data, std::size_t length) override {
    if (clock_.tickMs() >= failFrom_) return -1;
    sends.emplace_back(clock_.tickMs(), std::string(data, length));
    return static_cast<long>(length);
  }
  std::vector<std::pair<std::uint64_t, std::string>> sends;

 private:
  Clock& clock_;
  std::uint64_t failFrom_;
};

struct LimitsBench {
  sim::VirtualClock clock{0};
  OversizedFirmware firmware;
  std::atomic<bool> stopping{false};
  FirmwareApi api{firmware, clock, stopping};
};

TEST(FirmwareApiLimits, AStateThatDoesNotFitAnswers500StateTooLarge) {
  LimitsBench bench;
  bench.firmware.grow();
  sim::MemoryConnection connection;
  bench.api.state(connection);
  EXPECT_EQ(test::statusLine(connection.sent), "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(test::bodyOf(connection.sent), "{\"ok\":false,\"error\":\"state too large\"}");
}

TEST(FirmwareApiLimits, ASkippedDocumentDoesNotPutTheKeepAliveOff) {
  LimitsBench bench;
  ClockedConnection connection(bench.clock, 20000);
  auto growing = bench.clock.startThread([&bench] {
    bench.clock.sleepMs(10000);
    bench.firmware.grow();
  });
  bench.api.events(connection);
  growing->join(kWaitForever);

  // The head, the first document at once, then only the keep-alive due 15 s after that write:
  // the skipped document at 10 s sent nothing and so is no write.
  ASSERT_EQ(connection.sends.size(), 3u);
  EXPECT_EQ(connection.sends[1].first, 0u);
  EXPECT_EQ(connection.sends[2].second, ":\n\n");
  EXPECT_GE(connection.sends[2].first, 15000u);
  EXPECT_LT(connection.sends[2].first, 15000u + 200u);
}

}  // namespace
}  // namespace tw
