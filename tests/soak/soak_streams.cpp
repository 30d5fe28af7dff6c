#include "soak/soak_streams.h"

#include <cstdlib>

#include "common/strict_json.h"

namespace tw::soak {

long StreamConnection::send(const char* data, std::size_t length) {
  if (dropped_.load() || clock_.tickMs() >= until_) return -1;
  if (checkEvents_) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.append(data, length);
    readEvents();
  }
  return static_cast<long>(length);  // nothing is kept: a long stream stays small
}

void StreamConnection::readEvents() {
  if (!headSeen_) {
    const std::size_t end = pending_.find("\r\n\r\n");
    if (end == std::string::npos) return;
    if (pending_.compare(0, 15, "HTTP/1.1 200 OK") != 0) {
      problems_.push_back("the event stream answered " + pending_.substr(0, pending_.find('\r')));
    }
    pending_.erase(0, end + 4);
    headSeen_ = true;
  }
  for (std::size_t end; (end = pending_.find("\n\n")) != std::string::npos;) {
    const std::string event = pending_.substr(0, end);
    pending_.erase(0, end + 2);
    if (event == ":") continue;  // keep-alive
    ++events_;
    test::StrictJson json;
    if (event.compare(0, 6, "data: ") != 0 || !json.parse(event.substr(6))) {
      problems_.push_back("an event of the firmware stream is not one JSON document: " + event);
      continue;
    }
    const auto found = json.values().find("seq");
    const std::uint64_t seq =
        found == json.values().end() ? 0 : std::strtoull(found->second.c_str(), nullptr, 10);
    if (seq <= lastSeq_) {
      problems_.push_back("the firmware stream's seq went from " + std::to_string(lastSeq_) +
                          " to " + std::to_string(seq));
    }
    lastSeq_ = seq;
  }
}

std::vector<std::string> StreamConnection::takeProblems() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::move(problems_);
}

Streams::~Streams() {
  dropAll();
}

void Streams::open(const std::string& path, std::uint64_t lifetimeMs, bool checkEvents) {
  const std::string request =
      "GET " + path + "?k=" + server_.runKey() +
      " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_.serverPort()) + "\r\n\r\n";
  Slot slot;
  slot.connection = std::make_unique<StreamConnection>(request, clock_,
                                                       clock_.tickMs() + lifetimeMs, checkEvents);
  slot.ended = std::make_shared<std::atomic<bool>>(false);
  StreamConnection* connection = slot.connection.get();
  auto ended = slot.ended;
  PanelHttpServer& server = server_;
  slot.thread = clock_.startThread([&server, connection, ended] {
    server.serveConnection(*connection);
    ended->store(true);
  });
  if (slot.thread) slots_.push_back(std::move(slot));
}

void Streams::dropOldest() {
  if (!slots_.empty()) slots_.front().connection->drop();
}

void Streams::dropAll() {
  for (Slot& slot : slots_) slot.connection->drop();
  // A dropped stream notices at its next send: within one keep-alive of virtual time.
  for (Slot& slot : slots_) slot.thread->join(kWaitForever);
  std::vector<std::string> ignored;
  reap(ignored);
}

void Streams::reap(std::vector<std::string>& problems) {
  for (Slot& slot : slots_) {
    for (std::string& problem : slot.connection->takeProblems()) problems.push_back(problem);
  }
  for (auto it = slots_.begin(); it != slots_.end();) {
    if (it->ended->load() && it->thread->join(kWaitForever)) {
      eventsSeen_ += it->connection->events();
      it = slots_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace tw::soak
