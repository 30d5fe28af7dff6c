#include "common/text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tw {
namespace {

// Length of the UTF-8 sequence that starts with `lead`; 1 for stray continuation bytes.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

std::size_t wellFormedUtf8Length(std::string_view text, std::size_t at) {
  auto byteAt = [&](std::size_t i) -> unsigned {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0x100u;
  };
  auto within = [](unsigned byte, unsigned low, unsigned high) {
    return byte >= low && byte <= high;
  };
  const unsigned lead = byteAt(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (within(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (within(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (within(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (!within(byteAt(1), low, high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!within(byteAt(i), 0x80, 0xBF)) return 0;
  }
  return length;
}

std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes) {
  std::size_t end = 0;
  while (end < text.size()) {
    std::size_t next = end + sequenceLength(static_cast<unsigned char>(text[end]));
    if (next > maxBytes || next > text.size()) break;
    end = next;
  }
  return text.substr(0, end);
}

std::string cutUtf8(std::string_view text, std::size_t capacity) {
  if (capacity == 0) return {};
  return std::string(utf8Prefix(text, capacity - 1));
}

std::string cutToUtf16Units(std::string_view text, std::size_t maxUnits) {
  std::size_t end = 0, units = 0;
  while (end < text.size()) {
    std::size_t length = sequenceLength(static_cast<unsigned char>(text[end]));
    std::size_t cost = length == 4 ? 2 : 1;  // characters beyond the BMP take a surrogate pair
    if (units + cost > maxUnits || end + length > text.size()) break;
    units += cost;
    end += length;
  }
  return std::string(text.substr(0, end));
}

std::size_t utf16Length(std::string_view text) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = sequenceLength(static_cast<unsigned char>(text[i]));
    units += length == 4 ? 2 : 1;
    i += length;
  }
  return units;
}

std::string formatText(std::size_t capacity, const char* format, ...) {
  if (capacity == 0) return {};
  std::vector<char> buffer(capacity);
  va_list args;
  va_start(args, format);
  int written = std::vsnprintf(buffer.data(), capacity, format, args);
  va_end(args);
  if (written < 0) return {};
  // vsnprintf may have cut inside a multi-byte character; drop the broken tail.
  return cutUtf8(std::string_view(buffer.data()), capacity);
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace tw
