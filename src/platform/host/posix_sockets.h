// Loopback TCP with POSIX sockets.
#pragma once

#include "platform/sockets.h"

namespace tw {

class PosixSockets : public SocketPort {
 public:
  bool startup() override;
  std::unique_ptr<ListeningSocket> createListener() override;
};

}  // namespace tw
