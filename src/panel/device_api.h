// The HTTP stand-in for WebHID: the dongle's feature reports, output reports and input report
// stream, each call opening the dongle's HID interface for itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "flash/firmware_service.h"
#include "dongle/dongle_link.h"
#include "panel/server_limits.h"
#include "platform/sockets.h"

namespace tw {

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

  DongleLink& dongle_;
  FirmwareService& firmware_;
  const std::atomic<bool>& stopping_;
  DeviceApiTimings timings_;
};

}  // namespace tw
