// Console commands for the firmware side, calling what the panel's firmware calls call: print the
// state document, start an action, cancel, check for updates, dismiss a finished job.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "flash/firmware_service.h"

namespace tw::host {

class FirmwareCommands {
 public:
  FirmwareCommands(FirmwareService& firmware, std::function<void(const std::string&)> print)
      : firmware_(firmware), print_(std::move(print)) {}

  // False when the line is none of these commands.
  bool execute(const std::string& line);
  static const char* help();

 private:
  FirmwareService& firmware_;
  std::function<void(const std::string&)> print_;
};

// A JSON text laid out for reading: one member per line, two spaces per level. Strings are kept
// as they are.
std::string prettyJson(std::string_view json);

}  // namespace tw::host
