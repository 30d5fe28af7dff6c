// The DualSense controller on the far side of the dongle's radio link.
#pragma once

#include <cstdint>

namespace tw::sim {

struct ControllerState {
  bool on = true;
  bool paired = true;
  std::uint8_t batteryLevel = 7;  // 0..10 (the nibble can carry up to 15)
  std::uint8_t powerState = 0;    // 0 on battery, 1 charging, 2 full
  std::int8_t signalDbm = -55;    // 0 = no reading
  bool micInUse = false;
  bool soundPlaying = false;
  std::uint8_t buttons[3] = {0x08, 0, 0};  // d-pad released, no buttons held
  std::uint8_t sticks[4] = {128, 128, 128, 128};
  std::uint8_t triggers[2] = {0, 0};

  bool linked() const { return on && paired; }
};

}  // namespace tw::sim
