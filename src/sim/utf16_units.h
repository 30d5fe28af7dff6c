// How many UTF-16 units a UTF-8 text takes on Windows, for the simulated world's capacity checks.
// Written here rather than shared with the system, so that a mistake in one is caught by the other.
#pragma once

#include <cstddef>
#include <string_view>

namespace tw::sim {

inline std::size_t utf16Units(std::string_view utf8) {
  std::size_t units = 0;
  for (unsigned char byte : utf8) {
    if ((byte & 0xC0) == 0x80) continue;  // continuation bytes add nothing
    units += byte >= 0xF0 ? 2 : 1;        // four-byte sequences become surrogate pairs
  }
  return units;
}

}  // namespace tw::sim
