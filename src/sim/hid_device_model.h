// The device side of a simulated HID interface: what it reports about itself and how it answers
// reports. The simulated HID port turns these into the HidDevice handles the system sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "sim/faults.h"

namespace tw::sim {

class HidDeviceModel {
 public:
  virtual ~HidDeviceModel() = default;

  virtual HidAttributes attributes() const = 0;
  virtual HidCaps caps() const = 0;
  virtual std::vector<std::uint8_t> featureReportIds() const = 0;

  // buffer[0] holds the report id. False when the device rejects the request.
  virtual bool getFeature(std::uint8_t* buffer, std::size_t length) = 0;
  virtual bool setFeature(const std::uint8_t* buffer, std::size_t length) = 0;
  virtual bool writeOutput(const std::uint8_t* buffer, std::size_t length) = 0;

  // Input reports are produced on a fixed schedule: report n is ready at inputEpochMs() +
  // n * inputPeriodMs(). A period of 0 means the device sends nothing now.
  virtual std::uint32_t inputPeriodMs() const = 0;
  virtual std::uint64_t inputEpochMs() const = 0;
  // Fills report n (buffer of the input report length, id in byte 0).
  virtual void fillInputReport(std::uint64_t n, std::uint8_t* buffer, std::size_t length) = 0;

  // Every operation of the device's handles consults this plan first. Operation names: "open",
  // "open-with-access", "attributes", "caps", "get-feature", "set-feature", "read-input",
  // "write-output".
  FaultPlan faults;
};

}  // namespace tw::sim
