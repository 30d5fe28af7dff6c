#include "panel/base64.h"

namespace tw {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::size_t base64Encode(const std::uint8_t* bytes, std::size_t length, char* out) {
  std::size_t o = 0;
  std::size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out[o++] = kAlphabet[(group >> 18) & 63];
    out[o++] = kAlphabet[(group >> 12) & 63];
    out[o++] = kAlphabet[(group >> 6) & 63];
    out[o++] = kAlphabet[group & 63];
  }
  std::size_t left = length - i;
  if (left > 0) {
    std::uint32_t group = bytes[i] << 16;
    if (left == 2) group |= bytes[i + 1] << 8;
    out[o++] = kAlphabet[(group >> 18) & 63];
    out[o++] = kAlphabet[(group >> 12) & 63];
    out[o++] = left == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    out[o++] = '=';
  }
  out[o] = '\0';
  return o;
}

int base64Decode(std::string_view text, std::uint8_t* out) {
  std::uint32_t pending = 0;
  int bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '\0') break;  // the value is a C text: it ends at the first NUL
    int value = sextet(c);
    if (value < 0) continue;
    pending = ((pending << 6) | static_cast<std::uint32_t>(value)) & 0xFFFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (count == static_cast<int>(kMaxDecodedBytes)) return -1;
      out[count++] = static_cast<std::uint8_t>(pending >> bits);
    }
  }
  return count;
}

}  // namespace tw
