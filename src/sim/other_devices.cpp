#include "sim/other_devices.h"

#include <cstring>

namespace tw::sim {

DualSenseModel::DualSenseModel(Clock& clock, std::uint16_t productId)
    : productId_(productId), epochMs_(clock.tickMs()) {}

HidAttributes DualSenseModel::attributes() const {
  return HidAttributes{0x054C, productId_, 0x0100};
}

HidCaps DualSenseModel::caps() const {
  HidCaps caps;
  caps.usagePage = 1;
  caps.usage = 5;
  caps.inputReportByteLength = 64;
  caps.outputReportByteLength = 48;
  caps.featureReportByteLength = 64;
  return caps;
}

std::vector<std::uint8_t> DualSenseModel::featureReportIds() const {
  return {0x05, 0x08, 0x09, 0x20, 0x22, 0x80, 0x81};
}

bool DualSenseModel::getFeature(std::uint8_t* buffer, std::size_t length) {
  // Calibration (0x05) and pairing info (0x09) answer; the vendor reports do not exist here.
  if (buffer[0] != 0x05 && buffer[0] != 0x09) return false;
  std::memset(buffer + 1, 0x11, length - 1);
  return true;
}

bool DualSenseModel::setFeature(const std::uint8_t* buffer, std::size_t) {
  return buffer[0] == 0x80;
}

bool DualSenseModel::writeOutput(const std::uint8_t* buffer, std::size_t) {
  return buffer[0] == 0x02;
}

void DualSenseModel::fillInputReport(std::uint64_t n, std::uint8_t* buffer, std::size_t length) {
  if (length < 64) return;
  buffer[0] = 0x01;
  std::memcpy(buffer + 1, state.sticks, 4);
  buffer[7] = static_cast<std::uint8_t>(n);
  std::memcpy(buffer + 8, state.buttons, 3);
  buffer[53] = static_cast<std::uint8_t>((state.powerState << 4) | (state.batteryLevel & 0x0F));
}

HidCaps KeyboardModel::caps() const {
  HidCaps caps;
  caps.usagePage = 1;
  caps.usage = 6;
  caps.inputReportByteLength = 9;
  caps.outputReportByteLength = 2;
  caps.featureReportByteLength = 0;
  return caps;
}

}  // namespace tw::sim
