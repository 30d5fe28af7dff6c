#include "sim/world_commands.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/dongle_settings.h"

namespace tw::sim {
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
    "  dualsense          plug in a plain DualSense beside the dongle\n"
    "  keyboard           plug in a keyboard beside the dongle\n"
    "  last-output        print the last output report the dongle received\n"
    "  config             print the dongle's applied configuration\n"
    "Commands (boards in update mode):\n"
    "  board ours VERSION a board in update mode with Tarnwick firmware VERSION\n"
    "  board blank        a new board with nothing on it\n"
    "  board foreign [NAME]  a board running another program (no name: one that declares none)\n"
    "  board drive-only   the board's drive without its USB interface\n"
    "  board usb-only     the board's USB interface without its drive\n"
    "  board busy | free  another program holds the board's interface, or lets go\n"
    "  board gone         unplug the board\n"
    "  board counters     what the board's flash and PICOBOOT interface have seen so far\n"
    "  board settings     whether the flash keeps the dongle's saved settings and pairing\n"
    "  fault board OP fail|stall|busy [NTH [COUNT]]   the board's next OP (or the NTH) meets it;\n"
    "                     OP: command (fail: an error status; stall: both pipes stall),\n"
    "                     unplug-at-command, read-pipe, write-pipe, control, open, initialize,\n"
    "                     boot; fault board off ends them\n";

constexpr char kBoardUsage[] =
    "board needs one of: ours VERSION, blank, foreign [NAME], drive-only, usb-only, busy, gone, "
    "counters, settings";
constexpr std::uint32_t kHeldByAnotherProgram = 5;  // what WinUSB answers a second opener
// A person takes a moment to swap one board for another; the watcher should see the gap, as it
// would on a desk, rather than one board turning into another under the same interface.
constexpr std::uint32_t kSwapGapMs = 1500;

constexpr char kFaultUsage[] =
    "fault needs: OPERATION fail|stall|busy [NTH [COUNT]], OPERATION off, or off\n"
    "  OPERATION is one of: open, attributes, caps, get-feature, set-feature, read-input, "
    "write-output";

constexpr std::array<const char*, 7> kDongleOperations = {
    "open", "attributes", "caps", "get-feature", "set-feature", "read-input", "write-output"};
constexpr std::array<const char*, 8> kBoardOperations = {
    "command", "unplug-at-command", "read-pipe", "write-pipe", "control",
    "open",    "initialize",        "boot"};
constexpr char kBoardFaultUsage[] =
    "fault board needs: OPERATION fail|stall|busy [NTH [COUNT]], OPERATION off, or off\n"
    "  OPERATION is one of: command, unplug-at-command, read-pipe, write-pipe, control, open, "
    "initialize, boot";

template <std::size_t N>
bool knownOperation(const std::array<const char*, N>& known, const std::string& operation) {
  for (const char* name : known) {
    if (operation == name) return true;
  }
  return false;
}

bool parseKind(const std::string& word, FaultKind& kind) {
  if (word == "fail")
    kind = FaultKind::Fail;
  else if (word == "stall")
    kind = FaultKind::Stall;
  else if (word == "busy")
    kind = FaultKind::Busy;
  else
    return false;
  return true;
}

// A whole positive number with nothing after it; stream extraction alone would take "2x" as 2.
bool parseCount(const std::string& word, std::uint32_t& value) {
  if (word.empty() || word.size() > 9) return false;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
  }
  value = static_cast<std::uint32_t>(std::stoul(word));
  return value > 0;
}

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

const char* WorldCommands::help() {
  return kHelp;
}

