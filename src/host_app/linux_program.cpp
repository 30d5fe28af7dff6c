#include "host_app/linux_program.h"

#include <string>
#include <utility>

#include "app/start_with_windows_setting.h"
#include "built_in_firmware.h"
#include "firmware/firmware_cache.h"
#include "firmware/update_host.h"
#include "host_app/announced_server.h"
#include "host_app/console_firmware.h"
#include "host_app/console_start_with_windows.h"
#include "host_app/firmware_commands.h"
#include "host_app/update_host_commands.h"
#include "panel/panel_launcher.h"
#include "panel_page_asset.h"
#include "platform/host/embedded_resources.h"
#include "platform/host/openssl_signature.h"
#include "platform/host/posix_sockets.h"
#include "platform/host/steady_clock.h"
#include "platform/host/system_random.h"
#include "sim/uf2_drive_volume.h"
#include "trusted_release_key.h"

#ifndef TW_VERSION_TEXT
#define TW_VERSION_TEXT "0.0.0"
#endif

namespace tw::host {

const char* programVersionText() {
  return TW_VERSION_TEXT;
}

namespace {

std::unique_ptr<SteadyClock> ownClockUnless(Clock* given) {
  return given ? nullptr : std::make_unique<SteadyClock>();
}

std::unique_ptr<sim::World> makeWorld(Clock& clock, const LinuxProgramOptions& options) {
  auto world = std::make_unique<sim::World>(clock, options.worldOptions);
  if (options.keyboard) world->plugKeyboard();
  if (options.prepareWorld) options.prepareWorld(*world);
  return world;
}

std::unique_ptr<QueueMessageLoop> makeLoop(Clock& clock, bool stepped) {
  if (stepped) return std::make_unique<SteppedLoop>(clock);
  return std::make_unique<QueueMessageLoop>(clock);
}

}  // namespace

// Everything the program is made of, in the order it is built; it is torn down the other way
// round, so each part outlives those that use it.
struct LinuxProgram::Parts {
  explicit Parts(LinuxProgramOptions given)
      : options(std::move(given)),
        ownClock(ownClockUnless(options.clock)),
        clock(options.clock ? *options.clock : *ownClock),
        world(makeWorld(clock, options)),
        loop(makeLoop(clock, options.steppedLoop)),
        desktop(clock),
        dongleLink(world->hid()),
        files(clock),
        console(*options.out, *world, *loop, desktop, shell, files),
        updateHost(UpdateHost),
        releases(updateHost, clock, UpdateHost),
        hostCommands(updateHost, releases, [this](const std::string& line) { say(line); }),
        firmware(FirmwarePorts{resources, *loop, clock, world->usb(), dongleLink, files, shell,
                               updateHost, signatures, build::kTrustedReleaseKey},
                 FirmwareOptions{options.version, options.jobBody}, console),
        firmwareCommands(firmware, [this](const std::string& line) { say(line); }),
        httpServer(HttpServerPorts{sockets, random, clock}, dongleLink, firmware,
                   assets::panelPageAsset(), options.panelSettings),
        server(httpServer, console),
        launcher(PanelLauncherPorts{shell, registry, files, desktop}, server,
                 PanelLauncherConfig{UpdateHost}),
        startWithWindowsConsole(console),
        startWithWindows(StartWithWindowsPorts{registry, files, desktop}, options.version,
                         &startWithWindowsConsole),
        app(TrayAppConfig{options.version, options.commandLine}, TrayAppPorts{*loop, tray, desktop},
            dongleLink,
            TrayAppServices{
                options.server ? *options.server : server,
                options.launcher ? *options.launcher : launcher, firmware,
                options.startWithWindows ? *options.startWithWindows : startWithWindows}) {
    // No browser is registered on the simulated desktop: the panel's address goes to the
    // default handler, which the console shows.
    sim::mountBoardDrive(*world, files);
    console.attach(tray);
    resources.add(kResourceBuiltInFirmware, builtInFirmwareImage, builtInFirmwareImageSize);
    // The update host publishes the built-in version to begin with; "publish" adds newer ones.
    for (const std::string& version : options.published) releases.publish(version);
    console.addCommands([this](const std::string& line) { return hostCommands.execute(line); },
                        UpdateHostCommands::help());
    // A release published on the console is looked for at once rather than hours later.
    hostCommands.onPublished([this] { firmware.requestUpdateCheck(); });
    console.addCommands([this](const std::string& line) { return firmwareCommands.execute(line); },
                        FirmwareCommands::help());
    shell.setLaunchObserver([this](const sim::ShellLaunch& launch) {
      say("[browser] " + launch.file + (launch.parameters.empty() ? "" : " " + launch.parameters));
    });

    say("Tarnwick Bridge " + options.version +
        " on the simulated world: a dongle with its controller on. Type help.");
    std::string cacheFolder;
    say("Firmware cache (simulated file system): " +
        (firmwareCacheFolder(files, cacheFolder) ? cacheFolder : std::string("none")));
    say(std::string("Update host: ") + UpdateHost + " (simulated), trusting the " +
        build::kTrustedReleaseKeyName + " release key");
  }

