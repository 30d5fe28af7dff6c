#include "sim/virtual_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

namespace tw::sim {
namespace {

// Real time spent by `body`, to show that virtual waits cost none.
template <typename Body>
std::chrono::milliseconds realTimeOf(Body body) {
  auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

TEST(VirtualClockThreaded, ParallelSleepersMoveTimeByTheLongestNotTheSum) {
  VirtualClock clock(0);
  std::atomic<std::uint64_t> shortEnd{0}, longEnd{0};
  auto a = clock.startThread([&] {
    clock.sleepMs(100);
    shortEnd = clock.tickMs();
  });
  auto b = clock.startThread([&] {
    clock.sleepMs(250);
    longEnd = clock.tickMs();
  });
  ASSERT_TRUE(a->join(kWaitForever));
  ASSERT_TRUE(b->join(kWaitForever));
  EXPECT_EQ(shortEnd.load(), 100u);
  EXPECT_EQ(longEnd.load(), 250u);
  EXPECT_EQ(clock.tickMs(), 250u);
}

TEST(VirtualClockThreaded, ATenMinuteWaitCostsNoRealTime) {
  VirtualClock clock(0);
  auto event = clock.createEvent(EventReset::Auto, false);
  bool signalled = true;
  auto spent = realTimeOf([&] { signalled = event->wait(600'000); });
  EXPECT_FALSE(signalled);
  EXPECT_EQ(clock.tickMs(), 600'000u);
  EXPECT_LT(spent.count(), 500);
}

TEST(VirtualClockThreaded, ASignalEndsTheWaitWithoutMovingTime) {
  VirtualClock clock(0);
  auto event = clock.createEvent(EventReset::Auto, false);
  std::atomic<bool> got{false};
  std::atomic<std::uint64_t> at{0};
  auto waiter = clock.startThread([&] {
    got = event->wait(700);
    at = clock.tickMs();
  });
  clock.sleepMs(300);  // the waiter is still waiting at 300
  event->set();
  ASSERT_TRUE(waiter->join(kWaitForever));
  EXPECT_TRUE(got.load());
  EXPECT_EQ(at.load(), 300u);
}

TEST(VirtualClockThreaded, EventsKeepTheirSignalByKind) {
  VirtualClock clock(0);
  struct Case {
    EventReset reset;
    bool secondWaitSignalled;
  };
  for (Case c : {Case{EventReset::Auto, false}, Case{EventReset::Manual, true}}) {
    auto event = clock.createEvent(c.reset, false);
    event->set();  // set before anyone waits: not lost
    EXPECT_TRUE(event->wait(0));
    EXPECT_EQ(event->wait(10), c.secondWaitSignalled);
    event->reset();
    EXPECT_FALSE(event->wait(10));
  }
}

TEST(VirtualClockThreaded, AManualEventReleasesEveryWaiterAndAnAutoEventOne) {
  VirtualClock clock(0);
  for (EventReset reset : {EventReset::Manual, EventReset::Auto}) {
    auto event = clock.createEvent(reset, false);
    std::atomic<int> signalled{0};
    std::vector<std::unique_ptr<ClockThread>> threads;
    for (int i = 0; i < 3; ++i) {
      threads.push_back(clock.startThread([&] { signalled += event->wait(1000) ? 1 : 0; }));
    }
    clock.sleepMs(10);
    event->set();
    for (auto& t : threads) ASSERT_TRUE(t->join(kWaitForever));
    EXPECT_EQ(signalled.load(), reset == EventReset::Manual ? 3 : 1);
  }
}

// A loop that waits 700 ms per turn, as the firmware thread does, gives the same count of turns in
// a given stretch of virtual time on every run, and is stopped within its bound.
TEST(VirtualClockThreaded, ATurnLoopIsDeterministicAndStopsInTime) {
  for (int run = 0; run < 20; ++run) {
    VirtualClock clock(0);
    auto wake = clock.createEvent(EventReset::Auto, false);
    std::atomic<bool> stop{false};
    std::atomic<int> turns{0};
    auto loop = clock.startThread([&] {
      while (!stop.load()) {
        wake->wait(700);
        if (!stop.load()) ++turns;
      }
    });
    clock.sleepMs(7350);  // turns end at 700, 1400, ..., 7000
    EXPECT_EQ(turns.load(), 10);
    stop = true;
    wake->set();
    EXPECT_TRUE(loop->join(4000));
    EXPECT_EQ(clock.tickMs(), 7350u);  // the stop's signal ends the wait at once
  }
}

TEST(VirtualClockThreaded, AJoinThatTimesOutReportsIt) {
  VirtualClock clock(0);
  auto never = clock.createEvent(EventReset::Manual, false);
  auto stuck = clock.startThread([&] { never->wait(10'000); });
  EXPECT_FALSE(stuck->join(4000));
  EXPECT_EQ(clock.tickMs(), 4000u);
  never->set();
  EXPECT_TRUE(stuck->join(kWaitForever));
}

}  // namespace
}  // namespace tw::sim
