// The soak's own random numbers: SplitMix64, written out here so that a seed means the same
// history on every compiler and standard library (std::uniform_int_distribution does not).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw::soak {

class SoakRandom {
 public:
  explicit SoakRandom(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. bound - 1 (bound > 0); the small bias of the modulo does not matter here.
  std::uint64_t below(std::uint64_t bound) { return next() % bound; }
  // lo .. hi, both included.
  std::uint64_t between(std::uint64_t lo, std::uint64_t hi) { return lo + below(hi - lo + 1); }
  // True `perMille` times in a thousand.
  bool chance(unsigned perMille) { return below(1000) < perMille; }
  template <typename T>
  const T& pick(const std::vector<T>& from) {
    return from[static_cast<std::size_t>(below(from.size()))];
  }

 private:
  std::uint64_t state_;
};

}  // namespace tw::soak
