// The Linux app's console: prints what the tray would show and turns typed commands into changes
// of the simulated world or clicks on the tray.
#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "app/tray_app_impl.h"
#include "platform/host/queue_message_loop.h"
#include "sim/recording_tray.h"
#include "sim/sim_desktop.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/world.h"
#include "sim/world_commands.h"

namespace tw::host {

class Console {
 public:
  Console(std::ostream& out, sim::World& world, QueueMessageLoop& loop, sim::SimDesktop& desktop,
          sim::SimDesktopShell& shell, sim::SimFileSystem& files)
      : out_(out),
        world_(world),
        loop_(loop),
        desktop_(desktop),
        shell_(shell),
        files_(files),
        worldCommands_(world, [this](const std::string& line) { printLine(line); }) {}

  // Prints tray changes, balloons, menus and message boxes as they happen.
  void attach(sim::RecordingTray& tray);
  // The tray window to send clicks and commands to; known once the app has made it.
  void setTrayWindow(WindowId window) { trayWindow_ = window; }
  void printHelp();
  void printLine(const std::string& line);
  // Carries out one typed command; false when it is unknown or its arguments are wrong.
  bool execute(const std::string& line);
  // Quits the app as "quit" does, once its tray is running: the end of standard input.
  void quitWhenReady();
  // More commands from elsewhere: `run` is asked for every line that no command here (nor one
  // added before) knows and returns whether it knew it; `help` is added to the list of commands.
  void addCommands(std::function<bool(const std::string& line)> run, std::string help);

 private:
  void printTrayEvent(const sim::TrayEvent& event);
  void post(std::uint32_t message, WParam wParam, LParam lParam);
  // The bench tool (bench_tool_commands.cpp).
  bool rigCommand(std::istringstream& words);
  bool markerCommand(std::istringstream& words);

  std::ostream& out_;
  std::mutex outMutex_;
  sim::World& world_;
  QueueMessageLoop& loop_;
  sim::SimDesktop& desktop_;
  sim::SimDesktopShell& shell_;
  sim::SimFileSystem& files_;
  WindowId rigWindow_ = 0;
  std::atomic<WindowId> trayWindow_{0};
  std::string lastShown_;
  bool runMoreCommands(const std::string& line);
  std::vector<std::function<bool(const std::string&)>> moreCommands_;
  std::string moreHelp_;
  sim::WorldCommands worldCommands_;
};

}  // namespace tw::host
