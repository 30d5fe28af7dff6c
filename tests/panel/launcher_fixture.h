// The panel launcher on the simulated desktop, registry and drives, with a server whose port the
// test chooses and a desktop that records message boxes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel/panel_launcher.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/sim_registry.h"
#include "sim/virtual_clock.h"

namespace tw::test {

struct RecordedBox {
  std::string text;
  std::string caption;
  MessageBoxIcon icon;
  MessageBoxButtons buttons;
};

class BoxRecordingDesktop : public Desktop {
 public:
  std::vector<RecordedBox> boxes;

  MessageBoxAnswer messageBox(const std::string& text, const std::string& caption,
                              MessageBoxIcon icon, MessageBoxButtons buttons) override {
    boxes.push_back({text, caption, icon, buttons});
    return MessageBoxAnswer::Ok;
  }
  std::unique_ptr<NamedMutex> createOwnedMutex(const std::string&, bool& alreadyExisted) override {
    alreadyExisted = false;
    return nullptr;
  }
  WindowId findWindowByClass(const std::string&) override { return 0; }
  WindowId findMessageOnlyWindowByClass(const std::string&) override { return 0; }
  bool sendMessageWithTimeout(WindowId, std::uint32_t, WParam, LParam, std::uint32_t,
                              std::uintptr_t&) override {
    return false;
  }
  bool postMessageTo(WindowId, std::uint32_t, WParam, LParam) override { return false; }
  std::uint32_t windowProcessId(WindowId) override { return 0; }
  std::unique_ptr<ProcessHandle> openProcessForWaiting(std::uint32_t) override { return nullptr; }
  void allowSetForegroundWindow(std::uint32_t) override {}
};

class FixedPortServer : public PanelServer {
 public:
  std::uint32_t port = 17832;
  bool startServer() override { return port != 0; }
  std::uint32_t serverPort() override { return port; }
};

inline constexpr const char* kChromePath =
    "C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe";
inline constexpr const char* kEdgePath =
    "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";
inline constexpr const char* kFirefoxPath = "C:\\Program Files\\Mozilla Firefox\\firefox.exe";
inline constexpr const char* kAppPathsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() {
    files.setEnvironment("ProgramFiles", "C:\\Program Files");
    files.setEnvironment("ProgramFiles(x86)", "C:\\Program Files (x86)");
  }

  // Chrome installed and registered in App Paths (machine-wide), not the default browser.
  void installChrome() {
    files.addFile(kChromePath);
    registry.setDefaultValue(RegistryHive::LocalMachine, std::string(kAppPathsKey) + "chrome.exe",
                             kChromePath);
  }
  void installEdgeFileOnly() { files.addFile(kEdgePath); }
  void setDefaultBrowser(const std::string& path) { registry.setAssociation("http", "open", path); }

  std::vector<sim::ShellLaunch> launches() const { return shell.launches(); }

  sim::SimDesktopShell shell;
  sim::VirtualClock clock;
  sim::SimRegistry registry;
  sim::SimFileSystem files{clock};
  BoxRecordingDesktop desktop;
  FixedPortServer server;
  ControlPanelLauncher launcher{PanelLauncherPorts{shell, registry, files, desktop}, server,
                                PanelLauncherConfig{"updates.tarnwick.example"}};
};

}  // namespace tw::test
