// Every limit and wait of the local HTTP server and the device API behind it, in one place: what
// a request may hold, how big the answers' fixed parts are, and how long anything is waited for.
// The capacities count a terminating NUL, as the fixed buffers they describe do: a capacity of
// 128 keeps at most 127 bytes of a value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

// Reading a request.
inline constexpr std::size_t kRequestCapacity = 16384;  // bytes received per connection
inline constexpr std::size_t kMaxBodyLength = 8192;     // a larger Content-Length is refused unread

// The request line and the headers the checks read.
inline constexpr std::size_t kMethodChars = 7;
inline constexpr std::size_t kTargetChars = 1023;
inline constexpr std::size_t kHostCapacity = 128;
inline constexpr std::size_t kOriginCapacity = 256;
inline constexpr std::size_t kKeyCapacity = 128;

// Writing an answer.
inline constexpr std::size_t kHeadCapacity = 512;      // the head of a JSON or text answer
inline constexpr std::size_t kPageHeadCapacity = 512;  // the head of the page
// Escaping of an error message stops once this much escaped text exists; with the last escape
// (at most 6 bytes) and the object around it the error body stays below its capacity.
inline constexpr std::size_t kEscapedMessageLimit = 633;
inline constexpr std::size_t kErrorObjectCapacity = 768;

// The device API's request fields and reports.
inline constexpr std::size_t kIdCapacity = 16;
inline constexpr std::size_t kDataCapacity = 1400;   // base64 text as sent, before decoding
inline constexpr std::size_t kReportCapacity = 512;  // feature and output reports, id included
inline constexpr std::size_t kInputReportCapacity = 1024;
inline constexpr std::size_t kFeatureListCapacity = 1200;
inline constexpr std::size_t kDeviceInfoCapacity = 1600;
inline constexpr std::size_t kFeatureAnswerCapacity = 900;

// The firmware API: the state document, an event of the stream ("data: ", the document, "\n\n"),
// and the fields of an action call.
inline constexpr std::size_t kStateCapacity = 16384;
inline constexpr std::size_t kEventCapacity = 16400;
static_assert(kEventCapacity >= 6 + (kStateCapacity - 1) + 2, "an event holds a whole document");
inline constexpr std::size_t kActionCapacity = 24;
inline constexpr std::size_t kConfirmCapacity = 8;
inline constexpr std::size_t kRefusalCapacity = 400;

// The firmware event stream's rhythm.
struct FirmwareStreamTimings {
  std::uint32_t pollMs = 120;          // how often the change counter is looked at
  std::uint32_t keepAliveMs = 15000;   // a comment after this much silence
  std::uint32_t tooLargeWaitMs = 200;  // after a document that did not fit
};

// The device API's waits on the dongle.
struct DeviceApiTimings {
  std::uint32_t inputWaitMs = 1000;   // one input read; a keep-alive follows a quiet one
  std::uint32_t cancelWaitMs = 200;   // for a cancelled read or write to land
  std::uint32_t outputWaitMs = 1000;  // one output report write
};

// Where the server listens and how long it waits. Tests shorten the waits and move the ports.
struct HttpServerSettings {
  std::uint16_t firstPort = 17832;  // tried in order up to lastPort; the first that binds wins
  std::uint16_t lastPort = 17843;
  int backlog = 8;
  std::uint32_t sendTimeoutMs = 15000;
  std::uint32_t receiveTimeoutMs = 30000;
  std::uint32_t acceptRetryMs = 50;  // after a failed accept
  // How long one accept waits before the accept thread looks whether the server is going away.
  std::uint32_t acceptWaitMs = 250;
  DeviceApiTimings device;
  FirmwareStreamTimings firmwareStream;
};

}  // namespace tw
