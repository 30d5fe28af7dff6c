// The panel's long-lived calls, held open on threads of the virtual clock as a browser tab would
// hold them: the firmware event stream (every event must be valid JSON and its "seq" must never go
// back) and the input report stream. Each ends when the soak drops it or its time is up.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "panel/http_server.h"
#include "sim/memory_connection.h"
#include "sim/virtual_clock.h"

namespace tw::soak {

class StreamConnection : public sim::MemoryConnection {
 public:
  StreamConnection(std::string request, Clock& clock, std::uint64_t untilMs, bool checkEvents)
      : MemoryConnection(std::move(request)),
        clock_(clock),
        until_(untilMs),
        checkEvents_(checkEvents) {}
  long send(const char* data, std::size_t length) override;
  void drop() { dropped_ = true; }
  // What was wrong with the events so far (taken, so each is told once).
  std::vector<std::string> takeProblems();
  std::uint64_t events() const { return events_.load(); }

 private:
  void readEvents();
  Clock& clock_;
  const std::uint64_t until_;
  const bool checkEvents_;
  std::atomic<bool> dropped_{false};
  std::atomic<std::uint64_t> events_{0};
  std::mutex mutex_;
  std::string pending_;  // received but not yet a whole event
  bool headSeen_ = false;
  std::uint64_t lastSeq_ = 0;
  std::vector<std::string> problems_;
};

class Streams {
 public:
  Streams(sim::VirtualClock& clock, PanelHttpServer& server) : clock_(clock), server_(server) {}
  ~Streams();
  // `untilMs`: when the tab goes away by itself.
  void open(const std::string& path, std::uint64_t lifetimeMs, bool checkEvents);
  void dropOldest();
  void dropAll();
  std::size_t open() const { return slots_.size(); }
  // Forgets the streams that ended; their problems join `problems`.
  void reap(std::vector<std::string>& problems);
  std::uint64_t eventsSeen() const { return eventsSeen_; }

 private:
  struct Slot {
    std::unique_ptr<StreamConnection> connection;
    std::unique_ptr<ClockThread> thread;
    std::shared_ptr<std::atomic<bool>> ended;
  };
  sim::VirtualClock& clock_;
  PanelHttpServer& server_;
  std::vector<Slot> slots_;
  std::uint64_t eventsSeen_ = 0;
};

}  // namespace tw::soak
