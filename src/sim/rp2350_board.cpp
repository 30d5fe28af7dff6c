#include "sim/rp2350_board.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tw::sim {
namespace {

constexpr std::uint8_t kRequestGetStatus = 0x00;
constexpr std::uint8_t kRequestClearFeature = 0x01;
constexpr std::uint8_t kTypeEndpointIn = 0x82;   // standard, endpoint, device to host
constexpr std::uint8_t kTypeEndpointOut = 0x02;  // standard, endpoint, host to device
constexpr std::uint8_t kTypeVendorInterfaceOut = 0x41;
constexpr std::uint8_t kTypeVendorInterfaceIn = 0xC1;
constexpr std::uint8_t kInterfaceReset = 0x41;
constexpr std::uint8_t kCommandStatus = 0x42;
// The ROM reboots this long after the last block of a UF2 file has been written.
constexpr std::uint32_t kUf2RebootDelayMs = 500;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

Rp2350Board::Rp2350Board(Clock& clock, std::shared_ptr<NorFlash> flash, Options options)
    : clock_(clock),
      flash_(std::move(flash)),
      options_(std::move(options)),
      meter_(clock),
      rom_(*flash_, options_.timing),
      picoboot_(rom_),
      download_(Uf2Rules::rp2350()) {}

void Rp2350Board::enterUpdateMode(std::uint64_t visibleFromMs, bool picoboot, bool drive) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!picoboot && !drive) picoboot = drive = true;
  updateMode_ = true;
  visibleFromMs_ = visibleFromMs;
  picobootEnabled_ = picoboot;
  driveEnabled_ = drive;
  picobootFromMs_ = 0;
  ++generation_;
  rom_.powerOn();
  picoboot_.powerOn();
  download_.reset();
  rebooted_.reset();
  droppedOff_ = false;
  driveBlock_.reset();
  driveBlockLost_ = false;
}

void Rp2350Board::showPicobootFrom(std::uint64_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  picobootFromMs_ = ms;
}

void Rp2350Board::leaveUpdateMode() {
  std::lock_guard<std::mutex> lock(mutex_);
  updateMode_ = false;
  ++generation_;
  rom_.powerOn();
  picoboot_.powerOn();
  driveBlock_.reset();
}

bool Rp2350Board::inUpdateMode() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t now = clock_.tickMs();
  poll(now);
  return visible(now);
}

std::optional<RebootRequest> Rp2350Board::takeReboot() {
  std::lock_guard<std::mutex> lock(mutex_);
  poll(clock_.tickMs());
  std::optional<RebootRequest> reboot;
  reboot.swap(rebooted_);
  return reboot;
}

bool Rp2350Board::takeDroppedOff() {
  std::lock_guard<std::mutex> lock(mutex_);
  bool dropped = droppedOff_;
  droppedOff_ = false;
  return dropped;
}

void Rp2350Board::setHeldError(std::uint32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  heldError_ = error;
}

void Rp2350Board::failCommand(std::uint8_t commandId, std::uint32_t status, std::uint32_t nth,
                              std::uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  rom_.failCommand(commandId, status, nth, count);
}

std::shared_ptr<Uf2Drive> Rp2350Board::drive() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!drive_) drive_ = std::make_shared<Uf2Drive>(Uf2Drive::rp2350(), weak_from_this());
  return drive_;
}

bool Rp2350Board::driveBlockPending() {
  std::lock_guard<std::mutex> lock(mutex_);
  poll(clock_.tickMs());
  return driveBlock_.has_value();
}

std::uint8_t Rp2350Board::exclusiveAccess() {
  std::lock_guard<std::mutex> lock(mutex_);
  return rom_.exclusive();
}

BoardCounters Rp2350Board::counters() {
  std::lock_guard<std::mutex> lock(mutex_);
  return rom_.counters;
}

void Rp2350Board::resetCounters() {
  std::lock_guard<std::mutex> lock(mutex_);
  rom_.counters = BoardCounters{};
}

std::string Rp2350Board::interfacePath() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!driveEnabled_) {
    // Without the drive the device is not composite: the interface is the device itself.
    return "\\\\?\\usb#vid_2e8a&pid_000f#" + lower(options_.serial) + "#" +
           lower(kPicobootInterfaceClass);
  }
  unsigned hash = 0x1b2c3d4e;
  for (char c : options_.serial) hash = hash * 31 + static_cast<unsigned char>(c);
  char instance[32];
  std::snprintf(instance, sizeof instance, "7&%x&0&0001", hash);
  return std::string("\\\\?\\usb#vid_2e8a&pid_000f&mi_01#") + instance + "#" +
         lower(kPicobootInterfaceClass);
}

std::string Rp2350Board::parentId() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!driveEnabled_) return "USB\\ROOT_HUB30\\4&2A9F1C3B&0&0";
  return "USB\\VID_2E8A&PID_000F\\" + options_.serial;
}

