// One poll's result of the dongle link.
#pragma once

#include <cstdint>
#include <string>

namespace tw {

struct DongleStatus {
  bool present = false;
  // The firmware identity text from report 0xF8 (printable ASCII, at most 63 characters); empty
  // when the dongle was recognised by its remembered path alone.
  std::string firmware;
  std::int32_t signalDbm = 0;      // 0 means no reading
  std::int32_t batteryLevel = -1;  // 0..10, -1 means no reading
  std::uint32_t batteryState = 0;  // power state nibble: 0 on battery, 1 charging, 2 full
};

}  // namespace tw
