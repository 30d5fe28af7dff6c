// Getting a 2.5 MB release from the simulated update host until its bytes are verified: the
// download with its size and digest checks, storing in the cache, the signature checked with
// OpenSSL behind the crypto port; and the same from a good cached copy. Also the heap in use
// above the starting point at its highest during one fetch (glibc's count, sampled after every
// read and at the end), which includes the simulated host's own copy of the file it sends.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <string>

#include "firmware/fetch_firmware.h"
#include "firmware/update_host.h"
#include "platform/host/openssl_signature.h"
#include "sim/sim_file_system.h"
#include "sim/sim_releases.h"
#include "sim/virtual_clock.h"
#include "trusted_release_key.h"

namespace {

struct World {
  World() {
    releases.publish("0.9.4");
    readList();
  }
  void readList() {
    const std::string json = releases.releaseList();
    tw::parseReleaseList(json.data(), json.size(), list, nullptr, 0);
  }
  tw::sim::VirtualClock clock;
  tw::sim::SimFileSystem files{clock};
  tw::sim::SimUpdateHost host{tw::UpdateHost};
  tw::sim::SimReleases releases{host, clock, tw::UpdateHost};
  tw::OpenSslSignatureVerifier signatures;
  tw::ReleaseList list{};
  tw::FirmwareFetchPorts ports{host, files, signatures, tw::build::kTrustedReleaseKey, nullptr};
};

World& world() {
  static World w;
  return w;
}

std::size_t heapInUse() {
  return mallinfo2().uordblks;
}

void fetch(benchmark::State& state, bool cached) {
  World& w = world();
  const tw::ReleaseInfo& release = w.list.builds[0];
  std::size_t peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!cached) {
      std::uint32_t error = 0;
      w.files.deleteFile(std::string(tw::sim::SimFileSystem::kLocalAppData) +
                             "\\Tarnwick Bridge\\firmware\\tarnwick-bridge-0.9.4.uf2",
                         error);
    }
    const std::size_t base = heapInUse();
    std::size_t high = base;
    tw::FirmwareFetchProgress progress;
    progress.received = [&](std::uint64_t, std::uint64_t) { high = std::max(high, heapInUse()); };
    state.ResumeTiming();
    tw::FetchedBytes data;
    std::size_t size = 0;
    std::string reason;
    const bool ok = tw::fetchFirmware(w.ports, release, data, size, reason, progress);
    state.PauseTiming();
    high = std::max(high, heapInUse());
    peak = std::max(peak, high - base);
    if (!ok || size != release.size) state.SkipWithError(reason.c_str());
    data.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(release.size));
  state.counters["peak_heap_MiB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
  state.counters["file_MiB"] = static_cast<double>(release.size) / (1024.0 * 1024.0);
}

void downloadAndVerify(benchmark::State& state) {
  fetch(state, false);
}
void verifyCachedCopy(benchmark::State& state) {
  fetch(state, true);
}

BENCHMARK(downloadAndVerify)->Unit(benchmark::kMillisecond);
BENCHMARK(verifyCachedCopy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
