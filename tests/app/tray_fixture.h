// A tray process on the simulated world, with fakes for the subsystems the tray calls.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include <string>

#include "app/tray_app_impl.h"
#include "host_app/stepped_loop.h"
#include "sim/recording_tray.h"
#include "sim/sim_desktop.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw::testing {

// A loop whose run() hands control to the test instead of waiting for messages.
using ScriptedLoop = host::SteppedLoop;

class FakeFirmware : public FirmwareService {
 public:
  void firmwareStart(WindowId window) override { startedWith = window; }
  void firmwareStop() override { ++stops; }
  void reportDongle(bool present, const std::string& firmware) override {
    lastPresent = present;
    lastFirmware = firmware;
    ++reports;
  }
  bool isFirmwareBusy() override { return busy; }
  bool isBoardInUpdateMode() override { return boardInUpdateMode; }
  bool jobTrayText(std::string& line) override {
    line = jobLine;
    return !jobLine.empty();
  }
  bool offeredUpdate(std::string& version) override {
    version = offer;
    return !offer.empty();
  }
  bool takeNotice(TrayNotice& notice) override {
    if (!pendingNotice) return false;
    notice = *pendingNotice;
    pendingNotice.reset();
    return true;
  }
  bool startFirmwareAction(const std::string& action, bool confirm, std::string& error) override {
    actions.push_back(action + (confirm ? "+confirm" : ""));
    if (!refusal.empty()) error = refusal;
    return refusal.empty();
  }
  void cancelFirmwareJob() override {}
  void dismissFirmwareResult() override {}
  void requestUpdateCheck() override { ++checks; }
  std::uint32_t firmwareSeq() override { return 1; }
  bool writeFirmwareState(char*, std::size_t) override { return false; }

  bool busy = false;
  bool boardInUpdateMode = false;
  std::string jobLine;
  std::string offer;
  std::optional<TrayNotice> pendingNotice;
  std::string refusal;
  WindowId startedWith = 0;
  int stops = 0, reports = 0, checks = 0;
  bool lastPresent = false;
  std::string lastFirmware;
  std::vector<std::string> actions;
};

class CountingLauncher : public PanelLauncher {
 public:
  void openControlPanel() override { ++opened; }
  int opened = 0;
};

class FixedPortServer : public PanelServer {
 public:
  bool startServer() override {
    ++starts;
    return port != 0;
  }
  std::uint32_t serverPort() override { return port; }
  std::uint32_t port = 0;
  int starts = 0;
};

class FakeStartWithWindows : public StartWithWindows {
 public:
  bool isStartWithWindowsOn() override { return on; }
  void setStartWithWindows(bool value) override { on = value; }
  void refreshInstalledCopy() override {
    ++refreshes;
    if (duringRefresh) duringRefresh();
  }
  std::function<void()> duringRefresh;
  bool on = false;
  int refreshes = 0;
};

class TrayFixture : public ::testing::Test {
 protected:
  TrayFixture() : world(clock), loop(clock), desktop(clock), link(world.hid()) {}

  // Builds the app for a command line; call run() (or start()) afterwards.
  TrayApp& makeApp(const std::string& commandLine = "Tarnwick.exe",
                   const std::string& version = "1.2.0") {
    app = std::make_unique<TrayApp>(TrayAppConfig{version, commandLine},
                                    TrayAppPorts{loop, tray, desktop}, link,
                                    TrayAppServices{server, launcher, firmware, startWithWindows});
    return *app;
  }

  // Runs start-up; `body` runs where the message loop would, then the app shuts down.
  int runApp(const std::function<void()>& body, const std::string& commandLine = "Tarnwick.exe") {
    makeApp(commandLine);
    loop.duringRun = body;
    return app->run();
  }

  LResult send(std::uint32_t message, WParam wParam = 0, LParam lParam = 0) {
    return loop.send(app->trayWindow(), message, wParam, lParam);
  }

  // One tick of the 2-second timer.
  void poll() {
    clock.advance(POLL_INTERVAL_MS);
    send(msg::TIMER, POLL_TIMER);
  }

  std::string tip() { return tray.current().tip; }
  int icon() { return tray.current().iconResource; }

  sim::VirtualClock clock;
  sim::World world;
  ScriptedLoop loop;
  sim::RecordingTray tray;
  sim::SimDesktop desktop;
  DongleLink link;
  FakeFirmware firmware;
  CountingLauncher launcher;
  FixedPortServer server;
  FakeStartWithWindows startWithWindows;
  std::unique_ptr<TrayApp> app;
};

}  // namespace tw::testing