WorldCommands::Outcome WorldCommands::execute(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  if (!(words >> command)) return Outcome::NotMine;
  int number = 0;
  const bool hasNumber = static_cast<bool>(words >> number);
  auto done = [](bool ok) { return ok ? Outcome::Done : Outcome::Refused; };

  if (command == "plug") {
    world_.plugDongle(hasNumber ? number : 1);
  } else if (command == "unplug") {
    world_.unplugDongle();
  } else if (command == "on" || command == "off") {
    const bool on = command == "on";
    world_.setController([on](ControllerState& c) { c.on = on; });
  } else if (command == "battery" && hasNumber && number >= 0 && number <= 15) {
    world_.setController(
        [number](ControllerState& c) { c.batteryLevel = static_cast<std::uint8_t>(number); });
  } else if (command == "discharging" || command == "charging" || command == "full") {
    const std::uint8_t state = command == "discharging" ? 0 : command == "charging" ? 1 : 2;
    world_.setController([state](ControllerState& c) { c.powerState = state; });
  } else if (command == "signal" && hasNumber && number >= -128 && number <= 127) {
    world_.setController(
        [number](ControllerState& c) { c.signalDbm = static_cast<std::int8_t>(number); });
  } else if (command == "pad") {
    return done(pad(line));
  } else if (command == "press") {
    return done(press());
  } else if (command == "board" || command == "fault") {
    std::istringstream arguments(line);
    arguments >> command;
    return done(command == "board" ? board(arguments) : fault(arguments));
  } else if (command == "dualsense") {
    world_.plugDualSense();
  } else if (command == "keyboard") {
    world_.plugKeyboard();
  } else if (command == "last-output") {
    auto outputs = world_.dongle().outputReports();
    print_("[output] " + (outputs.empty() ? std::string("none") : hex(outputs.back())));
  } else if (command == "config") {
    auto config = world_.dongle().appliedConfig();
    print_("[config] " + hex(std::vector<std::uint8_t>(config.begin(), config.end())));
  } else {
    return Outcome::NotMine;
  }
  return Outcome::Done;
}

bool WorldCommands::pad(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  words >> command;
  std::uint8_t bytes[9];
  for (std::uint8_t& byte : bytes) {
    std::string word;
    char* end = nullptr;
    long value = words >> word ? std::strtol(word.c_str(), &end, 0) : -1;
    if (end == nullptr || *end != '\0' || value < 0 || value > 255) {
      print_("pad needs nine numbers 0..255: LX LY RX RY L2 R2 B7 B8 B9");
      return false;
    }
    byte = static_cast<std::uint8_t>(value);
  }
  world_.setController([&bytes](ControllerState& c) {
    std::memcpy(c.sticks, bytes, 4);
    std::memcpy(c.triggers, bytes + 4, 2);
    std::memcpy(c.buttons, bytes + 6, 3);
  });
  return true;
}

bool WorldCommands::press() {
  if (!world_.dongleRunning()) {
    print_("(no running dongle to press: plug it in first, or use board ...)");
    return false;
  }
  world_.pressButton();
  print_("(the dongle restarts into update mode with its firmware)");
  return true;
}

bool WorldCommands::board(std::istringstream& words) {
  using Setup = World::BoardSetup;
  std::string kind, name;
  if (!(words >> kind)) {
    print_(kBoardUsage);
    return false;
  }
  words >> name;
  const bool plugsABoard = kind == "ours" || kind == "blank" || kind == "foreign" ||
                           kind == "drive-only" || kind == "usb-only";
  if (plugsABoard && !(kind == "ours" && name.empty()) &&
      (world_.dongleRunning() || world_.boardInUpdateMode())) {
    world_.unplugBoard();
    world_.clock().sleepMs(kSwapGapMs);
  }
  if (kind == "ours") {
    if (name.empty()) {
      print_("board ours needs the version its firmware declares, for example: board ours 0.9.1");
      return false;
    }
    world_.plugBoard(Setup::ours(name));
    print_("(a board in update mode with Tarnwick firmware " + name + ")");
  } else if (kind == "blank") {
    world_.plugBoard(Setup::blank());
    print_("(a new board in update mode with nothing on it)");
  } else if (kind == "foreign") {
    world_.plugBoard(Setup::foreign(name));
    print_("(a board in update mode running " +
           (name.empty() ? std::string("a program that declares no name") : name) + ")");
  } else if (kind == "drive-only" || kind == "usb-only") {
    const bool usb = kind == "usb-only";
    world_.plugInUpdateMode(usb, !usb);
    print_(usb ? "(a board in update mode without its drive)"
               : "(a board in update mode whose USB interface Windows doesn't offer)");
  } else if (kind == "busy") {
    if (!world_.boardInUpdateMode()) world_.plugInUpdateMode();
    world_.setBoardHeld(kHeldByAnotherProgram);
    print_("(another program holds the board's interface; board free lets go)");
  } else if (kind == "free") {
    world_.setBoardHeld(0);
  } else if (kind == "gone") {
    world_.unplugBoard();
    print_("(the board is unplugged)");
  } else if (kind == "settings") {
    // What the dongle's firmware keeps in the flash's settings area, as it would find it on start.
    const std::vector<std::uint8_t> saved =
        world_.flash().read(kSettingsAreaAddress - kFlashBase, 4);
    const bool hasSaved = saved.size() == 4 && saved[0] == 'T' && saved[1] == 'W' &&
                          saved[2] == 'C' && saved[3] == '1';
    print_(std::string("saved ") + (hasSaved ? "yes" : "no") + " paired " +
           (loadPairing(world_.flash()) ? "yes" : "no"));
  } else if (kind == "counters") {
    const BoardCounters seen = world_.board().counters();
    std::uint32_t commands = 0;
    for (const auto& [id, count] : seen.commands) commands += count;
    print_("commands " + std::to_string(commands) + " erased " +
           std::to_string(seen.sectorsErased) + " programmed " +
           std::to_string(seen.pagesProgrammed) + " read " + std::to_string(seen.pagesRead) +
           " resets " + std::to_string(seen.interfaceResets) + " reboots " +
           std::to_string(seen.reboots) + " failed " + std::to_string(seen.failedCommands) +
           " drive " + std::to_string(seen.driveBytesWritten));
  } else {
    print_("unknown board kind: " + kind + " (" + kBoardUsage + ")");
    return false;
  }
  return true;
}

