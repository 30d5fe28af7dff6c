#include "sim/dongle_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tw::sim {
namespace {

constexpr std::uint8_t kOutputReportId = 0x02;
constexpr std::uint8_t kCommandReportId = 0xF6;
constexpr std::uint8_t kConfigReportId = 0xF7;
constexpr std::uint8_t kIdentityReportId = 0xF8;
constexpr std::uint8_t kSignalReportId = 0xF9;

constexpr std::uint8_t kCommandApply = 0x01;
constexpr std::uint8_t kCommandSave = 0x02;
constexpr std::uint8_t kCommandReconnect = 0x03;
constexpr std::uint8_t kCommandUpdateMode = 0x04;

constexpr std::uint16_t kOutputLength = 48;
constexpr std::size_t kOutputsKept = 256;

// Configuration record offsets.
enum ConfigOffset : std::size_t {
  kVersion = 0,
  kHaptics = 1,
  kSpkVol = 5,
  kHsVol = 6,
  kSpkGain = 7,
  kIdle = 8,
  kLed = 9,
  kRate = 10,
  kBuf = 11,
  kMode = 12,
  kUsbSn = 13,
  kShortcut = 14,
  kMic = 15,
  kSpk = 16,
  kWake = 17,
  kTrig = 18,
  kLockVol = 19,
  kGpioPin = 20,
  kGpioMode = 21,
};

struct ByteRule {
  std::size_t offset;
  std::uint8_t min, max, factory;
};

constexpr ByteRule kByteRules[] = {
    {kSpkVol, 0, 100, 80}, {kHsVol, 0, 100, 60}, {kSpkGain, 0, 7, 0}, {kIdle, 0, 240, 30},
    {kLed, 0, 1, 0},       {kRate, 0, 2, 0},     {kBuf, 16, 128, 32}, {kMode, 0, 2, 2},
    {kUsbSn, 0, 1, 0},     {kShortcut, 0, 1, 0}, {kMic, 0, 3, 0},     {kSpk, 0, 3, 0},
    {kWake, 0, 1, 0},      {kTrig, 0, 10, 0},    {kLockVol, 0, 1, 0}, {kGpioMode, 0, 3, 0},
};
constexpr std::uint8_t kLayoutVersion = 1;
constexpr std::uint8_t kNoGpioPin = 0xFF;
constexpr std::uint8_t kHighestGpioPin = 47;
constexpr float kFactoryHaptics = 1.0f;

float readHaptics(const DongleConfigBytes& config) {
  float value;
  std::memcpy(&value, &config[kHaptics], sizeof value);
  return value;
}

void writeHaptics(DongleConfigBytes& config, float value) {
  std::memcpy(&config[kHaptics], &value, sizeof value);
}

}  // namespace

DongleConfigBytes factoryDongleConfig() {
  DongleConfigBytes config{};
  config[kVersion] = kLayoutVersion;
  writeHaptics(config, kFactoryHaptics);
  for (const ByteRule& rule : kByteRules) config[rule.offset] = rule.factory;
  config[kGpioPin] = kNoGpioPin;
  return config;
}

DongleConfigBytes sanitizeDongleConfig(const DongleConfigBytes& requested) {
  DongleConfigBytes config = requested;
  config[kVersion] = kLayoutVersion;
  float haptics = readHaptics(requested);
  if (!std::isfinite(haptics)) {
    haptics = kFactoryHaptics;  // 0xFF bytes read as NaN: "restore defaults"
  }
  writeHaptics(config, std::clamp(haptics, 1.0f, 2.0f));
  for (const ByteRule& rule : kByteRules) {
    std::uint8_t value = requested[rule.offset];
    if (value < rule.min || value > rule.max) config[rule.offset] = rule.factory;
  }
  if (config[kGpioPin] > kHighestGpioPin) config[kGpioPin] = kNoGpioPin;
  return config;
}

DongleModel::DongleModel(Clock& clock, Options options)
    : clock_(clock),
      options_(std::move(options)),
      applied_(factoryDongleConfig()),
      saved_(factoryDongleConfig()),
      epochMs_(clock.tickMs()) {}

HidAttributes DongleModel::attributes() const {
  return HidAttributes{0x054C, options_.productId, 0x0100};
}

HidCaps DongleModel::caps() const {
  HidCaps caps;
  caps.usagePage = 1;
  caps.usage = 5;
  caps.inputReportByteLength = options_.inputLength;
  caps.outputReportByteLength = kOutputLength;
  caps.featureReportByteLength = options_.featureLength;
  return caps;
}

std::vector<std::uint8_t> DongleModel::featureReportIds() const {
  return {kCommandReportId, kConfigReportId, kIdentityReportId, kSignalReportId};
}

