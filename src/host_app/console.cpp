#include "host_app/console.h"

#include <cstdio>
#include <ostream>
#include <sstream>

#include "app/tray_ids.h"

namespace tw::host {
namespace {

// The world's own commands come first (sim/world_commands.cpp); these are the desk's and the
// tray's.
const char* const kHelp =
    "Commands (the bench tool):\n"
    "  rig on | off       the bench tool's window \"Tarnwick Pellmark Rig\"\n"
    "  marker SECONDS     the bench tool's hands-off marker, written SECONDS ago (negative: "
    "ahead)\n"
    "  marker off         remove the marker\n"
    "Commands (the tray):\n"
    "  click              left-click the icon (opens the panel)\n"
    "  menu               right-click the icon (prints the menu)\n"
    "  choose ID          pick a menu command (1001..1008)\n"
    "  about              the About box\n"
    "  answer yes|no      the answer to the next question box\n"
    "  quit               quit the app\n"
    "  help               this list\n";

}  // namespace

void Console::printLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(outMutex_);
  out_ << line << std::endl;
}

void Console::printHelp() {
  std::lock_guard<std::mutex> lock(outMutex_);
  out_ << sim::WorldCommands::help() << kHelp << moreHelp_ << std::flush;
}

bool Console::runMoreCommands(const std::string& line) {
  for (const auto& run : moreCommands_) {
    if (run(line)) return true;
  }
  return false;
}

void Console::addCommands(std::function<bool(const std::string& line)> run, std::string help) {
  moreCommands_.push_back(std::move(run));
  moreHelp_ += help;
}

void Console::attach(sim::RecordingTray& tray) {
  tray.listener = [this](const sim::TrayEvent& event) { printTrayEvent(event); };
  desktop_.onMessageBox = [this](const sim::ShownMessageBox& box) {
    printLine("[message box] " + box.caption + "\n" + box.text + "\n[end of message box]");
  };
}

void Console::printTrayEvent(const sim::TrayEvent& event) {
  using Kind = sim::TrayEvent::Kind;
  std::string shown =
      "icon " + std::to_string(event.record.iconResource) + " | " + event.record.tip;
  switch (event.kind) {
    case Kind::Add:
      lastShown_ = shown;
      printLine("[tray] shown: " + shown);
      break;
    case Kind::Modify:
      if (shown == lastShown_) return;  // refreshes that change nothing stay quiet
      lastShown_ = shown;
      printLine("[tray] " + shown);
      break;
    case Kind::Remove:
      lastShown_.clear();
      printLine("[tray] hidden");
      break;
    case Kind::Balloon:
      printLine("[balloon] " + event.title + ": " + event.text);
      break;
    case Kind::Menu: {
      std::string menu = "[menu]";
      for (const MenuItem& item : event.menu) {
        if (item.kind == MenuItem::Kind::Separator) {
          menu += "\n  ----";
          continue;
        }
        menu += "\n  " + std::to_string(item.command) + "  " + (item.checked ? "[x] " : "") +
                item.text + (item.greyed ? "  (greyed)" : "");
      }
      printLine(menu);
      break;
    }
  }
}

void Console::quitWhenReady() {
  // Input may end before the tray has made its window (a script piping a few commands in).
  while (trayWindow_ == 0) world_.clock().sleepMs(50);
  post(msg::COMMAND, ID_QUIT, 0);
}

void Console::post(std::uint32_t message, WParam wParam, LParam lParam) {
  if (trayWindow_ == 0 || !loop_.postMessage(trayWindow_, message, wParam, lParam)) {
    printLine("(the tray is not running)");
  }
}

bool Console::execute(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  if (!(words >> command)) return true;
  int number = 0;
  bool hasNumber = static_cast<bool>(words >> number);

  switch (worldCommands_.execute(line)) {
    case sim::WorldCommands::Outcome::Done:
      return true;
    case sim::WorldCommands::Outcome::Refused:
      return false;
    case sim::WorldCommands::Outcome::NotMine:
      break;
  }
  if (command == "help") {
    printHelp();
  } else if (command == "rig" || command == "marker") {
    std::istringstream arguments(line);
    arguments >> command;
    return command == "rig" ? rigCommand(arguments) : markerCommand(arguments);
  } else if (command == "click") {
    post(WM_APP_TRAY, 0, msg::LBUTTONUP);
  } else if (command == "menu") {
    post(WM_APP_TRAY, 0, msg::RBUTTONUP);
  } else if (command == "choose" && hasNumber) {
    post(msg::COMMAND, static_cast<WParam>(number), 0);
  } else if (command == "about") {
    post(msg::COMMAND, ID_ABOUT, 0);
  } else if (command == "quit") {
    post(msg::COMMAND, ID_QUIT, 0);
  } else if (command == "answer") {
    std::string answer;
    std::istringstream again(line);
    again >> command >> answer;
    desktop_.answerNextMessageBox(answer == "yes" ? MessageBoxAnswer::Yes : MessageBoxAnswer::No);
  } else if (runMoreCommands(line)) {
    return true;
  } else {
    printLine("unknown command: " + line + " (type help)");
    return false;
  }
  return true;
}

}  // namespace tw::host
