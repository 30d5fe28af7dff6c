// What is known of the board that sits in its boot ROM's update mode (one at a time).
#pragma once

#include <cstdint>
#include <string>

namespace tw {

// Outcomes of reading a board over PICOBOOT.
enum : std::int32_t {
  BOARD_NOT_READ = 0,
  BOARD_READ = 1,
  BOARD_READ_FAILED = -1,
  BOARD_BUSY = -2,  // another program holds it: read again later
};

struct BootBoard {
  bool present = false;
  bool usb = false;    // its PICOBOOT interface is known
  std::string path;    // that interface's device path (UTF-8)
  std::string serial;  // ASCII, at most 39 characters
  std::string drive;   // its UF2 drive as letter and colon ("E:"), or empty
  std::int32_t read = BOARD_NOT_READ;
  bool blank = false;   // read: no program information and the first 4096 bytes all 0xFF
  bool ours = false;    // read: the firmware declares "korrinlink"
  std::string program;  // declared program name, at most 63 bytes
  std::string version;  // declared version, at most 63 bytes
  std::string why;      // why reading failed, at most 199 bytes
  std::uint64_t seenAt = 0;
  std::uint64_t retryAt = 0;  // busy: no new read before this tick
  bool advised = false;       // its notification was shown, or is not to be shown
};

}  // namespace tw
