// The base64 codec HID reports travel in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tw {

// Largest payload base64Decode produces.
inline constexpr std::size_t kMaxDecodedBytes = 512;

// Bytes of output (with the terminating NUL) that base64Encode needs for `length` bytes.
constexpr std::size_t base64EncodedCapacity(std::size_t length) {
  return (length + 2) / 3 * 4 + 1;
}

// Standard alphabet with "=" padding; NUL-terminates `out` and returns the text length.
std::size_t base64Encode(const std::uint8_t* bytes, std::size_t length, char* out);

// Takes the alphabet's characters in order and skips every other character ("=" and white space
// included); leftover bits at the end are dropped. Returns the byte count written to `out`
// (kMaxDecodedBytes capacity), or -1 when more than kMaxDecodedBytes would result.
int base64Decode(std::string_view text, std::uint8_t* out);

}  // namespace tw
