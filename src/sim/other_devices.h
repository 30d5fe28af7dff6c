// HID devices that are not the dongle but may sit beside it.
#pragma once

#include "platform/clock.h"
#include "sim/controller.h"
#include "sim/hid_device_model.h"

namespace tw::sim {

// A real DualSense on USB: the same identity as the dongle, but it does not know the vendor
// reports (0xF8 and friends are stalled).
class DualSenseModel : public HidDeviceModel {
 public:
  explicit DualSenseModel(Clock& clock, std::uint16_t productId = 0x0CE6);
  HidAttributes attributes() const override;
  HidCaps caps() const override;
  std::vector<std::uint8_t> featureReportIds() const override;
  bool getFeature(std::uint8_t* buffer, std::size_t length) override;
  bool setFeature(const std::uint8_t* buffer, std::size_t length) override;
  bool writeOutput(const std::uint8_t* buffer, std::size_t length) override;
  std::uint32_t inputPeriodMs() const override { return 4; }
  std::uint64_t inputEpochMs() const override { return epochMs_; }
  void fillInputReport(std::uint64_t n, std::uint8_t* buffer, std::size_t length) override;

  ControllerState state;

 private:
  std::uint16_t productId_;
  std::uint64_t epochMs_;
};

// A keyboard: another vendor, usage 6. Never a candidate.
class KeyboardModel : public HidDeviceModel {
 public:
  HidAttributes attributes() const override { return HidAttributes{0x046D, 0xC31C, 0x4900}; }
  HidCaps caps() const override;
  std::vector<std::uint8_t> featureReportIds() const override { return {}; }
  bool getFeature(std::uint8_t*, std::size_t) override { return false; }
  bool setFeature(const std::uint8_t*, std::size_t) override { return false; }
  bool writeOutput(const std::uint8_t*, std::size_t) override { return false; }
  std::uint32_t inputPeriodMs() const override { return 0; }
  std::uint64_t inputEpochMs() const override { return 0; }
  void fillInputReport(std::uint64_t, std::uint8_t*, std::size_t) override {}
};

}  // namespace tw::sim
