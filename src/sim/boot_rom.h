// The RP2350 boot ROM's state that its USB interfaces share while the board sits in update mode:
// the memory map it accepts addresses in, the flash operations it runs (counted), exclusive
// access, which interface last changed flash, and a pending reboot. The PICOBOOT interface and
// the UF2 drive both work through one BootRom, as the ROM's two task queues share one worker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/board_timing.h"
#include "sim/faults.h"
#include "sim/nor_flash.h"

namespace tw::sim {

// PICOBOOT command status codes.
enum PicobootStatus : std::uint32_t {
  kPicobootOk = 0,
  kPicobootUnknownCommand = 1,
  kPicobootInvalidCommandLength = 2,
  kPicobootInvalidTransferLength = 3,
  kPicobootInvalidAddress = 4,
  kPicobootBadAlignment = 5,
  kPicobootInterleavedWrite = 6,
  kPicobootRebooting = 7,
  kPicobootUnknownError = 8,
  kPicobootInvalidState = 9,
  kPicobootNotPermitted = 10,
  kPicobootInvalidArgument = 11,
  kPicobootBufferTooSmall = 12,
  kPicobootPreconditionNotMet = 13,
  kPicobootModifiedData = 14,
  kPicobootInvalidData = 15,
  kPicobootNotFound = 16,
  kPicobootUnsupportedModification = 17,
};

// The boot ROM's reboot flags (the low nibble is the type).
inline constexpr std::uint32_t kRebootTypeNormal = 0x0;
inline constexpr std::uint32_t kRebootTypeBootsel = 0x2;  // p1: kBootsel* flags
inline constexpr std::uint32_t kRebootTypeRamImage = 0x3;
inline constexpr std::uint32_t kRebootTypeFlashUpdate = 0x4;
inline constexpr std::uint32_t kRebootTypePcSp = 0xd;
inline constexpr std::uint32_t kRebootToArm = 0x10;
inline constexpr std::uint32_t kRebootToRiscv = 0x20;
inline constexpr std::uint32_t kRebootNoReturnOnSuccess = 0x100;
inline constexpr std::uint32_t kBootselNoDrive = 0x1;
inline constexpr std::uint32_t kBootselNoPicoboot = 0x2;

// Exclusive access modes.
inline constexpr std::uint8_t kNotExclusive = 0;
inline constexpr std::uint8_t kExclusive = 1;
inline constexpr std::uint8_t kExclusiveAndEject = 2;

enum class MutationSource { None, Picoboot, Drive };

struct RebootRequest {
  std::uint32_t flags = 0;
  std::uint32_t delayMs = 0;
  std::uint32_t p0 = 0;
  std::uint32_t p1 = 0;
  std::uint64_t atMs = 0;  // when the chip resets
};

class BootRom {
 public:
  static constexpr std::uint32_t kFlashWindowEnd = 0x12000000;  // two chip selects of 16 MB
  static constexpr std::uint32_t kChipSelectSize = 0x01000000;
  static constexpr std::uint32_t kSramBase = 0x20000000;
  static constexpr std::uint32_t kSramEnd = 0x20082000;

  BootRom(NorFlash& flash, const BoardTiming& timing) : flash_(flash), timing_(timing) {}

  // The ROM's own range tests: both ends of a range are tested, the flash end inclusively.
  static bool isFlashAddress(std::uint32_t address) {
    return address >= kFlashBase && address <= kFlashWindowEnd;
  }
  static bool isSramAddress(std::uint32_t address) {
    return address >= kSramBase && address < kSramEnd;
  }

  const BoardTiming& timing() const { return timing_; }
  NorFlash& flash() { return flash_; }

  // Flash operations at XIP addresses. The chip sits on the first chip select; the second has
  // nothing on it (reads as erased, writes go nowhere).
  void eraseSector(std::uint32_t address, bool viaDrive);
  void programPage(std::uint32_t address, const std::uint8_t* page, bool viaDrive);
  void readFlash(std::uint32_t address, std::uint8_t* out, std::size_t length);
  void readSram(std::uint32_t address, std::uint8_t* out, std::size_t length);
  void writeSram(std::uint32_t address, const std::uint8_t* data, std::size_t length);

  std::uint8_t exclusive() const { return exclusive_; }
  void setExclusive(std::uint8_t mode) { exclusive_ = mode; }
  // Whether a flash change from `source` may go ahead: one that continues a stream must find no
  // change from another source since the stream's previous one. Records the source when allowed.
  bool claimMutation(MutationSource source, bool continuesStream);

  bool rebooting() const { return reboot_.has_value(); }
  // The ROM's reboot call: 0 when the reboot is set for nowMs + delayMs, else the status a
  // PICOBOOT command reports.
  std::uint32_t requestReboot(std::uint32_t flags, std::uint32_t delayMs, std::uint32_t p0,
                              std::uint32_t p1, std::uint64_t nowMs);
  const std::optional<RebootRequest>& pendingReboot() const { return reboot_; }

  // A command that is to fail with a given status (a fault on demand); 0 when it runs normally.
  std::uint32_t injectedStatus(std::uint8_t commandId);
  void failCommand(std::uint8_t commandId, std::uint32_t status, std::uint32_t nth,
                   std::uint32_t count);

  // Power-on: no exclusive access, no pending reboot, RAM cleared.
  void powerOn();

  BoardCounters counters;
  // "program" for any page, "program@<address in 8 hex digits>" for one (Fail: the page keeps
  // what it held, as a worn page does; the ROM cannot tell).
  FaultPlan flashFaults;

 private:
  static std::string commandFaultName(std::uint8_t commandId);

  NorFlash& flash_;
  const BoardTiming& timing_;
  std::uint8_t exclusive_ = kNotExclusive;
  MutationSource lastMutation_ = MutationSource::None;
  std::optional<RebootRequest> reboot_;
  std::vector<std::uint8_t> sram_;  // allocated on first write
  FaultPlan commandFaults_;
  std::map<std::uint8_t, std::uint32_t> injected_;
};

}  // namespace tw::sim
