// The HTTP stand-in for WebHID: the dongle's feature reports, output reports and input report
// stream, each call opening the dongle's HID interface for itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "flash/firmware_service.h"
#include "dongle/dongle_link.h"
#include "platform/sockets.h"

namespace tw {

struct DeviceApiTimings {
  std::uint32_t inputWaitMs = 1000;   // one input read; a keep-alive follows a quiet one
  std::uint32_t cancelWaitMs = 200;   // for a cancelled read or write to land
  std::uint32_t outputWaitMs = 1000;  // one output report write
};

// The printable version text of an 0xF8 report of `length` bytes (byte 0 is the id), made safe
// to place inside a JSON string: no quotes, no backslashes, at most 63 characters.
std::string versionTextForJson(const std::uint8_t* report, std::size_t length);

class DeviceApi {
 public:
  // `stopping` ends input streams early when the server owning them goes away.
  DeviceApi(DongleLink& dongle, FirmwareService& firmware, const std::atomic<bool>& stopping,
            DeviceApiTimings timings = {})
      : dongle_(dongle), firmware_(firmware), stopping_(stopping), timings_(timings) {}

  void deviceInfo(SocketConnection& connection);
  void open(SocketConnection& connection);
  void inputStream(SocketConnection& connection);
  // POST writes a report, any other method reads one.
  void feature(SocketConnection& connection, std::string_view query, std::string_view body,
               bool isPost);
  void output(SocketConnection& connection, std::string_view body, bool isPost);

 private:
  void featureRead(SocketConnection& connection, std::string_view query);
  void featureWrite(SocketConnection& connection, std::string_view body);
  std::unique_ptr<HidDevice> openForReports();

  DongleLink& dongle_;
  FirmwareService& firmware_;
  const std::atomic<bool>& stopping_;
  DeviceApiTimings timings_;
};

}  // namespace tw
