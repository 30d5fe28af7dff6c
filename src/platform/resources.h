// Read-only data the program carries inside itself (the built-in firmware image).
// Windows: the module's own resources. Linux: bytes linked into the program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

constexpr int kResourceBuiltInFirmware = 200;  // RT_RCDATA

class Resources {
 public:
  virtual ~Resources() = default;
  // Finds, loads and locks the RT_RCDATA resource `id` of the program's own module. The bytes stay
  // valid for the life of the process. False when it is missing or can't be loaded.
  virtual bool loadRcData(int id, const std::uint8_t*& bytes, std::size_t& size) = 0;
};

}  // namespace tw