// Makes the dongle's next device calls fail on demand while it stays plugged in, so a script can
// show a failed call without racing an unplug against the page.
bool WorldCommands::fault(std::istringstream& words) {
  std::string operation, kindWord, nthWord, countWord, extra;
  words >> operation >> kindWord >> nthWord >> countWord >> extra;
  FaultPlan& faults = world_.dongle().faults;
  if (operation == "off" && kindWord.empty()) {
    faults.clearAll();
    print_("(the dongle's calls answer normally again)");
    return true;
  }
  if (operation == "board") return boardFault(kindWord, nthWord, countWord, extra, words);
  if (!knownOperation(kDongleOperations, operation) || !extra.empty()) {
    print_(kFaultUsage);
    return false;
  }
  if (kindWord == "off" && nthWord.empty()) {
    faults.clear(operation);
    print_("(the dongle's " + operation + " calls answer normally again)");
    return true;
  }
  FaultKind kind = FaultKind::None;
  std::uint32_t nth = 1, count = 1;
  if (!parseKind(kindWord, kind) || (!nthWord.empty() && !parseCount(nthWord, nth)) ||
      (!countWord.empty() && !parseCount(countWord, count))) {
    print_(kFaultUsage);
    return false;
  }
  faults.inject(operation, kind, nth, count);
  print_("(the dongle's " + operation + " call number " + std::to_string(nth) + " from now will " +
         kindWord + (count > 1 ? ", and the " + std::to_string(count - 1) + " after it" : "") +
         ")");
  return true;
}

// The board's faults, by the names its USB side and boot ROM count them (see UsbFunctionModel).
bool WorldCommands::boardFault(const std::string& operation, const std::string& kindWord,
                               const std::string& nthWord, const std::string& countWord,
                               std::istringstream& words) {
  std::string extra;
  words >> extra;
  FaultPlan& faults = world_.board().faults;
  if (operation == "off" && kindWord.empty()) {
    faults.clearAll();
    print_("(the board's calls answer normally again)");
    return true;
  }
  if (!knownOperation(kBoardOperations, operation) || !extra.empty()) {
    print_(kBoardFaultUsage);
    return false;
  }
  if (kindWord == "off" && nthWord.empty()) {
    faults.clear(operation);
    print_("(the board's " + operation + " calls answer normally again)");
    return true;
  }
  FaultKind kind = FaultKind::None;
  std::uint32_t nth = 1, count = 1;
  if (!parseKind(kindWord, kind) || (!nthWord.empty() && !parseCount(nthWord, nth)) ||
      (!countWord.empty() && !parseCount(countWord, count))) {
    print_(kBoardFaultUsage);
    return false;
  }
  faults.inject(operation, kind, nth, count);
  print_("(the board's " + operation + " number " + std::to_string(nth) + " from now will " +
         kindWord + (count > 1 ? ", and the " + std::to_string(count - 1) + " after it" : "") +
         ")");
  return true;
}

}  // namespace tw::sim
