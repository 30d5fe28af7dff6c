#include "host_app/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sstream>

#include "app/tray_ids.h"

namespace tw::host {
namespace {

const char* const kHelp =
    "Commands (the simulated world):\n"
    "  plug [port]        plug the dongle in (another port number gives another device path)\n"
    "  unplug             unplug the dongle\n"
    "  on | off           turn the controller on or off\n"
    "  battery N          controller battery level 0..10\n"
    "  discharging | charging | full   controller power state\n"
    "  signal N           link signal in dBm (0 = no reading)\n"
    "  pad LX LY RX RY L2 R2 B7 B8 B9   the controller's sticks, triggers and button bytes\n"
    "                     (0..255 each, 0x.. for hex; B7 low nibble is the d-pad, 8 = released)\n"
    "  press              triple-click the dongle's button (restarts it into update mode)\n"
    "  fault OP fail|stall|busy [NTH [COUNT]]   the dongle's next OP call (or the NTH) fails;\n"
    "                     OP: open, attributes, caps, get-feature, set-feature, read-input,\n"
    "                     write-output; fault OP off or fault off ends them\n"
    "Commands (boards in update mode and the bench tool):\n"
    "  board ours VERSION a board in update mode with Tarnwick firmware VERSION\n"
    "  board blank        a new board with nothing on it\n"
    "  board foreign [NAME]  a board running another program (no name: one that declares none)\n"
    "  board drive-only   the board's drive without its USB interface\n"
    "  board usb-only     the board's USB interface without its drive\n"
    "  board busy | free  another program holds the board's interface, or lets go\n"
    "  board gone         unplug the board\n"
    "  rig on | off       the bench tool's window \"Tarnwick Pellmark Rig\"\n"
    "  marker SECONDS     the bench tool's hands-off marker, written SECONDS ago (negative: "
    "ahead)\n"
    "  marker off         remove the marker\n"
    "  dualsense          plug in a plain DualSense beside the dongle\n"
    "  last-output        print the last output report the dongle received\n"
    "  config             print the dongle's applied configuration\n"
    "Commands (the tray):\n"
    "  click              left-click the icon (opens the panel)\n"
    "  menu               right-click the icon (prints the menu)\n"
    "  choose ID          pick a menu command (1001..1008)\n"
    "  about              the About box\n"
    "  answer yes|no      the answer to the next question box\n"
    "  quit               quit the app\n"
    "  help               this list\n";

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char digits[4];
  for (std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x ", byte);
    text += digits;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace

bool Console::padCommand(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  words >> command;
  std::uint8_t bytes[9];
  for (std::uint8_t& byte : bytes) {
    std::string word;
    char* end = nullptr;
    long value = words >> word ? std::strtol(word.c_str(), &end, 0) : -1;
    if (end == nullptr || *end != '\0' || value < 0 || value > 255) {
      printLine("pad needs nine numbers 0..255: LX LY RX RY L2 R2 B7 B8 B9");
      return false;
    }
    byte = static_cast<std::uint8_t>(value);
  }
  world_.setController([&bytes](sim::ControllerState& c) {
    std::memcpy(c.sticks, bytes, 4);
    std::memcpy(c.triggers, bytes + 4, 2);
    std::memcpy(c.buttons, bytes + 6, 3);
  });
  return true;
}

void Console::printLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(outMutex_);
  out_ << line << std::endl;
}

void Console::printHelp() {
  std::lock_guard<std::mutex> lock(outMutex_);
  out_ << kHelp << moreHelp_ << std::flush;
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

  if (command == "help") {
    printHelp();
  } else if (command == "plug") {
    world_.plugDongle(hasNumber ? number : 1);
  } else if (command == "unplug") {
    world_.unplugDongle();
  } else if (command == "on" || command == "off") {
    bool on = command == "on";
    world_.setController([on](sim::ControllerState& c) { c.on = on; });
  } else if (command == "battery" && hasNumber && number >= 0 && number <= 15) {
    world_.setController(
        [number](sim::ControllerState& c) { c.batteryLevel = static_cast<std::uint8_t>(number); });
  } else if (command == "discharging" || command == "charging" || command == "full") {
    std::uint8_t state = command == "discharging" ? 0 : command == "charging" ? 1 : 2;
    world_.setController([state](sim::ControllerState& c) { c.powerState = state; });
  } else if (command == "signal" && hasNumber && number >= -128 && number <= 127) {
    world_.setController(
        [number](sim::ControllerState& c) { c.signalDbm = static_cast<std::int8_t>(number); });
  } else if (command == "pad") {
    return padCommand(line);
  } else if (command == "press") {
    return pressCommand();
  } else if (command == "board" || command == "rig" || command == "marker" || command == "fault") {
    std::istringstream arguments(line);
    arguments >> command;
    if (command == "board") return boardCommand(arguments);
    if (command == "rig") return rigCommand(arguments);
    if (command == "fault") return faultCommand(arguments);
    return markerCommand(arguments);
  } else if (command == "dualsense") {
    world_.plugDualSense();
  } else if (command == "last-output") {
    auto outputs = world_.dongle().outputReports();
    printLine("[output] " + (outputs.empty() ? std::string("none") : hex(outputs.back())));
  } else if (command == "config") {
    auto config = world_.dongle().appliedConfig();
    printLine("[config] " + hex(std::vector<std::uint8_t>(config.begin(), config.end())));
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
