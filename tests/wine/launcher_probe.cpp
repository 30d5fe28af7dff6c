// Runs the panel launcher once through the real Win32 adapters, for the Wine tests.
//   launcher_probe.exe <port>      0 stands for a server that could not listen
// Prints every shell launch ("launch: <file> | <parameters>") and the message box text
// ("box: ...") instead of showing it, so that the test needs no one to press OK.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "panel/panel_launcher.h"
#include "platform/win32/win32_desktop.h"
#include "platform/win32/win32_desktop_shell.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_registry.h"

namespace {

class ProbeServer : public tw::PanelServer {
 public:
  explicit ProbeServer(std::uint32_t port) : port_(port) {}
  bool startServer() override { return port_ != 0; }
  std::uint32_t serverPort() override { return port_; }

 private:
  std::uint32_t port_;
};

class PrintingShell : public tw::win32::Win32DesktopShell {
 public:
  bool shellOpen(const std::string& file, const std::string& parameters) override {
    const bool ok = Win32DesktopShell::shellOpen(file, parameters);
    std::printf("launch: %s | %s | %s\n", file.c_str(), parameters.c_str(), ok ? "ok" : "failed");
    std::fflush(stdout);
    return ok;
  }
};

class PrintingDesktop : public tw::win32::Win32Desktop {
 public:
  tw::MessageBoxAnswer messageBox(const std::string& text, const std::string& caption,
                                  tw::MessageBoxIcon, tw::MessageBoxButtons) override {
    std::printf("box: %s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stdout);
    return tw::MessageBoxAnswer::Ok;
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::printf("usage: launcher_probe <port>\n");
    return 2;
  }
  ProbeServer server(static_cast<std::uint32_t>(std::wcstoul(argv[1], nullptr, 10)));
  PrintingShell shell;
  tw::win32::Win32Registry registry;
  tw::win32::Win32FileSystem files;
  PrintingDesktop desktop;
  tw::ControlPanelLauncher launcher(tw::PanelLauncherPorts{shell, registry, files, desktop}, server,
                                    tw::PanelLauncherConfig{"updates.tarnwick.example"});
  tw::PanelGeometry g = launcher.computeGeometry();
  std::printf("geometry: %d,%d %d,%d\n", g.width, g.height, g.x, g.y);
  launcher.openControlPanel();
  std::printf("done\n");
  return 0;
}
