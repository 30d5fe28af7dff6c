// The panel's firmware calls: the state document, its event stream, and the four actions that
// start, cancel, check and dismiss. It keeps no state of its own: the firmware side answers.
#pragma once

#include <atomic>
#include <string_view>

#include "flash/firmware_service.h"
#include "panel/server_limits.h"
#include "platform/clock.h"
#include "platform/sockets.h"

namespace tw {

class FirmwareApi {
 public:
  // `stopping` ends event streams early when the server owning them goes away.
  FirmwareApi(FirmwareService& firmware, Clock& clock, const std::atomic<bool>& stopping,
              FirmwareStreamTimings timings = {})
      : firmware_(firmware), clock_(clock), stopping_(stopping), timings_(timings) {}

  // "/api/fw", any method.
  void state(SocketConnection& connection);
  // "/api/fw/events", any method: the document now, then again whenever it changes, until a send
  // fails.
  void events(SocketConnection& connection);
  // Any other path under "/api/fw/".
  void action(SocketConnection& connection, std::string_view path, std::string_view body,
              bool isPost);

 private:
  FirmwareService& firmware_;
  Clock& clock_;
  const std::atomic<bool>& stopping_;
  FirmwareStreamTimings timings_;
};

}  // namespace tw