  void say(const std::string& line) { console.printLine(line); }

  LinuxProgramOptions options;
  std::unique_ptr<SteadyClock> ownClock;
  Clock& clock;
  std::unique_ptr<sim::World> world;
  std::unique_ptr<QueueMessageLoop> loop;
  sim::RecordingTray tray;
  sim::SimDesktop desktop;
  DongleLink dongleLink;
  sim::SimDesktopShell shell;
  sim::SimRegistry registry;
  sim::SimFileSystem files;
  Console console;
  EmbeddedResources resources;
  sim::SimUpdateHost updateHost;
  sim::SimReleases releases;
  UpdateHostCommands hostCommands;
  OpenSslSignatureVerifier signatures;
  ConsoleAwareFirmware firmware;
  FirmwareCommands firmwareCommands;
  PosixSockets sockets;
  SystemRandom random;
  PanelHttpServer httpServer;
  AnnouncedServer server;
  ControlPanelLauncher launcher;
  ConsoleStartWithWindows startWithWindowsConsole;
  StartWithWindowsSetting startWithWindows;
  TrayApp app;
};

LinuxProgram::LinuxProgram(LinuxProgramOptions options)
    : parts_(std::make_unique<Parts>(std::move(options))) {}

LinuxProgram::~LinuxProgram() = default;

Clock& LinuxProgram::clock() {
  return parts_->clock;
}
sim::World& LinuxProgram::world() {
  return *parts_->world;
}
Console& LinuxProgram::console() {
  return parts_->console;
}
FirmwareSubsystem& LinuxProgram::firmware() {
  return parts_->firmware;
}
TrayApp& LinuxProgram::app() {
  return parts_->app;
}
sim::RecordingTray& LinuxProgram::tray() {
  return parts_->tray;
}
QueueMessageLoop& LinuxProgram::loop() {
  return *parts_->loop;
}
PanelHttpServer& LinuxProgram::panelServer() {
  return parts_->httpServer;
}
sim::SimFileSystem& LinuxProgram::files() {
  return parts_->files;
}
EmbeddedResources& LinuxProgram::resources() {
  return parts_->resources;
}
sim::SimRegistry& LinuxProgram::registry() {
  return parts_->registry;
}
sim::SimReleases& LinuxProgram::releases() {
  return parts_->releases;
}
sim::SimUpdateHost& LinuxProgram::updateHost() {
  return parts_->updateHost;
}
DongleLink& LinuxProgram::dongleLink() {
  return parts_->dongleLink;
}
sim::SimDesktop& LinuxProgram::desktop() {
  return parts_->desktop;
}
sim::SimDesktopShell& LinuxProgram::shell() {
  return parts_->shell;
}

void LinuxProgram::duringRun(std::function<void()> body) {
  // Only a stepped loop hands control back; the program's own loop waits for messages.
  auto* stepped = dynamic_cast<SteppedLoop*>(parts_->loop.get());
  if (stepped) stepped->duringRun = std::move(body);
}

int LinuxProgram::run() {
  int code = parts_->app.run();
  parts_->say("Tarnwick Bridge has quit.");
  return code;
}

}  // namespace tw::host