void Rp2350Board::poll(std::uint64_t nowMs) {
  if (driveBlock_ && nowMs >= driveBlock_->doneAtMs) runDriveBlock();
  const auto& pending = rom_.pendingReboot();
  if (!updateMode_ || !pending || nowMs < pending->atMs) return;
  rebooted_ = *pending;
  ++rom_.counters.reboots;
  updateMode_ = false;
  ++generation_;
  rom_.powerOn();
  picoboot_.powerOn();
  driveBlock_.reset();
}

bool Rp2350Board::visible(std::uint64_t nowMs) const {
  return updateMode_ && nowMs >= visibleFromMs_;
}

bool Rp2350Board::present(std::uint64_t nowMs, std::uint64_t& generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  poll(nowMs);
  generation = generation_;
  return visible(nowMs) && picobootEnabled_ && nowMs >= picobootFromMs_;
}

std::uint32_t Rp2350Board::heldError() {
  std::lock_guard<std::mutex> lock(mutex_);
  return heldError_;
}

UsbInterfaceDescriptor Rp2350Board::descriptor() {
  std::lock_guard<std::mutex> lock(mutex_);
  UsbInterfaceDescriptor descriptor;
  descriptor.interfaceNumber = interfaceNumber();
  descriptor.alternateSetting = 0;
  descriptor.numEndpoints = 2;
  descriptor.interfaceClass = 0xFF;
  descriptor.interfaceSubClass = 0;
  descriptor.interfaceProtocol = 0;
  return descriptor;
}

std::vector<UsbPipeInfo> Rp2350Board::pipes() {
  return {UsbPipeInfo{UsbPipeType::Bulk, PicobootDevice::kOutEndpoint, 64, 0},
          UsbPipeInfo{UsbPipeType::Bulk, PicobootDevice::kInEndpoint, 64, 0}};
}

UsbFunctionModel::Handshake Rp2350Board::handshake(PicobootDevice::Handshake h) {
  switch (h) {
    case PicobootDevice::Handshake::Ack:
      return Handshake::Ack;
    case PicobootDevice::Handshake::Nak:
      return Handshake::Nak;
    case PicobootDevice::Handshake::Stall:
      break;
  }
  return Handshake::Stall;
}

UsbFunctionModel::Handshake Rp2350Board::receivePacket(std::uint8_t endpoint,
                                                       const std::uint8_t* data, std::size_t length,
                                                       std::uint64_t nowMs,
                                                       std::uint64_t& extraUs) {
  std::lock_guard<std::mutex> lock(mutex_);
  extraUs = 0;
  poll(nowMs);
  if (endpoint != PicobootDevice::kOutEndpoint) return Handshake::Stall;
  if (picoboot_.awaitingCommand() && length == 32 && picoboot_.busyUs() == 0) {
    // Faults at the n-th command, whatever its id: the board leaves the bus before it takes the
    // command ("unplug-at-command"), answers with an error status, or its pipes stall.
    if (faults.next("unplug-at-command") != FaultKind::None) {
      dropOffBusLocked();
      return Handshake::Nak;
    }
    switch (faults.next("command")) {
      case FaultKind::Fail:
        rom_.failCommand(data[8], kPicobootUnknownError, 1, 1);
        break;
      case FaultKind::Stall:
        picoboot_.halt(PicobootDevice::kOutEndpoint);
        picoboot_.halt(PicobootDevice::kInEndpoint);
        return Handshake::Stall;
      case FaultKind::Busy:
      case FaultKind::None:
        break;
    }
  }
  Handshake result = handshake(picoboot_.receive(data, length, nowMs, extraUs));
  // Exclusive access ends the UF2 download that was going on.
  if (rom_.exclusive() != kNotExclusive) download_.reset();
  return result;
}

UsbFunctionModel::Handshake Rp2350Board::sendPacket(std::uint8_t endpoint, std::uint8_t* packet,
                                                    std::size_t& length) {
  std::lock_guard<std::mutex> lock(mutex_);
  length = 0;
  if (endpoint != PicobootDevice::kInEndpoint) return Handshake::Stall;
  return handshake(picoboot_.send(packet, length));
}

std::uint64_t Rp2350Board::busyUs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return picoboot_.busyUs();
}

void Rp2350Board::advance(std::uint64_t us) {
  std::lock_guard<std::mutex> lock(mutex_);
  picoboot_.advance(us);
}

