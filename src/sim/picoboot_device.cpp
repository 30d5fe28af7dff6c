#include "sim/picoboot_device.h"

#include <algorithm>
#include <cstring>

namespace tw::sim {
namespace {

std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

void putLe32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// How the ROM checks a command's transfer length.
enum class DataShape { None, Range, SingleBuffer, Otp };

struct CommandShape {
  std::uint8_t argumentSize;
  DataShape data;
};

// By command id without the direction bit, from 1.
constexpr CommandShape kShapes[] = {
    {1, DataShape::None},           // 0x01 exclusive access
    {12, DataShape::None},          // 0x02 reboot (RP2040 only)
    {8, DataShape::None},           // 0x03 flash erase
    {8, DataShape::Range},          // 0x84 read
    {8, DataShape::Range},          // 0x05 write
    {0, DataShape::None},           // 0x06 exit XIP
    {0, DataShape::None},           // 0x07 enter XIP
    {4, DataShape::None},           // 0x08 exec (RP2040 only)
    {4, DataShape::None},           // 0x09 vectorize flash (RP2040 only)
    {16, DataShape::None},          // 0x0a reboot2
    {16, DataShape::SingleBuffer},  // 0x8b get info
    {5, DataShape::Otp},            // 0x8c OTP read
    {5, DataShape::Otp},            // 0x0d OTP write
};
constexpr std::uint8_t kHighestCommand = sizeof kShapes / sizeof kShapes[0];

constexpr std::size_t kArguments = 16;  // offset of the arguments in the block

}  // namespace

PicobootDevice::Handshake PicobootDevice::receive(const std::uint8_t* data, std::size_t length,
                                                  std::uint64_t nowMs, std::uint64_t& extraUs) {
  extraUs = 0;
  if (haltOut_) return Handshake::Stall;
  if (busyUs() > 0) return Handshake::Nak;
  switch (phase_) {
    case Phase::Idle:
      rom_.counters.bytesFromHost += length;
      extraUs = rom_.timing().commandOverheadUs;
      takeCommand(data, length, nowMs);
      return Handshake::Ack;
    case Phase::DataOut: {
      rom_.counters.bytesFromHost += length;
      std::size_t used = 0;
      while (used < length && remaining_ > 0 && phase_ == Phase::DataOut) {
        std::size_t n =
            std::min<std::size_t>({length - used, remaining_, kFlashPageSize - bufferFill_});
        std::memcpy(buffer_.data() + bufferFill_, data + used, n);
        bufferFill_ += n;
        remaining_ -= static_cast<std::uint32_t>(n);
        used += n;
        if (bufferFill_ == kFlashPageSize || remaining_ == 0) finishDataOutChunk();
      }
      return Handshake::Ack;
    }
    case Phase::AckOut:
      // The host's acknowledgement of a device-to-host command: any one packet will do.
      rom_.counters.bytesFromHost += length;
      phase_ = Phase::Idle;
      return Handshake::Ack;
    case Phase::DataIn:
    case Phase::AckIn:
      break;  // nothing is armed on OUT
  }
  return Handshake::Nak;
}

PicobootDevice::Handshake PicobootDevice::send(std::uint8_t* packet, std::size_t& length) {
  length = 0;
  if (haltIn_) return Handshake::Stall;
  if (busyUs() > 0) return Handshake::Nak;
  if (phase_ == Phase::AckIn) {
    phase_ = Phase::Idle;
    inProgress_ = false;
    return Handshake::Ack;
  }
  if (phase_ != Phase::DataIn || bufferPos_ >= bufferFill_) return Handshake::Nak;
  std::size_t n = std::min(kPacketSize, bufferFill_ - bufferPos_);
  std::memcpy(packet, buffer_.data() + bufferPos_, n);
  length = n;
  bufferPos_ += n;
  remaining_ -= static_cast<std::uint32_t>(n);
  rom_.counters.bytesToHost += n;
  if (remaining_ == 0) {
    phase_ = Phase::AckOut;
    inProgress_ = false;
  } else if (bufferPos_ == bufferFill_) {
    prepareReadChunk();
  }
  return Handshake::Ack;
}

void PicobootDevice::takeCommand(const std::uint8_t* block, std::size_t length,
                                 std::uint64_t nowMs) {
  // Anything but a whole block with the magic stalls both endpoints and leaves the status of the
  // previous command where it was.
  if (length != 32 || le32(block) != kPicobootMagic) {
    haltIn_ = haltOut_ = true;
    return;
  }
  token_ = le32(block + 4);
  commandId_ = block[8];
  inProgress_ = false;
  status_ = kPicobootUnknownCommand;
  ++rom_.counters.commands[commandId_];

  std::uint8_t argumentSize = block[9];
  std::uint32_t transferLength = le32(block + 12);
  const std::uint8_t* args = block + kArguments;
  std::uint8_t id = commandId_ & 0x7F;
  bool toHost = (commandId_ & 0x80) != 0;
  if (id == 0 || id > kHighestCommand) return fail(kPicobootUnknownCommand);
  const CommandShape& shape = kShapes[id - 1];
  if (argumentSize != shape.argumentSize) return fail(kPicobootInvalidCommandLength);

  rangeAddress_ = le32(args);
  rangeSize_ = le32(args + 4);
  std::uint32_t expected = 0;
  bool lengthKnown = true;
  switch (shape.data) {
    case DataShape::None:
      break;
    case DataShape::Range:
      expected = rangeSize_;
      break;
    case DataShape::SingleBuffer:
      lengthKnown = transferLength <= kFlashPageSize;
      expected = transferLength;
      break;
    case DataShape::Otp: {
      std::uint32_t rows = std::uint32_t(args[2]) | std::uint32_t(args[3]) << 8;
      expected = rows * (args[4] != 0 ? 2u : 4u);
      break;
    }
  }
  if (!lengthKnown || transferLength != expected) return fail(kPicobootInvalidTransferLength);
  status_ = kPicobootOk;

  if (std::uint32_t injected = rom_.injectedStatus(commandId_)) return fail(injected);

  kind_ = static_cast<Kind>(id - 1);
  if (kind_ == Kind::Reboot2) {
    // Handled at once, not queued: no "rebooting" check, a later reboot replaces an earlier one.
    std::uint32_t result =
        rom_.requestReboot(le32(args), le32(args + 4), le32(args + 8), le32(args + 12), nowMs);
    if (result != kPicobootOk) return fail(result);
    phase_ = toHost ? Phase::AckOut : Phase::AckIn;
    return;
  }
  // The ROM would run a read or write whose direction bit disagrees with the data phase it
  // implies, to no purpose; it is refused here instead.
  if ((kind_ == Kind::Read && !toHost) || (kind_ == Kind::Write && toHost)) {
    return fail(kPicobootUnknownCommand);
  }
  exclusiveMode_ = args[0];
  transferAddress_ = rangeAddress_;
  continuesStream_ = false;
  inProgress_ = true;
  if (transferLength > 0) {
    remaining_ = transferLength;
    bufferFill_ = bufferPos_ = 0;
    if (toHost) {
      phase_ = Phase::DataIn;
      prepareReadChunk();
    } else {
      phase_ = Phase::DataOut;
    }
    return;
  }
  std::uint32_t result = runTask(0);
  if (result != kPicobootOk) return fail(result);
  phase_ = toHost ? Phase::AckOut : Phase::AckIn;
  if (work_.empty()) inProgress_ = false;
}

void PicobootDevice::fail(std::uint32_t status) {
  status_ = status;
  haltIn_ = haltOut_ = true;
  inProgress_ = false;
  phase_ = Phase::Idle;
  work_.clear();
  ++rom_.counters.failedCommands;
}

std::uint32_t PicobootDevice::checkRange(std::uint32_t address, std::uint32_t length,
                                         bool& flash) const {
  flash = false;
  if (BootRom::isSramAddress(address) && BootRom::isSramAddress(address + length - 1)) {
    return kPicobootOk;
  }
  if (BootRom::isFlashAddress(address) && BootRom::isFlashAddress(address + length)) {
    flash = true;
    return (address & (kFlashPageSize - 1)) != 0 ? kPicobootBadAlignment : kPicobootOk;
  }
  return kPicobootInvalidAddress;
}

std::uint32_t PicobootDevice::runTask(std::uint32_t chunkLength) {
  if (rom_.rebooting()) return kPicobootRebooting;
  const BoardTiming& timing = rom_.timing();
  switch (kind_) {
    case Kind::Exclusive:
      rom_.setExclusive(exclusiveMode_);
      return kPicobootOk;
    case Kind::ExitXip:
    case Kind::EnterXip:
      return kPicobootOk;
    case Kind::Erase: {
      rom_.claimMutation(MutationSource::Picoboot, false);
      if ((rangeAddress_ | rangeSize_) & (kFlashSectorSize - 1)) return kPicobootBadAlignment;
      if (!BootRom::isFlashAddress(rangeAddress_) ||
          !BootRom::isFlashAddress(rangeAddress_ + rangeSize_)) {
        return kPicobootInvalidAddress;
      }
      // One single-sector erase after another, never a block erase.
      for (std::uint32_t at = 0; at < rangeSize_; at += kFlashSectorSize) {
        addWork(timing.sectorEraseUs, true, rangeAddress_ + at);
      }
      return kPicobootOk;
    }
    case Kind::Write: {
      if (!rom_.claimMutation(MutationSource::Picoboot, continuesStream_)) {
        return kPicobootInterleavedWrite;
      }
      bool flash = false;
      std::uint32_t result = checkRange(transferAddress_, chunkLength, flash);
      if (result != kPicobootOk || chunkLength == 0) return result;
      if (flash) {
        // A short last page is programmed with zeros after the data.
        std::fill(buffer_.begin() + chunkLength, buffer_.end(), 0);
        rom_.programPage(transferAddress_, buffer_.data(), false);
        addWork(timing.pageProgramUs);
      } else {
        rom_.writeSram(transferAddress_, buffer_.data(), chunkLength);
      }
      return kPicobootOk;
    }
    case Kind::Read: {
      bool flash = false;
      std::uint32_t result = checkRange(transferAddress_, chunkLength, flash);
      if (result != kPicobootOk || chunkLength == 0) return result;
      if (flash) {
        rom_.readFlash(transferAddress_, buffer_.data(), chunkLength);
        addWork(timing.pageReadUs);
      } else {
        rom_.readSram(transferAddress_, buffer_.data(), chunkLength);
      }
      return kPicobootOk;
    }
    case Kind::Reboot:
    case Kind::Exec:
    case Kind::Vectorize:
      return kPicobootUnknownCommand;  // RP2040 commands this ROM no longer runs
    case Kind::GetInfo:
    case Kind::OtpRead:
    case Kind::OtpWrite:
    case Kind::Reboot2:
      break;
  }
  // Device information and OTP are not modelled.
  return kPicobootUnknownCommand;
}

void PicobootDevice::prepareReadChunk() {
  std::uint32_t chunk = std::min<std::uint32_t>(remaining_, kFlashPageSize);
  std::uint32_t result = runTask(chunk);
  if (result != kPicobootOk) return fail(result);
  bufferFill_ = chunk;
  bufferPos_ = 0;
  transferAddress_ += chunk;
  continuesStream_ = true;
}

void PicobootDevice::finishDataOutChunk() {
  std::uint32_t chunk = static_cast<std::uint32_t>(bufferFill_);
  std::uint32_t result = runTask(chunk);
  bufferFill_ = 0;
  if (result != kPicobootOk) return fail(result);
  transferAddress_ += chunk;
  continuesStream_ = true;
  if (remaining_ == 0) phase_ = Phase::AckIn;
}

void PicobootDevice::addWork(std::uint64_t us, bool erase, std::uint32_t address) {
  work_.push_back(Work{us, erase, address});
}

std::uint64_t PicobootDevice::busyUs() const {
  std::uint64_t total = 0;
  for (const Work& work : work_) total += work.us;
  return total;
}

void PicobootDevice::advance(std::uint64_t us) {
  while (!work_.empty()) {
    Work& front = work_.front();
    if (front.us > us) {
      front.us -= us;
      return;
    }
    us -= front.us;
    if (front.erase) rom_.eraseSector(front.address, false);
    work_.pop_front();
  }
  if (phase_ != Phase::DataIn && phase_ != Phase::DataOut) inProgress_ = false;
}

void PicobootDevice::interfaceReset() {
  haltIn_ = haltOut_ = false;
  work_.clear();  // aborts an erase or program in progress
  token_ = 0;
  status_ = 0;
  commandId_ = 0;
  inProgress_ = false;
  phase_ = Phase::Idle;
  bufferFill_ = bufferPos_ = 0;
  remaining_ = 0;
  rom_.setExclusive(kNotExclusive);
  ++rom_.counters.interfaceResets;
}

void PicobootDevice::commandStatus(std::uint8_t* out) const {
  std::memset(out, 0, kStatusSize);
  putLe32(out, token_);
  putLe32(out + 4, status_);
  out[8] = commandId_;
  out[9] = inProgress_ ? 1 : 0;
}

bool PicobootDevice::halted(std::uint8_t endpoint) const {
  return endpoint == kInEndpoint ? haltIn_ : endpoint == kOutEndpoint ? haltOut_ : false;
}

void PicobootDevice::halt(std::uint8_t endpoint) {
  if (endpoint == kInEndpoint) haltIn_ = true;
  if (endpoint == kOutEndpoint) haltOut_ = true;
}

void PicobootDevice::clearHalt(std::uint8_t endpoint) {
  if (endpoint == kInEndpoint) haltIn_ = false;
  if (endpoint == kOutEndpoint) haltOut_ = false;
}

void PicobootDevice::powerOn() {
  phase_ = Phase::Idle;
  haltIn_ = haltOut_ = false;
  token_ = status_ = 0;
  commandId_ = 0;
  inProgress_ = false;
  remaining_ = 0;
  bufferFill_ = bufferPos_ = 0;
  work_.clear();
}

}  // namespace tw::sim
