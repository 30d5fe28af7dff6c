// The Linux program on the simulated world, wired once: the world, the host adapters, the firmware
// side, the panel's server and launcher, the tray and the console. `tarnwick` runs it as it is;
// tests, benchmarks and tools build it with the knobs below and reach its parts through it.
#pragma once

#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/start_with_windows.h"
#include "app/tray_app_impl.h"
#include "dongle/dongle_link.h"
#include "flash/firmware_job_context.h"
#include "flash/firmware_subsystem.h"
#include "host_app/console.h"
#include "host_app/stepped_loop.h"
#include "panel/http_server.h"
#include "panel/panel_service.h"
#include "platform/clock.h"
#include "platform/host/embedded_resources.h"
#include "platform/host/queue_message_loop.h"
#include "sim/recording_tray.h"
#include "sim/sim_desktop.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/sim_registry.h"
#include "sim/sim_releases.h"
#include "sim/update_host_sim.h"
#include "sim/world.h"

namespace tw::host {

// The version this build of the program reports.
const char* programVersionText();

struct LinuxProgramOptions {
  Clock* clock = nullptr;  // null: the program's own steady clock; tests pass a VirtualClock
  std::ostream* out = &std::cout;  // the console's output
  std::string version = programVersionText();
  std::string commandLine;  // as main() would build it from argv
  sim::World::Options worldOptions;
  bool keyboard = true;                           // a keyboard beside the dongle, as on a desk
  std::function<void(sim::World&)> prepareWorld;  // runs once on the new world before anything else
  FirmwareJobBody* jobBody = nullptr;             // tests may replace what a job does
  std::vector<std::string> published{"0.9.3"};    // versions the update host publishes at start
  HttpServerSettings panelSettings;               // the panel server's ports and waits
  bool steppedLoop = false;  // true: the caller dispatches the loop itself (virtual time)
  // The tray's services a test stands in for itself; null: the program's own.
  PanelServer* server = nullptr;
  PanelLauncher* launcher = nullptr;
  StartWithWindows* startWithWindows = nullptr;
};

class LinuxProgram {
 public:
  explicit LinuxProgram(LinuxProgramOptions options = {});
  ~LinuxProgram();
  LinuxProgram(const LinuxProgram&) = delete;
  LinuxProgram& operator=(const LinuxProgram&) = delete;

  Clock& clock();
  sim::World& world();
  Console& console();
  FirmwareSubsystem& firmware();
  TrayApp& app();
  sim::RecordingTray& tray();
  QueueMessageLoop& loop();
  // With `steppedLoop`: what runs where the loop would wait for messages.
  void duringRun(std::function<void()> body);
  PanelHttpServer& panelServer();
  sim::SimFileSystem& files();
  EmbeddedResources& resources();  // with the built-in firmware image
  sim::SimRegistry& registry();
  sim::SimReleases& releases();
  sim::SimUpdateHost& updateHost();
  DongleLink& dongleLink();
  sim::SimDesktop& desktop();
  sim::SimDesktopShell& shell();

  // What main() does after wiring: runs the tray until it quits and says so on the console.
  int run();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace tw::host
