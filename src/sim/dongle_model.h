// The Tarnwick Bridge dongle as the PC sees it over HID: a DualSense-shaped game pad that also
// answers the vendor feature reports (0xF8 identity, 0xF9 signal, 0xF7 configuration, 0xF6
// commands), relays the controller's input reports at the configured rate and forwards output
// reports to the controller.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/controller.h"
#include "sim/hid_device_model.h"

namespace tw::sim {

constexpr std::size_t kDongleConfigSize = 22;
using DongleConfigBytes = std::array<std::uint8_t, kDongleConfigSize>;

// Factory settings, and the rule that replaces every invalid field with its factory value.
DongleConfigBytes factoryDongleConfig();
DongleConfigBytes sanitizeDongleConfig(const DongleConfigBytes& requested);

class DongleModel : public HidDeviceModel {
 public:
  struct Options {
    std::uint16_t productId = 0x0CE6;
    std::string firmwareVersion = "0.9.3";
    // Overrides the feature report length (64) to model odd descriptors.
    std::uint16_t featureLength = 64;
    // Raw identity reply bytes after the id, replacing the version text (junk replies).
    std::vector<std::uint8_t> identityOverride;
    // Odd input descriptors: a shorter input report, or another report id first.
    std::uint16_t inputLength = 64;
    std::uint8_t inputReportId = 0x01;
  };

  DongleModel(Clock& clock, Options options);

  HidAttributes attributes() const override;
  HidCaps caps() const override;
  std::vector<std::uint8_t> featureReportIds() const override;
  bool getFeature(std::uint8_t* buffer, std::size_t length) override;
  bool setFeature(const std::uint8_t* buffer, std::size_t length) override;
  bool writeOutput(const std::uint8_t* buffer, std::size_t length) override;
  std::uint32_t inputPeriodMs() const override;
  std::uint64_t inputEpochMs() const override;
  void fillInputReport(std::uint64_t n, std::uint8_t* buffer, std::size_t length) override;

  // The world changes these.
  ControllerState& controller() { return controller_; }
  std::mutex& mutex() { return mutex_; }
  void setIdentityOverride(std::vector<std::uint8_t> bytes);
  void setFirmwareVersion(const std::string& version);
  std::string firmwareVersion();

  // What the dongle holds.
  DongleConfigBytes appliedConfig();
  DongleConfigBytes savedConfig();
  std::vector<std::vector<std::uint8_t>> outputReports();
  std::uint32_t saveCount();

  // The firmware starts (again): it reports `version`, applies its saved configuration and
  // starts a new input report sequence.
  void restart(const std::string& version, const DongleConfigBytes& saved);

  // Commands that take the dongle off the bus are carried out by the world.
  std::function<void()> onReconnectRequested;
  std::function<void()> onUpdateModeRequested;
  // The firmware writes a saved configuration into its flash (called without the dongle's lock).
  std::function<void(const DongleConfigBytes&)> onSave;

 private:
  Clock& clock_;
  Options options_;
  mutable std::mutex mutex_;
  ControllerState controller_;
  DongleConfigBytes applied_;
  DongleConfigBytes saved_;
  std::uint32_t saveCount_ = 0;
  std::vector<std::vector<std::uint8_t>> outputs_;
  std::uint64_t epochMs_;
};

}  // namespace tw::sim
