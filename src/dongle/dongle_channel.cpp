#include "dongle/dongle_channel.h"

#include <algorithm>

#include "dongle/dongle_reports.h"

namespace tw {
namespace {

constexpr std::size_t kMaxIdentityChars = 63;
// A report needs its id and at least one byte after it.
constexpr std::size_t kMinReportLength = 2;
// Below this an identity report could not hold a version text worth reading.
constexpr std::size_t kMinIdentityReportLength = 3;
// The longest identity report anyone reads; the text ends long before.
constexpr std::size_t kIdentityReportCapacity = 512;

bool keeps(std::uint8_t byte, IdentityChars chars) {
  if (byte < 0x20 || byte > 0x7E) return false;
  return chars != IdentityChars::JsonSafe || (byte != '"' && byte != '\\');
}

}  // namespace

std::string identityTextFromReport(const std::uint8_t* report, std::size_t length,
                                   IdentityChars chars) {
  std::string text;
  for (std::size_t i = 1; i < length && text.size() < kMaxIdentityChars; ++i) {
    std::uint8_t byte = report[i];
    if (byte == 0) break;
    if (keeps(byte, chars)) {
      text.push_back(static_cast<char>(byte));
    } else if (chars == IdentityChars::Marked) {
      text.push_back('?');
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

DongleChannel::DongleChannel(std::unique_ptr<HidDevice> device) : device_(std::move(device)) {
  if (device_) capsKnown_ = device_->getCaps(caps_);
}

bool DongleChannel::getAttributes(HidAttributes& out) {
  return device_ && device_->getAttributes(out);
}

bool DongleChannel::getFeatureReportIds(std::vector<std::uint8_t>& ids) {
  return device_ && device_->getFeatureReportIds(ids);
}

bool DongleChannel::readIdentity(std::size_t maxLength, IdentityChars chars, std::string& text) {
  text.clear();
  if (!device_ || !capsKnown_ || caps_.featureReportByteLength < kMinIdentityReportLength) {
    return false;
  }
  std::uint8_t report[kIdentityReportCapacity] = {};
  const std::size_t length =
      std::min<std::size_t>({caps_.featureReportByteLength, maxLength, kIdentityReportCapacity});
  if (length < kMinIdentityReportLength) return false;
  report[0] = dongle::IDENTITY_REPORT;
  if (!device_->getFeature(report, length)) return false;
  text = identityTextFromReport(report, length, chars);
  return true;
}

std::size_t DongleChannel::checkedLength(std::uint16_t deviceLength, std::size_t capacity,
                                         std::size_t payloadLength) const {
  if (!capsKnown_ || deviceLength < kMinReportLength || deviceLength > capacity) return 0;
  if (deviceLength < payloadLength + 1) return 0;
  return deviceLength;
}

DongleExchange DongleChannel::getFeature(std::uint8_t* report, std::size_t capacity,
                                         std::size_t& length) {
  length = 0;
  if (!device_) return DongleExchange::NotOpen;
  const std::size_t checked = checkedLength(caps_.featureReportByteLength, capacity, 0);
  if (checked == 0) return DongleExchange::BadLength;
  std::fill(report + 1, report + capacity, 0);
  if (!device_->getFeature(report, checked)) return DongleExchange::Failed;
  length = checked;
  return DongleExchange::Done;
}

DongleExchange DongleChannel::setFeature(const std::uint8_t* report, std::size_t capacity,
                                         std::size_t payloadLength) {
  if (!device_) return DongleExchange::NotOpen;
  const std::size_t checked = checkedLength(caps_.featureReportByteLength, capacity, payloadLength);
  if (checked == 0) return DongleExchange::BadLength;
  return device_->setFeature(report, checked) ? DongleExchange::Done : DongleExchange::Failed;
}

DongleExchange DongleChannel::writeOutput(const std::uint8_t* report, std::size_t capacity,
                                          std::size_t payloadLength, std::uint32_t timeoutMs) {
  if (!device_) return DongleExchange::NotOpen;
  const std::size_t checked = checkedLength(caps_.outputReportByteLength, capacity, payloadLength);
  if (checked == 0) return DongleExchange::BadLength;
  return device_->writeOutput(report, checked, timeoutMs) ? DongleExchange::Done
                                                          : DongleExchange::Failed;
}

std::size_t DongleChannel::inputLength(std::size_t capacity) const {
  return device_ ? checkedLength(caps_.inputReportByteLength, capacity, 0) : 0;
}

InputReadResult DongleChannel::readInput(std::uint8_t* buffer, std::size_t length,
                                         std::uint32_t waitMs, std::uint32_t cancelWaitMs) {
  if (!device_) return {};
  return device_->readInput(buffer, length, waitMs, cancelWaitMs);
}

}  // namespace tw
