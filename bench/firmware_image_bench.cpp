// SHA-256 throughput of the system's own implementation against OpenSSL's on the same buffer,
// and the whole check of the built-in image (UF2 rules, flat image, program information, digest).
#include <benchmark/benchmark.h>
#include <openssl/sha.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "built_in_firmware.h"
#include "firmware/sha256.h"
#include "firmware/uf2_check.h"

namespace {

// 16 MB of random bytes, shared by every size measured.
const std::vector<std::uint8_t>& randomBytes() {
  static std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> b(16 << 20);
    std::mt19937 random(1);
    for (auto& x : b) x = std::uint8_t(random());
    return b;
  }();
  return bytes;
}

void ownSha256(benchmark::State& state) {
  const auto& bytes = randomBytes();
  char hex[65];
  for (auto _ : state) {
    tw::sha256Hex(bytes.data(), state.range(0), hex);
    benchmark::DoNotOptimize(hex);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void opensslSha256(benchmark::State& state) {
  const auto& bytes = randomBytes();
  unsigned char digest[32];
  for (auto _ : state) {
    SHA256(bytes.data(), state.range(0), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(ownSha256)->Arg(4096)->Arg(2594816)->Arg(16 << 20);
BENCHMARK(opensslSha256)->Arg(4096)->Arg(2594816)->Arg(16 << 20);

// What the firmware job does with the built-in image before installing it.
void checkBuiltInImage(benchmark::State& state) {
  char hex[65];
  char message[200];
  for (auto _ : state) {
    tw::FirmwareImage image;
    int ok = tw::checkUf2(builtInFirmwareImage, builtInFirmwareImageSize, image, message,
                          sizeof message);
    tw::sha256Hex(builtInFirmwareImage, builtInFirmwareImageSize, hex);
    if (ok != 1) state.SkipWithError(message);
    benchmark::DoNotOptimize(image.data.get());
  }
  state.SetBytesProcessed(state.iterations() * builtInFirmwareImageSize);
}
BENCHMARK(checkBuiltInImage)->Unit(benchmark::kMillisecond);

void checkUf2Only(benchmark::State& state) {
  char message[200];
  for (auto _ : state) {
    tw::FirmwareImage image;
    tw::checkUf2(builtInFirmwareImage, builtInFirmwareImageSize, image, message, sizeof message);
    benchmark::DoNotOptimize(image.data.get());
  }
  state.SetBytesProcessed(state.iterations() * builtInFirmwareImageSize);
}
BENCHMARK(checkUf2Only)->Unit(benchmark::kMillisecond);

// One pass of each on the same 16 MB buffer, timed together, so the ratio is printed directly.
void reportRatio() {
  const auto& bytes = randomBytes();
  auto time = [&](auto hash) {
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
      auto start = std::chrono::steady_clock::now();
      hash();
      double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (seconds < best) best = seconds;
    }
    return bytes.size() / best / 1e6;
  };
  char hex[65];
  unsigned char digest[32];
  double own = time([&] { tw::sha256Hex(bytes.data(), bytes.size(), hex); });
  double openssl = time([&] { SHA256(bytes.data(), bytes.size(), digest); });
  std::printf("SHA-256 over 16 MB: own %.0f MB/s, OpenSSL %.0f MB/s, own/OpenSSL %.2f\n", own,
              openssl, own / openssl);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  reportRatio();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
