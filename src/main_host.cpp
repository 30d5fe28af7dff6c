// tarnwick (Linux): the application core on the simulated world. Builds the world, the host
// adapters and the system's objects once, wires them together and runs the tray, with a console
// standing in for the notification area.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "app/start_with_windows_setting.h"
#include "app/tray_app_impl.h"
#include "built_in_firmware.h"
#include "dongle/dongle_link.h"
#include "firmware/firmware_cache.h"
#include "firmware/update_host.h"
#include "flash/firmware_subsystem.h"
#include "panel/http_server.h"
#include "panel/panel_launcher.h"
#include "panel_page_asset.h"
#include "host_app/console.h"
#include "host_app/firmware_commands.h"
#include "host_app/update_host_commands.h"
#include "platform/host/embedded_resources.h"
#include "platform/host/openssl_signature.h"
#include "platform/host/posix_sockets.h"
#include "platform/host/queue_message_loop.h"
#include "platform/host/steady_clock.h"
#include "platform/host/system_random.h"
#include "sim/recording_tray.h"
#include "sim/sim_desktop.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/uf2_drive_volume.h"
#include "sim/sim_registry.h"
#include "sim/sim_releases.h"
#include "sim/update_host_sim.h"
#include "sim/world.h"
#include "trusted_release_key.h"

#ifndef TW_VERSION_TEXT
#define TW_VERSION_TEXT "0.0.0"
#endif

namespace {

// Tells the person where the panel is once the server has started.
class AnnouncedServer : public tw::PanelServer {
 public:
  AnnouncedServer(tw::PanelServer& inner, tw::host::Console& console)
      : inner_(inner), console_(console) {}
  bool startServer() override {
    bool started = inner_.startServer();
    std::uint32_t port = inner_.serverPort();
    console_.printLine(port != 0 ? "Panel: http://127.0.0.1:" + std::to_string(port) + "/"
                                 : std::string("Panel: not listening"));
    return started;
  }
  std::uint32_t serverPort() override { return inner_.serverPort(); }

 private:
  tw::PanelServer& inner_;
  tw::host::Console& console_;
};

// The firmware subsystem is told the tray window first; the console needs it too.
class ConsoleAwareFirmware : public tw::FirmwareSubsystem {
 public:
  ConsoleAwareFirmware(tw::FirmwarePorts ports, tw::host::Console& console)
      : FirmwareSubsystem(ports, tw::FirmwareOptions{TW_VERSION_TEXT}), console_(console) {}
  void firmwareStart(tw::WindowId window) override {
    console_.setTrayWindow(window);
    FirmwareSubsystem::firmwareStart(window);
  }
  // The tray asks for its job line on every change; the console also prints each step of the
  // job as the panel would show it.
  bool jobTrayText(std::string& line) override {
    std::string step;
    {
      std::lock_guard<std::mutex> lock(state().lock);
      const tw::FirmwareJob& job = state().job;
      if ((job.active || job.result != tw::JobResult::None) && !job.msg.empty()) {
        step = std::string(tw::phaseWord(job.phase)) + ": " + job.msg +
               (job.detail.empty() ? "" : " (" + job.detail + ")");
      }
    }
    if (!step.empty() && step != lastStep_) {
      lastStep_ = step;
      console_.printLine("[fw] " + step);
    }
    return FirmwareSubsystem::jobTrayText(line);
  }

 private:
  tw::host::Console& console_;
  std::string lastStep_;  // the tray's thread only
};

// Shows what start with Windows does to the simulated desktop's files and registry.
class ConsoleStartWithWindows : public tw::StartWithWindowsListener {
 public:
  explicit ConsoleStartWithWindows(tw::host::Console& console) : console_(console) {}
  void copied(const std::string& from, const std::string& to) override {
    say("copied " + from + " to " + to);
  }
  void deleted(const std::string& path) override { say("deleted " + path); }
  void runValueWritten(const std::string& data) override {
    say(std::string("HKCU\\") + tw::RUN_KEY + " \"" + tw::RUN_VALUE_NAME + "\" = " + data);
  }
  void runValueDeleted() override {
    say(std::string("removed HKCU\\") + tw::RUN_KEY + " \"" + tw::RUN_VALUE_NAME + "\"");
  }

 private:
  void say(const std::string& what) { console_.printLine("[start with Windows] " + what); }
  tw::host::Console& console_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string commandLine;
  for (int i = 0; i < argc; ++i) {
    if (i) commandLine += ' ';
    commandLine += argv[i];
  }

