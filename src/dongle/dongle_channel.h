// One open dongle with its capabilities: "open it, check the report length against the
// capabilities, exchange" for everyone who passes reports to the dongle, with the step that ended
// an exchange told apart so that each caller can answer in its own words. Also the one rule that
// turns the dongle's identity report into text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace tw {

// What the identity text keeps of the report's bytes.
enum class IdentityChars {
  Printable,  // every byte from 0x20 to 0x7E
  JsonSafe,   // the same without '"' and '\', so that the text can stand inside a JSON string
  Marked,     // every byte kept, those outside 0x20 to 0x7E shown as '?'
};

// The identity text of an 0xF8 feature report of `length` bytes (byte 0 is the id): the kept
// characters of bytes 1.. up to the first NUL or 63 characters, other bytes skipped, trailing
// spaces removed.
std::string identityTextFromReport(const std::uint8_t* report, std::size_t length,
                                   IdentityChars chars = IdentityChars::Printable);

// How an exchange over a channel ended.
enum class DongleExchange {
  Done,
  NotOpen,    // the dongle could not be opened
  BadLength,  // capabilities unreadable, or the device's report length outside 2..capacity or
              // too short for the payload
  Failed,     // the device refused the report or did not answer
};

class DongleChannel {
 public:
  DongleChannel() = default;  // a channel to no dongle: every exchange ends NotOpen
  // Takes over an open device and reads its capabilities.
  explicit DongleChannel(std::unique_ptr<HidDevice> device);

  bool isOpen() const { return device_ != nullptr; }
  // Closes the device now rather than when the channel goes.
  void close() { device_.reset(); }

  // Capabilities as read when the channel opened; false when they could not be had.
  bool capsKnown() const { return capsKnown_; }
  const HidCaps& caps() const { return caps_; }

  bool getAttributes(HidAttributes& out);
  // The report ids of the feature items; false when the list broke off (what came stays).
  bool getFeatureReportIds(std::vector<std::uint8_t>& ids);

  // Reads the identity report with the device's feature length, capped at `maxLength`, into
  // `text`. False (and `text` empty) when the channel is not open, the capabilities are unknown,
  // the feature length is below 3 or the read failed; true with whatever text the report held,
  // which may be empty.
  bool readIdentity(std::size_t maxLength, IdentityChars chars, std::string& text);

  // The exchanges. `report` holds `capacity` bytes with the report id in byte 0; the device's
  // report length must lie within 2..capacity, or the exchange ends BadLength untouched.
  //
  // Reads feature report report[0] whole; `length` gets the device's feature length.
  DongleExchange getFeature(std::uint8_t* report, std::size_t capacity, std::size_t& length);
  // Sends the device's feature length of `report`: the id, `payloadLength` bytes of payload, and
  // what follows (zeros, as the caller laid them out). The report must hold the payload.
  DongleExchange setFeature(const std::uint8_t* report, std::size_t capacity,
                            std::size_t payloadLength);
  // The same for an output report, cancelled after `timeoutMs`.
  DongleExchange writeOutput(const std::uint8_t* report, std::size_t capacity,
                             std::size_t payloadLength, std::uint32_t timeoutMs);

  // The device's input report length when it lies within 2..capacity, else 0.
  std::size_t inputLength(std::size_t capacity) const;
  // One input report read (see HidDevice::readInput); Failed when the channel is not open.
  InputReadResult readInput(std::uint8_t* buffer, std::size_t length, std::uint32_t waitMs,
                            std::uint32_t cancelWaitMs);

 private:
  // `deviceLength` when the capabilities are known and it lies within 2..capacity with room for
  // the id and `payloadLength` bytes; else 0.
  std::size_t checkedLength(std::uint16_t deviceLength, std::size_t capacity,
                            std::size_t payloadLength) const;

  std::unique_ptr<HidDevice> device_;
  HidCaps caps_;
  bool capsKnown_ = false;
};

}  // namespace tw
