// The simulated world inside a Windows program run by tools/wine_devices.sh: the same dongle,
// controller and RP2350 board the Linux app runs on, reached through the stand-in device DLLs
// and driven over a control port. Test-only: never linked into a program we ship.
#pragma once

#include <string>

#include "sim/world.h"

namespace tw::devices {

// Whether this process is the one the devices were started for (TW_DEVICES_PORT and
// TW_DEVICES_PROGRAM in its environment). Any other process sees none of our devices.
bool active();
// The process's one world, made on first use: the dongle on 0.9.3 with its controller on.
sim::World& world();
// The stand-in was called in a way Microsoft's documentation forbids: our adapter has a bug.
// Printed on standard error with the word "CONTRACT", which the tests look for.
void complain(const char* function, const std::string& fact);
// Set by the control port's "vanish": the next listing of HID devices still names the dongle,
// which leaves the bus before the program can open it.
void vanishAfterNextListing();
bool takeVanishRequest();
// The program's HID enumerations so far (its status polls, among others): a test waits for the
// next polls by this count instead of by the clock.
void noteHidListing();
// Starts the control port's thread (once).
void startControl();

}  // namespace tw::devices
