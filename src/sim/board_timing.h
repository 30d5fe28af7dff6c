// What the simulated RP2350 board costs in time and what it has seen. The figures follow the
// flash datasheets and full-speed USB measurements gathered for the simulated world, so that
// flashing benchmarks on it mean something; every cost is charged to the world's clock (instant
// on virtual time, real waits in the Linux app).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace tw::sim {

struct BoardTiming {
  // W25Q-class NOR, typical figures of the AC tables (maximum: 400 ms and 3 ms).
  std::uint32_t sectorEraseUs = 45'000;
  std::uint32_t pageProgramUs = 400;
  // One 256-byte page read through the boot ROM's serial read at its slow start-up clock, and
  // the hand-over to the USB side. With the bus figure below a flash read streams at
  // 256 B / 596 us = 430 KB/s, the 428 KB/s measured for a 4 MiB PICOBOOT read on a Pico 2.
  std::uint32_t pageReadUs = 340;
  // Bulk data on a full-speed bus: at most 19 packets of 64 bytes per 1 ms frame (1.216 MB/s)
  // in theory; a device that re-arms one buffer from firmware after every packet gets about
  // 16 of them, 1.0 MB/s.
  std::uint32_t usbBytesPerSecond = 1'000'000;
  // A command block and its acknowledgement: two bulk transfers, each completing in a later
  // frame than the one it was queued in.
  std::uint32_t commandOverheadUs = 1'000;
  // One control request (setup, data, status stages) on the default pipe.
  std::uint32_t controlTransferUs = 500;
  // From a reset until Windows has enumerated the device again and its driver answers.
  std::uint32_t enumerationMs = 1'000;

  std::uint64_t transferUs(std::uint64_t bytes) const {
    return usbBytesPerSecond == 0 ? 0 : bytes * 1'000'000 / usbBytesPerSecond;
  }
};

// Gathers costs in microseconds and charges the clock only whole milliseconds, carrying the
// rest, so that thousands of 0.4 ms page programs add up instead of rounding away.
class CostMeter {
 public:
  explicit CostMeter(Clock& clock) : clock_(clock) {}
  // Must not be called with any lock held that another clock participant may wait for.
  void charge(std::uint64_t us);
  Clock& clock() { return clock_; }

 private:
  Clock& clock_;
  std::mutex mutex_;
  std::uint64_t owedUs_ = 0;
};

struct FlashOperation {
  enum class Kind { Erase, Program };
  Kind kind;
  std::uint32_t address;  // in the XIP window
  bool viaDrive;          // the UF2 drive did it, not PICOBOOT
};

// What a board has seen since it was made or its counters were reset.
struct BoardCounters {
  std::map<std::uint8_t, std::uint32_t> commands;  // PICOBOOT command blocks by command id
  std::uint32_t failedCommands = 0;
  std::uint64_t bytesFromHost = 0;  // bulk OUT bytes on the PICOBOOT interface
  std::uint64_t bytesToHost = 0;    // bulk IN bytes
  std::uint64_t driveBytesWritten = 0;
  std::uint32_t sectorsErased = 0;
  std::uint32_t pagesProgrammed = 0;
  std::uint32_t pagesRead = 0;
  std::uint32_t controlRequests = 0;
  std::uint32_t interfaceResets = 0;
  std::uint32_t driveBlocksDropped = 0;  // drive blocks an interface reset threw away
  std::uint32_t reboots = 0;
  std::vector<FlashOperation> flashLog;  // erases and programs in order (the first 200000)

  static constexpr std::size_t kFlashLogLimit = 200'000;
  void logFlash(FlashOperation operation) {
    if (flashLog.size() < kFlashLogLimit) flashLog.push_back(operation);
  }
};

}  // namespace tw::sim
