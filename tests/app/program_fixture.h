// The whole Linux program on virtual time, for tests that drive it through its tray.
#pragma once

#include <ostream>

#include "host_app/linux_program.h"
#include "sim/virtual_clock.h"

namespace tw::testing {

// The program on `clock`, its loop stepped by the test and its console printing into `out`; the
// world holds the dongle alone and the update host publishes nothing until the test does.
inline host::LinuxProgramOptions steppedProgram(sim::VirtualClock& clock, std::ostream& out) {
  host::LinuxProgramOptions options;
  options.clock = &clock;
  options.out = &out;
  options.version = "1.2.0";
  options.commandLine = "Tarnwick.exe";
  options.keyboard = false;
  options.published.clear();
  options.steppedLoop = true;
  return options;
}

}  // namespace tw::testing
