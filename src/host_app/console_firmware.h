// The firmware side as the console sees it: the console learns the tray window when the firmware
// side does, and prints each step of a firmware job as the panel would show it.
#pragma once

#include <string>

#include "flash/firmware_subsystem.h"
#include "host_app/console.h"

namespace tw::host {

class ConsoleAwareFirmware : public FirmwareSubsystem {
 public:
  ConsoleAwareFirmware(FirmwarePorts ports, FirmwareOptions options, Console& console)
      : FirmwareSubsystem(ports, std::move(options)), console_(console) {}
  void firmwareStart(WindowId window) override;
  // The tray asks for its job line on every change; that is when a new step is printed.
  bool jobTrayText(std::string& line) override;

 private:
  Console& console_;
  std::string lastStep_;  // the tray's thread only
};

}  // namespace tw::host
