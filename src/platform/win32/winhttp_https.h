// The HTTPS port over WinHTTP, in synchronous mode.
#pragma once

#include "platform/https.h"

namespace tw {

class WinHttpPort : public HttpsPort {
 public:
  std::unique_ptr<HttpsSession> open(std::string_view userAgent, HttpsProxy proxy,
                                     std::uint32_t& error) override;
};

}  // namespace tw
