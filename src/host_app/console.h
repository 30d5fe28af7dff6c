// The Linux app's console: prints what the tray would show and turns typed commands into changes
// of the simulated world or clicks on the tray.
#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>

#include "app/tray_app_impl.h"
#include "platform/host/queue_message_loop.h"
#include "sim/recording_tray.h"
#include "sim/sim_desktop.h"
#include "sim/world.h"

namespace tw::host {

class Console {
 public:
  Console(std::ostream& out, sim::World& world, QueueMessageLoop& loop, sim::SimDesktop& desktop)
      : out_(out), world_(world), loop_(loop), desktop_(desktop) {}

  // Prints tray changes, balloons, menus and message boxes as they happen.
  void attach(sim::RecordingTray& tray);
  // The tray window to send clicks and commands to; known once the app has made it.
  void setTrayWindow(WindowId window) { trayWindow_ = window; }
  void printHelp();
  void printLine(const std::string& line);
  // Carries out one typed command; false when the command is unknown.
  bool execute(const std::string& line);
  // More commands from elsewhere: `run` is asked for every line that no command here knows and
  // returns whether it knew it; `help` is added to the list of commands.
  void addCommands(std::function<bool(const std::string& line)> run, std::string help);

 private:
  void printTrayEvent(const sim::TrayEvent& event);
  void post(std::uint32_t message, WParam wParam, LParam lParam);

  std::ostream& out_;
  std::mutex outMutex_;
  sim::World& world_;
  QueueMessageLoop& loop_;
  sim::SimDesktop& desktop_;
  std::atomic<WindowId> trayWindow_{0};
  std::string lastShown_;
  std::function<bool(const std::string&)> moreCommands_;
  std::string moreHelp_;
};

}  // namespace tw::host
