// The tray's 2-second poll against the simulated dongle on the real clock: the time one
// discoverDongle(poll) takes, including the wait for the controller's next input report.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "dongle/dongle_link.h"
#include "platform/host/steady_clock.h"
#include "sim/world.h"

namespace {

void reportPercentiles(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.counters["worst_us"] = micros.back();
}

void pollWith(benchmark::State& state, bool otherDevices, bool controllerOn) {
  tw::SteadyClock clock;
  tw::sim::World::Options options;
  options.controllerOn = controllerOn;
  tw::sim::World world(clock, options);
  if (otherDevices) {
    world.unplugDongle();
    world.plugKeyboard();
    world.plugDualSense();
    world.plugDongle();
  }
  tw::DongleLink link(world.hid());
  std::vector<double> micros;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    tw::DongleStatus status;
    link.discoverDongle(status, true);
    auto end = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(status);
    micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  reportPercentiles(state, micros);
}

// Controller on, 250 reports a second: the poll waits up to 4 ms for the next report.
void BM_PollDongleAlone(benchmark::State& state) { pollWith(state, false, true); }
void BM_PollBesideKeyboardAndDualSense(benchmark::State& state) { pollWith(state, true, true); }
// Controller off: no input report comes, so the read runs into its 400 ms bound.
void BM_PollControllerOff(benchmark::State& state) { pollWith(state, false, false); }

BENCHMARK(BM_PollDongleAlone)->Iterations(500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollBesideKeyboardAndDualSense)->Iterations(500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollControllerOff)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
