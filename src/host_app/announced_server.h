// The panel's server, telling the person where the panel is once it has started.
#pragma once

#include <cstdint>
#include <string>

#include "host_app/console.h"
#include "panel/panel_service.h"

namespace tw::host {

class AnnouncedServer : public PanelServer {
 public:
  AnnouncedServer(PanelServer& inner, Console& console) : inner_(inner), console_(console) {}
  bool startServer() override {
    bool started = inner_.startServer();
    std::uint32_t port = inner_.serverPort();
    console_.printLine(port != 0 ? "Panel: http://127.0.0.1:" + std::to_string(port) + "/"
                                 : std::string("Panel: not listening"));
    return started;
  }
  std::uint32_t serverPort() override { return inner_.serverPort(); }

 private:
  PanelServer& inner_;
  Console& console_;
};

}  // namespace tw::host
