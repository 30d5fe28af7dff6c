#include "host_app/firmware_commands.h"

#include <memory>
#include <sstream>

namespace tw::host {
namespace {

constexpr std::size_t kStateCapacity = 16384;

void newLine(std::string& out, int depth) {
  out += '\n';
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
}

}  // namespace

std::string prettyJson(std::string_view json) {
  std::string out;
  int depth = 0;
  bool inString = false;
  for (std::size_t at = 0; at < json.size(); ++at) {
    const char c = json[at];
    if (inString) {
      out += c;
      if (c == '\\' && at + 1 < json.size()) {
        out += json[++at];
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        out += c;
        break;
      case '{':
      case '[':
        out += c;
        // An empty object or list stays on its line.
        if (at + 1 < json.size() && (json[at + 1] == '}' || json[at + 1] == ']')) {
          out += json[++at];
        } else {
          newLine(out, ++depth);
        }
        break;
      case '}':
      case ']':
        newLine(out, --depth);
        out += c;
        break;
      case ',':
        out += c;
        newLine(out, depth);
        break;
      case ':':
        out += ": ";
        break;
      default:
        out += c;
    }
  }
  return out;
}

const char* FirmwareCommands::help() {
  return "Commands (the firmware side, as the panel calls it):\n"
         "  fw                 print the firmware state document\n"
         "  fw start ACTION [confirm]   start update, install, reinstall, repair or restart\n"
         "  fw cancel | fw check | fw dismiss   cancel the job, check for updates, forget a "
         "finished job\n";
}

bool FirmwareCommands::execute(const std::string& line) {
  std::istringstream words(line);
  std::string command, what, action, confirm;
  words >> command >> what >> action >> confirm;
  if (command != "fw") return false;
  if (what.empty()) {
    std::unique_ptr<char[]> buffer(new char[kStateCapacity]);
    if (!firmware_.writeFirmwareState(buffer.get(), kStateCapacity)) {
      print_("[fw] the state does not fit its buffer");
    } else {
      print_("[fw] " + prettyJson(buffer.get()));
    }
    return true;
  }
  if (what == "start" && !action.empty() && (confirm.empty() || confirm == "confirm")) {
    std::string reason;
    if (firmware_.startFirmwareAction(action, confirm == "confirm", reason)) {
      print_("[fw] " + action + " queued");
    } else {
      print_("[fw] refused: " + reason);
    }
    return true;
  }
  if (what == "cancel") {
    firmware_.cancelFirmwareJob();
  } else if (what == "check") {
    firmware_.requestUpdateCheck();
  } else if (what == "dismiss") {
    firmware_.dismissFirmwareResult();
  } else {
    return false;
  }
  print_("[fw] " + what);
  return true;
}

}  // namespace tw::host
