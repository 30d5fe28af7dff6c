// The commands a person's hands give the simulated world: plugging the dongle in and out, the
// controller, the dongle's button, boards on the desk and faults in the dongle's device calls.
// The Linux app's console and the Windows device stand-ins' control channel take the same words,
// so a script written for one drives the other.
#pragma once

#include <functional>
#include <sstream>
#include <string>

#include "sim/world.h"

namespace tw::sim {

class WorldCommands {
 public:
  using Print = std::function<void(const std::string& line)>;
  enum class Outcome {
    NotMine,  // not a world command (or one whose number is out of range): the caller decides
    Done,
    Refused,  // a world command with wrong arguments; the reason was printed
  };

  WorldCommands(World& world, Print print) : world_(world), print_(std::move(print)) {}

  Outcome execute(const std::string& line);
  // The lines of the console's help that describe these commands.
  static const char* help();

 private:
  bool pad(const std::string& line);
  bool press();
  bool board(std::istringstream& words);
  bool fault(std::istringstream& words);
  bool boardFault(const std::string& operation, const std::string& kindWord,
                  const std::string& nthWord, const std::string& countWord,
                  std::istringstream& words);

  World& world_;
  Print print_;
};

}  // namespace tw::sim
