// picobootSerial over arbitrary parent device IDs, which come from the device's own descriptors:
// the serial is at most 39 characters of 0x20..0x7F and is the tail of the ID after its last
// backslash wherever that tail is plain ASCII.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "flash/picoboot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string id(reinterpret_cast<const char*>(data), size);
  std::string serial = tw::picobootSerial(id);
  if (serial.size() > tw::kPicobootSerialMax) std::abort();
  for (char c : serial) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7F) std::abort();
  }
  std::size_t slash = id.rfind('\\');
  if (slash == std::string::npos || id.find("VID_2E8A") == std::string::npos) {
    if (!serial.empty()) std::abort();
    return 0;
  }
  std::string tail = id.substr(slash + 1, tw::kPicobootSerialMax);
  bool plain = true;
  for (char c : tail) plain = plain && c >= 0x20 && static_cast<unsigned char>(c) <= 0x7F;
  if (plain && serial != tail) std::abort();
  return 0;
}
