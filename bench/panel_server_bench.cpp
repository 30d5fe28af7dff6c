// The local server on real loopback sockets over the simulated dongle sending 1000 input reports
// a second: reports reaching an input stream client, feature read latency, and the server's memory
// with four open streams.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "flash/firmware_service.h"
#include "dongle/dongle_link.h"
#include "panel/http_server.h"
#include "panel_page_asset.h"
#include "platform/host/posix_sockets.h"
#include "platform/host/steady_clock.h"
#include "platform/host/system_random.h"
#include "sim/world.h"

namespace {

using Clock = std::chrono::steady_clock;

// The world, with the dongle set to full-speed reports (1 ms apart), and a started server.
struct Bench {
  Bench() {
    std::uint8_t command[64] = {0xF6, 0x01};
    tw::sim::DongleConfigBytes config = tw::sim::factoryDongleConfig();
    config[10] = 2;  // report rate: full speed
    std::memcpy(command + 2, config.data(), config.size());
    world.dongle().setFeature(command, sizeof command);
    server = std::make_unique<tw::PanelHttpServer>(tw::HttpServerPorts{sockets, random, clock},
                                                   dongle, firmware, tw::assets::panelPageAsset());
    server->startServer();
    port = server->serverPort();
  }
  std::string request(const std::string& pathAndQuery) {
    return "GET " + pathAndQuery + (pathAndQuery.find('?') == std::string::npos ? "?" : "&") +
           "k=" + server->runKey() + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\n\r\n";
  }

  tw::SteadyClock clock;
  tw::sim::World world{clock};
  tw::DongleLink dongle{world.hid()};
  tw::IdleFirmware firmware;
  tw::PosixSockets sockets;
  tw::SystemRandom random;
  std::unique_ptr<tw::PanelHttpServer> server;
  std::uint32_t port = 0;
};

int connectTo(std::uint32_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string roundTrip(std::uint32_t port, const std::string& request) {
  int fd = connectTo(port);
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char chunk[4096];
  for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;) answer.append(chunk, n);
  close(fd);
  return answer;
}

// Counts complete "data:" events arriving on an open stream for `seconds`.
long countEvents(int fd, double seconds) {
  long events = 0;
  std::string pending;
  char chunk[16384];
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 50) <= 0) continue;
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    pending.append(chunk, n);
    for (std::size_t at; (at = pending.find("\n\n")) != std::string::npos;) {
      if (pending.compare(0, 6, "data: ") == 0 || pending.find("data: ") < at) ++events;
      pending.erase(0, at + 2);
    }
  }
  return events;
}

long residentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

void BM_InputStreamRate(benchmark::State& state) {
  Bench bench;
  for (auto _ : state) {
    int fd = connectTo(bench.port);
    std::string request = bench.request("/api/input");
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    countEvents(fd, 0.5);  // the head and the first reports
    const double seconds = 5.0;
    long events = countEvents(fd, seconds);
    close(fd);
    state.counters["reports_per_s"] = events / seconds;
    state.counters["sent_per_s"] = 1000;
    state.counters["reaching_pct"] = 100.0 * events / seconds / 1000;
  }
}
BENCHMARK(BM_InputStreamRate)->Iterations(1)->Unit(benchmark::kSecond);

void BM_FeatureReadLatency(benchmark::State& state) {
  Bench bench;
  const std::string request = bench.request("/api/feature?id=249");
  roundTrip(bench.port, request);  // discovery happens once, outside the measurement
  std::vector<double> micros;
  for (auto _ : state) {
    auto start = Clock::now();
    std::string answer = roundTrip(bench.port, request);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (answer.rfind("HTTP/1.1 200 OK", 0) != 0) state.SkipWithError("feature read failed");
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}
BENCHMARK(BM_FeatureReadLatency)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_MemoryWithFourStreams(benchmark::State& state) {
  Bench bench;
  for (auto _ : state) {
    long before = residentKb();
    std::vector<int> streams;
    for (int i = 0; i < 4; ++i) {
      int fd = connectTo(bench.port);
      std::string request = bench.request("/api/input");
      send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      streams.push_back(fd);
    }
    // Keep reading so the streams run at full rate while the memory settles.
    for (int round = 0; round < 10; ++round) {
      for (int fd : streams) countEvents(fd, 0.05);
    }
    long during = residentKb();
    for (int fd : streams) close(fd);
    state.counters["rss_before_kb"] = before;
    state.counters["rss_4_streams_kb"] = during;
    state.counters["delta_kb"] = during - before;
    state.counters["threads_open"] = bench.server->activeConnections();
  }
}
BENCHMARK(BM_MemoryWithFourStreams)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
