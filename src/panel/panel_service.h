// What the control panel service offers the tray: its server's port and opening the panel.
#pragma once

#include <cstdint>

namespace tw {

class PanelServer {
 public:
  virtual ~PanelServer() = default;
  // Starts the local HTTP server; failure is not fatal (serverPort stays 0).
  virtual bool startServer() = 0;
  // The listening port, 0 when not listening.
  virtual std::uint32_t serverPort() = 0;
};

class PanelLauncher {
 public:
  virtual ~PanelLauncher() = default;
  virtual void openControlPanel() = 0;
};

}  // namespace tw
