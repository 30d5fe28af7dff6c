#include "firmware/sha256.h"

#include <cstring>

namespace tw {
namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline std::uint32_t rotr(std::uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

inline std::uint32_t loadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         std::uint32_t(p[3]);
}

void compress(std::uint32_t state[8], const std::uint8_t* block) {
  // A 16-word rolling schedule keeps the working set in registers.
  std::uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = loadBigEndian(block + 4 * i);

  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t wi;
    if (i < 16) {
      wi = w[i];
    } else {
      std::uint32_t w15 = w[(i - 15) & 15], w2 = w[(i - 2) & 15];
      std::uint32_t s0 = rotr(w15, 7) ^ rotr(w15, 18) ^ (w15 >> 3);
      std::uint32_t s1 = rotr(w2, 17) ^ rotr(w2, 19) ^ (w2 >> 10);
      wi = w[i & 15] = w[i & 15] + s0 + w[(i - 7) & 15] + s1;
    }
    std::uint32_t t1 =
        h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + wi;
    std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace

void sha256Init(Sha256& context) {
  static constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(context.state, kInitial, sizeof kInitial);
  context.count = 0;
  context.fill = 0;
}

void sha256Update(Sha256& context, const void* bytes, std::size_t length) {
  if (length == 0) return;
  const auto* in = static_cast<const std::uint8_t*>(bytes);
  context.count += length;
  if (context.fill > 0) {
    std::size_t take = 64 - context.fill;
    if (take > length) take = length;
    std::memcpy(context.buffer + context.fill, in, take);
    context.fill += take;
    in += take;
    length -= take;
    if (context.fill < 64) return;
    compress(context.state, context.buffer);
    context.fill = 0;
  }
  // Whole blocks straight from the caller's bytes: no copy for the bulk of a firmware file.
  for (; length >= 64; in += 64, length -= 64) compress(context.state, in);
  std::memcpy(context.buffer, in, length);
  context.fill = length;
}

void sha256Final(Sha256& context, std::uint8_t digest[32]) {
  std::uint64_t bits = context.count * 8;
  context.buffer[context.fill++] = 0x80;
  if (context.fill > 56) {
    std::memset(context.buffer + context.fill, 0, 64 - context.fill);
    compress(context.state, context.buffer);
    context.fill = 0;
  }
  std::memset(context.buffer + context.fill, 0, 56 - context.fill);
  for (int i = 0; i < 8; ++i) context.buffer[56 + i] = std::uint8_t(bits >> (56 - 8 * i));
  compress(context.state, context.buffer);
  for (int i = 0; i < 8; ++i) {
    digest[4 * i] = std::uint8_t(context.state[i] >> 24);
    digest[4 * i + 1] = std::uint8_t(context.state[i] >> 16);
    digest[4 * i + 2] = std::uint8_t(context.state[i] >> 8);
    digest[4 * i + 3] = std::uint8_t(context.state[i]);
  }
  context.fill = 0;
}

void sha256Hex(const void* bytes, std::size_t length, char out[65]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  Sha256 context;
  sha256Init(context);
  sha256Update(context, bytes, length);
  std::uint8_t digest[32];
  sha256Final(context, digest);
  for (int i = 0; i < 32; ++i) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 15];
  }
  out[64] = '\0';
}

}  // namespace tw
