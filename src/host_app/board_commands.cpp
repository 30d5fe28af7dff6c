// The console's commands for boards in update mode and the bench tool: what a person does with a
// dongle's button, a board on the desk, or the maker's flashing rig.
#include <sstream>

#include "host_app/console.h"

namespace tw::host {
namespace {

constexpr char kBoardUsage[] =
    "board needs one of: ours VERSION, blank, foreign [NAME], drive-only, usb-only, busy, gone";
constexpr std::uint32_t kHeldByAnotherProgram = 5;  // what WinUSB answers a second opener
constexpr char kMarkerName[] = "tarnwick-hands-off";
constexpr char kRigTitle[] = "Tarnwick Pellmark Rig";
constexpr std::uint64_t kFileTimePerSecond = 10'000'000;
// A person takes a moment to swap one board for another; the watcher should see the gap, as it
// would on a desk, rather than one board turning into another under the same interface.
constexpr std::uint32_t kSwapGapMs = 1500;

}  // namespace

bool Console::pressCommand() {
  if (!world_.dongleRunning()) {
    printLine("(no running dongle to press: plug it in first, or use board ...)");
    return false;
  }
  world_.pressButton();
  printLine("(the dongle restarts into update mode with its firmware)");
  return true;
}

bool Console::boardCommand(std::istringstream& words) {
  using Setup = sim::World::BoardSetup;
  std::string kind, name;
  if (!(words >> kind)) {
    printLine(kBoardUsage);
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
      printLine(
          "board ours needs the version its firmware declares, for example: board ours 0.9.1");
      return false;
    }
    world_.plugBoard(Setup::ours(name));
    printLine("(a board in update mode with Tarnwick firmware " + name + ")");
  } else if (kind == "blank") {
    world_.plugBoard(Setup::blank());
    printLine("(a new board in update mode with nothing on it)");
  } else if (kind == "foreign") {
    world_.plugBoard(Setup::foreign(name));
    printLine("(a board in update mode running " +
              (name.empty() ? std::string("a program that declares no name") : name) + ")");
  } else if (kind == "drive-only" || kind == "usb-only") {
    const bool usb = kind == "usb-only";
    world_.plugInUpdateMode(usb, !usb);
    printLine(usb ? "(a board in update mode without its drive)"
                  : "(a board in update mode whose USB interface Windows doesn't offer)");
  } else if (kind == "busy") {
    if (!world_.boardInUpdateMode()) world_.plugInUpdateMode();
    world_.setBoardHeld(kHeldByAnotherProgram);
    printLine("(another program holds the board's interface; board free lets go)");
  } else if (kind == "free") {
    world_.setBoardHeld(0);
  } else if (kind == "gone") {
    world_.unplugBoard();
    printLine("(the board is unplugged)");
  } else {
    printLine("unknown board kind: " + kind + " (" + kBoardUsage + ")");
    return false;
  }
  return true;
}

bool Console::rigCommand(std::istringstream& words) {
  std::string state;
  words >> state;
  if (state == "on") {
    if (rigWindow_ == 0) rigWindow_ = shell_.addWindow("PellmarkRigWindow", kRigTitle);
  } else if (state == "off") {
    if (rigWindow_ != 0) shell_.removeWindow(rigWindow_);
    rigWindow_ = 0;
  } else {
    printLine("rig needs on or off");
    return false;
  }
  return true;
}

bool Console::markerCommand(std::istringstream& words) {
  std::string value;
  words >> value;
  const std::string path = std::string(sim::SimFileSystem::kTempFolder) + kMarkerName;
  if (value == "off") {
    files_.removeFile(path);
    return true;
  }
  long long secondsAgo = 0;
  std::istringstream number(value);
  if (value.empty() || !(number >> secondsAgo) || !number.eof()) {
    printLine(
        "marker needs the seconds since the bench tool wrote it (negative: in the future), "
        "or off");
    return false;
  }
  files_.addFile(path);
  const auto offset =
      static_cast<std::int64_t>(secondsAgo) * static_cast<std::int64_t>(kFileTimePerSecond);
  files_.setLastWriteTime(path, files_.systemTimeNow() - static_cast<std::uint64_t>(offset));
  return true;
}

}  // namespace tw::host
