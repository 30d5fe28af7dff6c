// SHA-256 (FIPS 180-4), the system's own: firmware files are checked against published digests
// and the built-in image against the digest it was built with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

struct Sha256 {
  std::uint32_t state[8];
  std::uint64_t count;  // bytes hashed so far
  std::uint8_t buffer[64];
  std::size_t fill;  // bytes waiting in `buffer`
};

void sha256Init(Sha256& context);
void sha256Update(Sha256& context, const void* bytes, std::size_t length);
// Writes the 32-byte digest. The context must be initialised again before further use.
void sha256Final(Sha256& context, std::uint8_t digest[32]);

// The digest of `bytes` as 64 lowercase hexadecimal digits and a terminating zero.
void sha256Hex(const void* bytes, std::size_t length, char out[65]);

}  // namespace tw
