// The firmware state as the panel follows it: building one state document (and how many heap
// allocations that takes), the processor time an idle event stream costs per minute, and the time
// from a change of the firmware state to its event reaching a client over a real socket.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "flash/firmware_document.h"
#include "flash/firmware_subsystem.h"
#include "host_app/linux_program.h"
#include "panel/firmware_api.h"
#include "panel/http_server.h"

// Every heap allocation of the process, so that a piece of code can be shown to make none. The
// replacements pair malloc with free, which the compiler cannot see through once they are inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static std::atomic<long> g_allocations{0};

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// The firmware side with its image verified and, for a busy document, a board and a job.
struct Firmware {
  explicit Firmware(bool busy, tw::HttpServerSettings panel = {})
      : program(options(console, panel)) {
    tw::FirmwareState& state = firmware.state();
    std::lock_guard<std::mutex> lock(state.lock);
    tw::loadBuiltInImage(program.resources(), state.builtIn);
    if (!busy) return;
    state.board.present = state.board.usb = true;
    state.board.read = tw::BOARD_READ;
    state.board.program = "blink \"demo\" <1.0>";
    state.board.serial = "E0C9125B0D9B";
    state.board.drive = "E:";
    state.job.active = true;
    state.job.action = "install";
    state.job.phase = "write";
    state.job.pct = 40;
    state.job.msg = "Writing the firmware\xE2\x80\xA6 12 of 40 sectors";
    state.job.detail = "Keep the dongle plugged in until this is done.";
  }
  // The program on its own clock, its tray never run; nothing is published and nothing printed.
  static tw::host::LinuxProgramOptions options(std::ostream& out, tw::HttpServerSettings panel) {
    tw::host::LinuxProgramOptions options;
    options.out = &out;
    options.version = "1.2.0";
    options.keyboard = false;
    options.published.clear();
    options.panelSettings = panel;
    return options;
  }
  std::ostream console{nullptr};
  tw::host::LinuxProgram program;
  tw::Clock& clock = program.clock();
  tw::sim::World& world = program.world();
  tw::FirmwareSubsystem& firmware = program.firmware();
};

void BM_BuildStateDocument(benchmark::State& state) {
  Firmware f(state.range(0) != 0);
  std::unique_ptr<char[]> buffer(new char[tw::FIRMWARE_STATE_CAPACITY]);
  long allocations = 0;
  std::size_t length = 0;
  for (auto _ : state) {
    const long before = g_allocations.load();
    const bool complete = f.firmware.writeFirmwareState(buffer.get(), tw::FIRMWARE_STATE_CAPACITY);
    allocations += g_allocations.load() - before;
    if (!complete) state.SkipWithError("the document did not fit");
    benchmark::DoNotOptimize(buffer.get());
  }
  length = std::strlen(buffer.get());
  state.counters["bytes"] = static_cast<double>(length);
  state.counters["allocations_per_doc"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BuildStateDocument)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A connection that takes every byte and counts them.
class CountingConnection : public tw::SocketConnection {
 public:
  long receive(char*, std::size_t) override { return 0; }
  long send(const char*, std::size_t length) override {
    if (stop.load()) return -1;
    bytes += length;
    return static_cast<long>(length);
  }
  void shutdownSend() override {}
  void shutdownBoth() override {}
  bool setNoDelay(bool) override { return true; }
  bool setSendTimeout(std::uint32_t) override { return true; }
  bool setReceiveTimeout(std::uint32_t) override { return true; }
  std::atomic<bool> stop{false};
  std::size_t bytes = 0;
};

// One stream on a quiet firmware side, in real time: the processor time of its thread, scaled to
// a minute.
void BM_IdleEventStreamCpu(benchmark::State& state) {
  Firmware f(false);
  std::atomic<bool> stopping{false};
  tw::FirmwareApi api(f.firmware, f.clock, stopping);
  for (auto _ : state) {
    CountingConnection connection;
    double cpu = 0;
    const double seconds = 6.0;
    std::thread stream([&] {
      const double start = threadCpuSeconds();
      api.events(connection);
      cpu = threadCpuSeconds() - start;
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    connection.stop = true;  // its next send fails: the keep-alive 15 s after the document
    stopping = true;         // ... or the next poll
    stream.join();
    stopping = false;
    state.counters["cpu_ms_per_minute"] = cpu * 1000 * 60 / seconds;
    state.counters["bytes_sent"] = static_cast<double>(connection.bytes);
  }
}
BENCHMARK(BM_IdleEventStreamCpu)->Iterations(1)->Unit(benchmark::kSecond);

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

// Reads until one more whole "data:" event has arrived; false when the stream ended.
bool awaitEvent(int fd, std::string& pending) {
  char chunk[16384];
  for (;;) {
    // The response head ends in "\r\n\r\n" and comes first.
    const std::size_t headEnd = pending.find("\r\n\r\n");
    if (pending.rfind("HTTP/", 0) == 0 && headEnd != std::string::npos) {
      pending.erase(0, headEnd + 4);
    }
    for (std::size_t at; (at = pending.find("\n\n")) != std::string::npos;) {
      const bool data = pending.compare(0, 6, "data: ") == 0;
      pending.erase(0, at + 2);
      if (data) return true;
    }
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 2000) <= 0) return false;
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    pending.append(chunk, static_cast<std::size_t>(n));
  }
}

// A change of the firmware state (a dismiss counts as one) at a random moment, until its event
// arrives over loopback.
void BM_ChangeToEventLatency(benchmark::State& state) {
  tw::HttpServerSettings settings;
  settings.firstPort = 47100;
  settings.lastPort = 47199;
  Firmware f(false, settings);
  tw::PanelHttpServer& server = f.program.panelServer();
  if (!server.startServer()) {
    state.SkipWithError("no server");
    return;
  }
  const int fd = connectTo(server.serverPort());
  const std::string request =
      "GET /api/fw/events?k=" + server.runKey() +
      " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.serverPort()) + "\r\n\r\n";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string pending;
  if (!awaitEvent(fd, pending)) state.SkipWithError("no first event");
  std::mt19937 dice(7);
  std::uniform_int_distribution<int> pause(0, 240);
  std::vector<double> millis;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(dice)));
    const auto changed = Clock::now();
    f.firmware.dismissFirmwareResult();
    if (!awaitEvent(fd, pending)) {
      state.SkipWithError("stream ended");
      break;
    }
    millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - changed).count());
  }
  close(fd);
  if (millis.empty()) return;
  std::sort(millis.begin(), millis.end());
  double sum = 0;
  for (double m : millis) sum += m;
  state.counters["mean_ms"] = sum / static_cast<double>(millis.size());
  state.counters["median_ms"] = millis[millis.size() / 2];
  state.counters["max_ms"] = millis.back();
}
BENCHMARK(BM_ChangeToEventLatency)->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
