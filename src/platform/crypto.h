// Cryptographic services of the operating system.
// Windows: the CryptoAPI random generator. Linux: getrandom.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

// What a fallback generator can be seeded with when the system generator fails.
struct EntropyHints {
  std::uint64_t performanceCounter = 0;
  std::uint64_t tickMs = 0;
  std::uint64_t processId = 0;
};

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // Fills `length` bytes from the system's cryptographic generator; false when it failed.
  virtual bool randomBytes(std::uint8_t* out, std::size_t length) = 0;
  virtual EntropyHints entropyHints() = 0;
};

}  // namespace tw