UsbFunctionModel::Handshake Rp2350Board::control(const UsbSetupPacket& setup, std::uint8_t* buffer,
                                                 std::uint32_t& transferred, std::uint64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  poll(nowMs);
  transferred = 0;
  ++rom_.counters.controlRequests;
  auto endpoint = static_cast<std::uint8_t>(setup.index);
  bool picobootEndpoint =
      setup.index == PicobootDevice::kOutEndpoint || setup.index == PicobootDevice::kInEndpoint;
  if (setup.requestType == kTypeEndpointIn && setup.request == kRequestGetStatus &&
      picobootEndpoint && setup.length == 2) {
    buffer[0] = picoboot_.halted(endpoint) ? 1 : 0;
    buffer[1] = 0;
    transferred = 2;
    return Handshake::Ack;
  }
  if (setup.requestType == kTypeEndpointOut && setup.request == kRequestClearFeature &&
      setup.value == 0 && picobootEndpoint) {
    picoboot_.clearHalt(endpoint);
    return Handshake::Ack;
  }
  // The PICOBOOT interface's own requests reach it only when addressed to its number.
  if (setup.index != interfaceNumber()) return Handshake::Stall;
  if (setup.requestType == kTypeVendorInterfaceOut && setup.request == kInterfaceReset) {
    picoboot_.interfaceReset();
    // The ROM's interface reset empties the drive's task queue too: a block still being written
    // is thrown away, and the host's write of it never hears back.
    if (driveBlock_) {
      driveBlock_.reset();
      driveBlockLost_ = true;
      ++rom_.counters.driveBlocksDropped;
    }
    return Handshake::Ack;
  }
  if (setup.requestType == kTypeVendorInterfaceIn && setup.request == kCommandStatus &&
      setup.length == PicobootDevice::kStatusSize) {
    picoboot_.commandStatus(buffer);
    transferred = PicobootDevice::kStatusSize;
    return Handshake::Ack;
  }
  return Handshake::Stall;
}

void Rp2350Board::halt(std::uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  picoboot_.halt(endpoint);
}

void Rp2350Board::clearHalt(std::uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  picoboot_.clearHalt(endpoint);
}

bool Rp2350Board::driveAttached() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t now = clock_.tickMs();
  poll(now);
  return visible(now) && driveEnabled_;
}

std::uint64_t Rp2350Board::driveArrival() {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

bool Rp2350Board::driveMediaPresent() {
  std::lock_guard<std::mutex> lock(mutex_);
  return rom_.exclusive() != kExclusiveAndEject;
}

bool Rp2350Board::writeDriveSector(const std::uint8_t* sector, std::uint64_t nowMs,
                                   std::uint64_t& costUs, std::uint32_t& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  poll(nowMs);
  costUs = 0;
  if (!visible(nowMs) || !driveEnabled_ || rom_.exclusive() == kExclusiveAndEject) {
    error = kDriveErrorNotReady;
    return false;
  }
  if (rom_.exclusive() == kExclusive) {
    error = kDriveErrorWriteProtect;
    return false;
  }
  if (driveBlockLost_) {
    // Windows gave up on the block that never completed, and with it on the file.
    driveBlockLost_ = false;
    error = kDriveErrorTimeout;
    return false;
  }
  // One slot: a new block waits until the chip has finished the one before.
  runDriveBlock();
  const BoardTiming& timing = options_.timing;
  costUs = timing.transferUs(kDriveSectorSize);
  rom_.counters.driveBytesWritten += kDriveSectorSize;
  Uf2Download::Page page;
  Uf2Download::Outcome outcome = download_.accept(sector, page);
  // A page is written by a task of its own; once a reboot is set, tasks no longer run.
  if (outcome == Uf2Download::Outcome::Ignored || rom_.rebooting()) return true;
  rom_.claimMutation(MutationSource::Drive, false);
  DriveBlock block;
  block.address = page.address;
  block.eraseFirst = page.eraseFirst;
  std::copy(page.data, page.data + kFlashPageSize, block.data.begin());
  block.workUs = (page.eraseFirst ? timing.sectorEraseUs : 0) + timing.pageProgramUs;
  costUs += block.workUs;
  if (outcome == Uf2Download::Outcome::WriteLast) {
    std::uint32_t family =
        sector[28] | sector[29] << 8 | sector[30] << 16 | std::uint32_t(sector[31]) << 24;
    block.last = true;
    block.rebootFlags = kRebootTypeFlashUpdate;
    if (family == kFamilyRp2350ArmSecure) block.rebootFlags |= kRebootToArm;
    if (family == kFamilyRp2350RiscV) block.rebootFlags |= kRebootToRiscv;
  }
  block.doneAtMs = nowMs + (costUs + 999) / 1000;
  driveBlock_ = block;
  return true;
}

void Rp2350Board::runDriveBlock() {
  if (!driveBlock_) return;
  DriveBlock block = *driveBlock_;
  driveBlock_.reset();
  if (rom_.rebooting()) return;
  if (block.eraseFirst) rom_.eraseSector(block.address, true);
  rom_.programPage(block.address, block.data.data(), true);
  if (block.last) {
    rom_.requestReboot(block.rebootFlags, kUf2RebootDelayMs, kFlashBase, 0, block.doneAtMs);
  }
}

std::uint64_t Rp2350Board::driveWorkInFlightUs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return driveBlock_ ? driveBlock_->workUs : 0;
}

bool Rp2350Board::finishDriveWrites(std::uint32_t& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (driveBlockLost_) {
    driveBlockLost_ = false;
    error = kDriveErrorTimeout;
    return false;
  }
  runDriveBlock();
  return true;
}

void Rp2350Board::dropOffBus() {
  std::lock_guard<std::mutex> lock(mutex_);
  dropOffBusLocked();
}

void Rp2350Board::dropOffBusLocked() {
  if (!updateMode_) return;
  updateMode_ = false;
  droppedOff_ = true;
  ++generation_;
  rom_.powerOn();
  picoboot_.powerOn();
  driveBlock_.reset();
}

}  // namespace tw::sim
