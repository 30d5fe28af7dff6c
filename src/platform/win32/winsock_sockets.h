// Loopback TCP with Winsock 2.
#pragma once

#include "platform/sockets.h"

namespace tw {

class WinsockSockets : public SocketPort {
 public:
  bool startup() override;
  std::unique_ptr<ListeningSocket> createListener() override;
};

}  // namespace tw
