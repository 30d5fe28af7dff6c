// The local HTTP server of the control panel: listens on 127.0.0.1 only, serves the page and the
// JSON API, and guards every request with the Host, Origin and per-run key checks. Every limit
// and wait it keeps is in panel/server_limits.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "flash/firmware_service.h"
#include "panel/panel_service.h"
#include "dongle/dongle_link.h"
#include "panel/device_api.h"
#include "panel/firmware_api.h"
#include "panel/panel_page.h"
#include "panel/server_limits.h"
#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/sockets.h"

namespace tw {

struct HttpServerPorts {
  SocketPort& sockets;
  RandomSource& random;
  Clock& clock;
};

class PanelHttpServer : public PanelServer {
 public:
  // `pageAsset` must outlive the server only until startServer has copied it.
  PanelHttpServer(HttpServerPorts ports, DongleLink& dongle, FirmwareService& firmware,
                  std::string_view pageAsset, HttpServerSettings settings = {});
  // The program never stops its server; tests and tools that build several do. Stops accepting,
  // cuts the open connections short and waits for every connection thread to end.
  ~PanelHttpServer() override;

  PanelHttpServer(const PanelHttpServer&) = delete;
  PanelHttpServer& operator=(const PanelHttpServer&) = delete;

  // Key, page, socket, bind, listen, accept thread. False (and port 0) when any step fails.
  bool startServer() override;
  std::uint32_t serverPort() override { return panelPort_.load(); }

  // Makes the key and the page without opening a socket, for driving handleRequest in memory;
  // `port` stands in for the bound port in the Host and Origin checks.
  bool prepareWithoutSocket(std::uint32_t port);

  // Reads one request from the connection, answers it and closes the sending side. Only a request
  // whose declared body arrived whole is handled; any other gets an error answer.
  void serveConnection(SocketConnection& connection);
  // Checks and routes one received request (`length` bytes at `data`: the head and exactly the
  // body it declares). Headers are read from the head alone.
  void handleRequest(SocketConnection& connection, const char* data, std::size_t length);

  const std::string& runKey() const { return runKey_; }
  // Connection threads still running (for tests: none may be left once their peers are gone).
  int activeConnections();

 private:
  bool prepare();
  void acceptLoop();
  void startConnectionThread(std::unique_ptr<SocketConnection> connection);
  void routeApi(SocketConnection& connection, std::string_view path, std::string_view query,
                std::string_view body, bool isPost);

  HttpServerPorts ports_;
  std::string_view pageAsset_;
  HttpServerSettings settings_;
  std::atomic<bool> stopping_{false};
  DeviceApi devices_;
  FirmwareApi firmware_;

  // Written before any thread of the server exists; read-only afterwards.
  std::string runKey_;
  PanelPage page_;
  std::atomic<std::uint32_t> panelPort_{0};
  std::unique_ptr<ListeningSocket> listener_;
  std::unique_ptr<ClockThread> acceptThread_;

  std::mutex connectionsLock_;
  int connections_ = 0;
  std::set<SocketConnection*> open_;  // the connections of running threads, to cut them short
  // Set while no connection thread runs; changed only under connectionsLock_.
  std::unique_ptr<ClockEvent> noConnections_;
};

}  // namespace tw
