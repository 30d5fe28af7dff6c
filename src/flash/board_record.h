// How one watcher pass's sighting changes the record of the board in update mode, and how a
// board read is applied. FirmwareStore applies both under the firmware lock; what they are fed is
// gathered without it (window search, marker file, USB and drive enumeration, the PICOBOOT read).
#pragma once

#include <cstdint>
#include <string>

#include "flash/firmware_state.h"

namespace tw {

// What a pass found.
struct BoardSighting {
  bool station = false;  // another flashing tool is at work
  bool usbFound = false;
  std::string path;    // the first PICOBOOT interface, when found
  std::string serial;  //
  std::string drive;   // its UF2 drive ("E:"), or empty
};

// What reading a board gave.
struct BoardProbe {
  BoardRead result = BoardRead::Failed;  // Read, Failed or Busy
  std::string program;
  std::string version;
  bool blank = false;
  std::string why;
};

inline constexpr std::uint64_t kReadAfterMs = 600;         // let the board settle first
inline constexpr std::uint64_t kDriveOnlyGiveUpMs = 6000;  // no interface by then: say why
inline constexpr std::uint64_t kInterfaceJoinsMs =
    7999;  // an interface this soon is the same board
inline constexpr std::uint64_t kBusyRetryMs = 3000;

// Applies a sighting. True when the board should be read now; `pathToRead` then names
// its interface.
bool recordSighting(FirmwareState& state, const BoardSighting& seen, std::uint64_t nowMs,
                    std::string& pathToRead);

// Applies a read of the board at `path`, unless the board has changed meanwhile.
void recordProbe(FirmwareState& state, const std::string& path, const BoardProbe& probe,
                 std::uint64_t nowMs);

}  // namespace tw
