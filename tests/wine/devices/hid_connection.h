// What stands behind one open of a device interface's pipe.
#pragma once

#include <string>

namespace tw::devices {

// HID: each open is a handle of the world's HID port with its own input buffer. Input reports
// go down the pipe as the program reads them; what the program writes is an output report.
void serveHidInterface(const std::string& worldPath);
// USB: the pipe only holds the handle open (WinUSB's transfers go through the stand-in's
// functions); it breaks when the board leaves the bus.
void serveUsbInterface(const std::string& worldPath);

}  // namespace tw::devices
