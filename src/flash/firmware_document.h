// The firmware state document: everything the panel's firmware screens show, as one JSON object
// without white space, built in the caller's buffer from one consistent snapshot of the firmware
// state; the advice (what the person should do next) decided by a fixed table; and the two small
// readers the tray uses, the job's line and the version offered for the running dongle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "flash/firmware_state.h"

namespace tw {

// What the firmware API hands writeFirmwareState.
inline constexpr std::size_t FIRMWARE_STATE_CAPACITY = 16384;
inline constexpr std::size_t ADVICE_TEXT_CAPACITY = 400;

// Appends to a caller's buffer of `capacity` bytes (terminator included), keeping it a
// NUL-terminated text. The first piece that does not fit sets `overflow`; every append after it
// does nothing. Never allocates.
class JsonDocumentBuilder {
 public:
  JsonDocumentBuilder(char* buffer, std::size_t capacity);

  void append(std::string_view piece);
  // A formatted piece of at most 255 bytes.
  void appendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A JSON string: quote and backslash escaped; "<", ">" and control bytes as \u00xx (so the
  // document holds no line feed and no markup); well-formed UTF-8 copied; a byte that is no part
  // of a well-formed UTF-8 character as \ufffd, so the document stays valid JSON whatever the text.
  void appendJsonString(std::string_view text);

  bool overflow() const { return overflow_; }
  std::size_t length() const { return length_; }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool overflow_ = false;
};

// The advice: the kind, the main button's action, and one sentence.
struct FirmwareAdvice {
  const char* kind = "none";
  const char* primary = "";
  bool confirm = false;  // the person must agree first: the board holds something else
  bool ahead = false;    // the dongle or board has something newer than the target
  char text[ADVICE_TEXT_CAPACITY] = {};
};

// What the advice is decided from.
struct AdviceInputs {
  bool busy = false;  // a job is active or a request is queued
  bool station = false;
  bool runningPresent = false;
  const char* runningVersion = "";
  const BootBoard* board = nullptr;  // nullptr or not present: no board in update mode
  const char* target = "";
};

// The first matching row of the advice table.
void chooseAdvice(const AdviceInputs& in, FirmwareAdvice& advice);

// What the firmware side knows of the program around it.
struct FirmwareDocumentFacts {
  std::string_view appVersion;  // "1.2.0"
};

// Writes the document from one consistent view of the state (FirmwareStore::read, so that nothing
// is copied or allocated; `nowMs` read before the lock was taken). True when complete;
// false when it did not fit, and the buffer then holds a cut-off text that must not be sent.
// With `capacity` 0 nothing is written.
bool writeFirmwareState(const FirmwareState& state, const FirmwareDocumentFacts& facts,
                        std::uint64_t nowMs, char* buffer, std::size_t capacity);

// The tray's line for a queued or running job; false, `line` untouched, when idle.
bool jobTrayText(const FirmwareState& state, std::string& line);

// The version offered for the running dongle: false while a job is active, without a
// running dongle, or when the offer is not usable or not newer than a usable dongle version.
bool offeredUpdate(const FirmwareState& state, std::string& version);

}  // namespace tw
