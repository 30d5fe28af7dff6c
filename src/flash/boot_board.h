// What is known of the board that sits in its boot ROM's update mode (one at a time).
#pragma once

#include <cstdint>
#include <string>

namespace tw {

// Outcomes of reading a board over PICOBOOT. The numbers are what the state document shows.
enum class BoardRead : std::int8_t {
  Busy = -2,  // another program holds it: read again later
  Failed = -1,
  NotRead = 0,
  Read = 1,
};

struct BootBoard {
  bool present = false;
  bool usb = false;    // its PICOBOOT interface is known
  std::string path;    // that interface's device path (UTF-8)
  std::string serial;  // ASCII, at most 39 characters
  std::string drive;   // its UF2 drive as letter and colon ("E:"), or empty
  BoardRead read = BoardRead::NotRead;
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