bool DongleModel::getFeature(std::uint8_t* buffer, std::size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint8_t id = buffer[0];
  std::size_t reportLength = std::min<std::size_t>(length, options_.featureLength);
  if (reportLength < 2) return false;
  std::memset(buffer + 1, 0, length - 1);
  switch (id) {
    case kIdentityReportId: {
      if (!options_.identityOverride.empty()) {
        std::size_t n = std::min(options_.identityOverride.size(), reportLength - 1);
        std::memcpy(buffer + 1, options_.identityOverride.data(), n);
        return true;
      }
      std::size_t n = std::min(options_.firmwareVersion.size(), reportLength - 2);
      std::memcpy(buffer + 1, options_.firmwareVersion.data(), n);
      return true;
    }
    case kSignalReportId: {
      bool linked = controller_.linked();
      buffer[1] = linked ? static_cast<std::uint8_t>(controller_.signalDbm) : 0;
      buffer[2] = static_cast<std::uint8_t>(0x80 | (linked && controller_.micInUse ? 0x01 : 0) |
                                            (linked && controller_.soundPlaying ? 0x02 : 0));
      return true;
    }
    case kConfigReportId:
      if (reportLength < 1 + kDongleConfigSize) return false;
      std::memcpy(buffer + 1, applied_.data(), kDongleConfigSize);
      return true;
    default:
      return false;  // the device stalls reports it does not have
  }
}

bool DongleModel::setFeature(const std::uint8_t* buffer, std::size_t length) {
  if (buffer[0] != kCommandReportId || length < 2) return false;
  std::function<void()> afterwards;
  std::function<void(const DongleConfigBytes&)> store;
  DongleConfigBytes saved{};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (buffer[1]) {
      case kCommandApply: {
        if (length < 2 + kDongleConfigSize) return false;
        DongleConfigBytes requested;
        std::memcpy(requested.data(), buffer + 2, kDongleConfigSize);
        applied_ = sanitizeDongleConfig(requested);
        break;
      }
      case kCommandSave:
        saved_ = applied_;
        ++saveCount_;
        store = onSave;
        saved = saved_;
        break;
      case kCommandReconnect:
        afterwards = onReconnectRequested;
        break;
      case kCommandUpdateMode:
        afterwards = onUpdateModeRequested;
        break;
      default:
        return false;
    }
  }
  // The world unplugs the dongle or writes its flash; not under the dongle's own lock.
  if (store) store(saved);
  if (afterwards) afterwards();
  return true;
}

bool DongleModel::writeOutput(const std::uint8_t* buffer, std::size_t length) {
  if (buffer[0] != kOutputReportId) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  outputs_.emplace_back(buffer, buffer + length);
  if (outputs_.size() > kOutputsKept) outputs_.erase(outputs_.begin());
  return true;
}

std::uint32_t DongleModel::inputPeriodMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!controller_.linked()) return 0;
  switch (applied_[kRate]) {
    case 1:
      return 2;
    case 2:
      return 1;
    default:
      return 4;
  }
}

void DongleModel::fillInputReport(std::uint64_t n, std::uint8_t* buffer, std::size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (length < 11) return;
  buffer[0] = options_.inputReportId;
  std::memcpy(buffer + 1, controller_.sticks, 4);
  buffer[5] = controller_.triggers[0];
  buffer[6] = controller_.triggers[1];
  buffer[7] = static_cast<std::uint8_t>(n);  // the pad's running report counter
  std::memcpy(buffer + 8, controller_.buttons, 3);
  if (length <= 53) return;
  buffer[53] =
      static_cast<std::uint8_t>((controller_.powerState << 4) | (controller_.batteryLevel & 0x0F));
}

std::uint64_t DongleModel::inputEpochMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return epochMs_;
}

void DongleModel::restart(const std::string& version, const DongleConfigBytes& saved) {
  std::uint64_t now = clock_.tickMs();
  std::lock_guard<std::mutex> lock(mutex_);
  options_.firmwareVersion = version;
  applied_ = saved;
  saved_ = saved;
  epochMs_ = now;
}

void DongleModel::setIdentityOverride(std::vector<std::uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.identityOverride = std::move(bytes);
}

void DongleModel::setFirmwareVersion(const std::string& version) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.firmwareVersion = version;
}

std::string DongleModel::firmwareVersion() {
  std::lock_guard<std::mutex> lock(mutex_);
  return options_.firmwareVersion;
}

DongleConfigBytes DongleModel::appliedConfig() {
  std::lock_guard<std::mutex> lock(mutex_);
  return applied_;
}

DongleConfigBytes DongleModel::savedConfig() {
  std::lock_guard<std::mutex> lock(mutex_);
  return saved_;
}

std::vector<std::vector<std::uint8_t>> DongleModel::outputReports() {
  std::lock_guard<std::mutex> lock(mutex_);
  return outputs_;
}

std::uint32_t DongleModel::saveCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return saveCount_;
}

}  // namespace tw::sim