  tw::SteadyClock clock;
  tw::sim::World world(clock);
  world.plugKeyboard();
  tw::QueueMessageLoop loop(clock);
  tw::sim::RecordingTray tray;
  tw::sim::SimDesktop desktop(clock);
  tw::DongleLink dongleLink(world.hid());

  // No browser is registered on the simulated desktop: the panel's address goes to the default
  // handler, which the console shows.
  tw::sim::SimDesktopShell shell;
  tw::sim::SimRegistry registry;
  tw::sim::SimFileSystem files(clock);
  tw::sim::mountBoardDrive(world, files);

  tw::host::Console console(std::cout, world, loop, desktop, shell, files);
  console.attach(tray);

  tw::EmbeddedResources resources;
  resources.add(tw::kResourceBuiltInFirmware, builtInFirmwareImage, builtInFirmwareImageSize);
  // The update host publishes the built-in version to begin with; "publish" adds newer ones.
  tw::sim::SimUpdateHost updateHost(tw::UpdateHost);
  tw::sim::SimReleases releases(updateHost, clock, tw::UpdateHost);
  releases.publish("0.9.3");
  tw::host::UpdateHostCommands hostCommands(
      updateHost, releases, [&console](const std::string& line) { console.printLine(line); });
  console.addCommands(
      [&hostCommands](const std::string& line) { return hostCommands.execute(line); },
      tw::host::UpdateHostCommands::help());
  tw::OpenSslSignatureVerifier signatures;
  ConsoleAwareFirmware firmware(
      tw::FirmwarePorts{resources, loop, clock, world.usb(), dongleLink, files, shell, updateHost,
                        signatures, tw::build::kTrustedReleaseKey},
      console);
  // A release published on the console is looked for at once rather than hours later.
  hostCommands.onPublished([&firmware] { firmware.requestUpdateCheck(); });
  tw::host::FirmwareCommands firmwareCommands(
      firmware, [&console](const std::string& line) { console.printLine(line); });
  console.addCommands(
      [&firmwareCommands](const std::string& line) { return firmwareCommands.execute(line); },
      tw::host::FirmwareCommands::help());

  tw::PosixSockets sockets;
  tw::SystemRandom random;
  tw::PanelHttpServer httpServer(tw::HttpServerPorts{sockets, random, clock}, dongleLink, firmware,
                                 tw::assets::panelPageAsset());
  AnnouncedServer server(httpServer, console);

  shell.setLaunchObserver([&console](const tw::sim::ShellLaunch& launch) {
    console.printLine("[browser] " + launch.file +
                      (launch.parameters.empty() ? "" : " " + launch.parameters));
  });
  tw::ControlPanelLauncher launcher(tw::PanelLauncherPorts{shell, registry, files, desktop}, server,
                                    tw::PanelLauncherConfig{tw::UpdateHost});
  ConsoleStartWithWindows startWithWindowsConsole(console);
  tw::StartWithWindowsSetting startWithWindows(tw::StartWithWindowsPorts{registry, files, desktop},
                                               TW_VERSION_TEXT, &startWithWindowsConsole);

  console.printLine(std::string("Tarnwick Bridge ") + TW_VERSION_TEXT +
                    " on the simulated world: a dongle with its controller on. Type help.");
  std::string cacheFolder;
  console.printLine(
      "Firmware cache (simulated file system): " +
      (tw::firmwareCacheFolder(files, cacheFolder) ? cacheFolder : std::string("none")));
  console.printLine(std::string("Update host: ") + tw::UpdateHost + " (simulated), trusting the " +
                    tw::build::kTrustedReleaseKeyName + " release key");
  // The end of standard input quits the app, as "quit" would.
  std::thread([&console] {
    std::string line;
    while (std::getline(std::cin, line)) console.execute(line);
    console.quitWhenReady();
  }).detach();

  tw::TrayApp app(tw::TrayAppConfig{TW_VERSION_TEXT, commandLine},
                  tw::TrayAppPorts{loop, tray, desktop}, dongleLink,
                  tw::TrayAppServices{server, launcher, firmware, startWithWindows});
  int code = app.run();
  console.printLine("Tarnwick Bridge has quit.");
  // As on Windows, the server's threads end with the process; nothing waits for them.
  std::fflush(stdout);
  std::_Exit(code);
}
