// base64Decode over arbitrary text, and the round trip of whatever it decoded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "panel/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::uint8_t decoded[tw::kMaxDecodedBytes];
  int n = tw::base64Decode(text, decoded);
  if (n < -1 || n > static_cast<int>(tw::kMaxDecodedBytes)) std::abort();
  if (n < 0) return 0;
  char encoded[tw::base64EncodedCapacity(tw::kMaxDecodedBytes)];
  std::size_t length = tw::base64Encode(decoded, static_cast<std::size_t>(n), encoded);
  if (length != std::strlen(encoded) || length % 4 != 0) std::abort();
  std::uint8_t again[tw::kMaxDecodedBytes];
  if (tw::base64Decode(encoded, again) != n || std::memcmp(decoded, again, n) != 0) std::abort();
  return 0;
}
