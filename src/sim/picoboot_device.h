// The device side of the boot ROM's PICOBOOT interface, one USB packet at a time: 32-byte command
// blocks on bulk OUT, their checks and tokens, the data phase streamed through one 256-byte
// buffer (one page program or page read per 256 bytes), the zero-length acknowledgement in the
// opposite direction of the data phase, stalled endpoints and the command status after a
// failure, and the interface's control requests. Work the chip does on its own (erasing,
// programming, reading a page) keeps it busy for a modelled time, during which it NAKs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "sim/boot_rom.h"

namespace tw::sim {

inline constexpr std::uint32_t kPicobootMagic = 0x431fd10b;

class PicobootDevice {
 public:
  enum class Handshake { Ack, Nak, Stall };
  static constexpr std::uint8_t kOutEndpoint = 0x03;
  static constexpr std::uint8_t kInEndpoint = 0x84;
  static constexpr std::size_t kPacketSize = 64;
  static constexpr std::size_t kStatusSize = 16;

  explicit PicobootDevice(BootRom& rom) : rom_(rom) {}

  // One packet the host sent on bulk OUT (0 to 64 bytes). `extraUs` receives time the bus spends
  // beyond the bytes themselves.
  Handshake receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs,
                    std::uint64_t& extraUs);
  // The next packet for bulk IN (at most 64 bytes; 0 is a zero-length packet).
  Handshake send(std::uint8_t* packet, std::size_t& length);

  // INTERFACE_RESET: clears the halts, aborts the command in progress (and any flash work),
  // clears the command status and exclusive access.
  void interfaceReset();
  void commandStatus(std::uint8_t* out) const;

  bool halted(std::uint8_t endpoint) const;
  void halt(std::uint8_t endpoint);
  void clearHalt(std::uint8_t endpoint);

  // Device work still to do before it answers again, and doing some of it.
  std::uint64_t busyUs() const;
  void advance(std::uint64_t us);

  // A chip that has just been reset.
  void powerOn();
  // A command block is what the device takes next on its OUT endpoint.
  bool awaitingCommand() const { return phase_ == Phase::Idle && !haltOut_; }

 private:
  enum class Phase { Idle, DataOut, DataIn, AckIn, AckOut };
  enum class Kind {
    Exclusive,
    Reboot,  // the RP2040 command: not on this chip
    Erase,
    Read,
    Write,
    ExitXip,
    EnterXip,
    Exec,
    Vectorize,
    Reboot2,
    GetInfo,
    OtpRead,
    OtpWrite,
  };
  struct Work {
    std::uint64_t us;
    bool erase;  // erases `address` when done
    std::uint32_t address;
  };

  void takeCommand(const std::uint8_t* block, std::size_t length, std::uint64_t nowMs);
  void fail(std::uint32_t status);
  // A task without data, or one 256-byte chunk of a data phase; returns its status.
  std::uint32_t runTask(std::uint32_t chunkLength);
  std::uint32_t checkRange(std::uint32_t address, std::uint32_t length, bool& flash) const;
  void prepareReadChunk();
  void finishDataOutChunk();
  void addWork(std::uint64_t us, bool erase = false, std::uint32_t address = 0);

  BootRom& rom_;
  Phase phase_ = Phase::Idle;
  bool haltOut_ = false;
  bool haltIn_ = false;

  // The command status block.
  std::uint32_t token_ = 0;
  std::uint32_t status_ = 0;
  std::uint8_t commandId_ = 0;
  bool inProgress_ = false;

  // The command being run.
  Kind kind_ = Kind::ExitXip;
  std::uint8_t exclusiveMode_ = 0;
  std::uint32_t rangeAddress_ = 0;
  std::uint32_t rangeSize_ = 0;
  std::uint32_t transferAddress_ = 0;
  std::uint32_t remaining_ = 0;  // data-phase bytes still to move
  bool continuesStream_ = false;
  std::array<std::uint8_t, kFlashPageSize> buffer_{};
  std::size_t bufferFill_ = 0;  // bytes in the buffer (out) or of the chunk (in)
  std::size_t bufferPos_ = 0;   // bytes of the chunk already sent (in)

  std::deque<Work> work_;
};

}  // namespace tw::sim
