// Validating a full release list of twelve builds, as the update check does after every fetch,
// and tokenizing the same document alone.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "firmware/json_reader.h"
#include "firmware/release_list.h"
#include "firmware/update_host.h"
#include "sim/update_host_sim.h"

namespace {

std::string twelveBuildList() {
  std::vector<tw::sim::SimBuild> builds;
  for (int i = 0; i < 12; ++i) {
    tw::sim::SimBuild b;
    b.version = "1." + std::to_string(i) + ".0";
    b.channel = i % 3 == 0 ? "beta" : "stable";
    b.url = std::string(tw::UpdateFirmwarePrefix) + "tarnwick-" + b.version + ".uf2";
    b.sha256 = std::string(64, 'A');
    b.sig = std::string(128, 'c');
    b.size = std::to_string(512 * (1000 + i));
    b.notes = "Pairing is faster; the light bar follows the battery \xE2\x80\x94 and more. " +
              std::string(200, 'n');
    builds.push_back(b);
  }
  return tw::sim::SimUpdateHost::releaseListJson("1.11.0", builds);
}

void parseTwelveBuilds(benchmark::State& state) {
  const std::string document = twelveBuildList();
  tw::ReleaseList list;
  for (auto _ : state) {
    int ok = tw::parseReleaseList(document.data(), document.size(), list, nullptr, 0);
    benchmark::DoNotOptimize(ok);
    if (list.count != 12) state.SkipWithError("the list did not keep twelve builds");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
  state.counters["document_bytes"] = static_cast<double>(document.size());
}
BENCHMARK(parseTwelveBuilds);

void tokenizeTwelveBuilds(benchmark::State& state) {
  const std::string document = twelveBuildList();
  tw::JsonToken tokens[tw::RELEASE_LIST_MAX_TOKENS];
  for (auto _ : state) {
    int count =
        tw::jsonParse(document.data(), document.size(), tokens, tw::RELEASE_LIST_MAX_TOKENS);
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
}
BENCHMARK(tokenizeTwelveBuilds);

}  // namespace

BENCHMARK_MAIN();
