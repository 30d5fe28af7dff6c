// HID devices: enumeration of HID interfaces, opening by path, and report I/O.
// Windows: SetupAPI, HidD_*, HidP_*, CreateFileW with overlapped I/O. Linux: the simulated world.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tw {

enum class HidAccess { None, Read, ReadWrite };

struct HidAttributes {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t versionNumber = 0;
};

// The fields of HIDP_CAPS the system uses, plus the report ids of the feature items.
struct HidCaps {
  std::uint16_t usage = 0;
  std::uint16_t usagePage = 0;
  std::uint16_t inputReportByteLength = 0;
  std::uint16_t outputReportByteLength = 0;
  std::uint16_t featureReportByteLength = 0;
};

struct InputReadResult {
  enum class Outcome {
    Completed,  // finished (at once or within the wait); `bytes` were read
    TimedOut,   // did not finish within the wait and was cancelled
    Failed,     // the read could not be issued or failed
  };
  Outcome outcome = Outcome::Failed;
  std::size_t bytes = 0;
};

// One open HID interface. Closing happens when the object is destroyed.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  virtual bool getAttributes(HidAttributes& out) = 0;
  // Reads the preparsed data, HidP_GetCaps, frees the preparsed data.
  virtual bool getCaps(HidCaps& out) = 0;
  // Report ids of the feature value and button items, in the order the descriptor lists them.
  virtual bool getFeatureReportIds(std::vector<std::uint8_t>& ids) = 0;
  // buffer[0] holds the report id on entry; `length` bytes are exchanged.
  virtual bool getFeature(std::uint8_t* buffer, std::size_t length) = 0;
  virtual bool setFeature(const std::uint8_t* buffer, std::size_t length) = 0;
  // One input report read: start it; if it does not finish within `waitMs`, cancel it and wait up
  // to `cancelWaitMs` more for the cancellation to land. Needs a handle opened overlapped with
  // read access.
  virtual InputReadResult readInput(std::uint8_t* buffer, std::size_t length, std::uint32_t waitMs,
                                    std::uint32_t cancelWaitMs) = 0;
  // One output report write, cancelled after `timeoutMs`.
  virtual bool writeOutput(const std::uint8_t* buffer, std::size_t length,
                           std::uint32_t timeoutMs) = 0;
};

class HidPort {
 public:
  virtual ~HidPort() = default;
  // Device interface paths of the present HID interfaces, in enumeration order. False when the
  // list cannot be had at all.
  virtual bool listInterfaces(std::vector<std::string>& paths) = 0;
  // Opens with read and write sharing, open-existing; nullptr when the open fails.
  virtual std::unique_ptr<HidDevice> open(const std::string& path, HidAccess access,
                                          bool overlapped) = 0;
};

}  // namespace tw
