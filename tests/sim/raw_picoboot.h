// Talks to the simulated board through the raw USB port with hand-built PICOBOOT command blocks,
// so the tests see exactly what the boot ROM answers, byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb.h"
#include "sim/world.h"

namespace tw::sim::testing {

constexpr std::uint8_t kOut = 0x03;
constexpr std::uint8_t kIn = 0x84;

inline void put32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint32_t get32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// A 32-byte command block; `args` are little-endian words from offset 16.
inline std::vector<std::uint8_t> commandBlock(std::uint8_t id, std::uint8_t argumentSize,
                                              std::uint32_t transferLength,
                                              std::vector<std::uint32_t> args = {},
                                              std::uint32_t token = 0x1234,
                                              std::uint32_t magic = 0x431fd10b) {
  std::vector<std::uint8_t> block(32, 0);
  put32(block.data(), magic);
  put32(block.data() + 4, token);
  block[8] = id;
  block[9] = argumentSize;
  put32(block.data() + 12, transferLength);
  for (std::size_t i = 0; i < args.size() && i < 4; ++i) put32(block.data() + 16 + 4 * i, args[i]);
  return block;
}

struct CommandStatus {
  std::uint32_t token = 0;
  std::uint32_t status = 0;
  std::uint8_t commandId = 0;
  std::uint8_t inProgress = 0;
};

class RawPicoboot {
 public:
  explicit RawPicoboot(World& world) : world_(world) {}

  bool open() {
    std::vector<UsbInterfaceEntry> entries;
    if (!world_.usb().listInterfaces(kPicobootInterfaceClass, 4, entries) || entries.empty()) {
      return false;
    }
    UsbOpenStep step;
    device = world_.usb().open(entries[0].path, step, error);
    return device != nullptr;
  }

  bool write(const std::vector<std::uint8_t>& bytes, std::uint32_t waitMs = 5000) {
    std::uint32_t done = 0;
    return device->writePipe(kOut, bytes.data(), static_cast<std::uint32_t>(bytes.size()), done,
                             waitMs, error) &&
           done == bytes.size();
  }

  // Reads up to `size` bytes from bulk IN.
  bool read(std::vector<std::uint8_t>& bytes, std::uint32_t size, std::uint32_t waitMs = 5000) {
    bytes.assign(size, 0);
    std::uint32_t done = 0;
    bool ok = device->readPipe(kIn, bytes.data(), size, done, waitMs, error);
    bytes.resize(done);
    return ok;
  }

  // The acknowledgement of a command without data or with host-to-device data.
  bool ackIn() {
    std::vector<std::uint8_t> bytes;
    return read(bytes, 64) && bytes.empty();
  }
  bool ackOut() { return write({0}); }

  // A whole command that has no data phase.
  bool run(const std::vector<std::uint8_t>& block) { return write(block) && ackIn(); }

  bool readFlash(std::uint32_t address, std::uint32_t size, std::vector<std::uint8_t>& bytes) {
    return write(commandBlock(0x84, 8, size, {address, size})) && read(bytes, size) &&
           bytes.size() == size && ackOut();
  }
  bool writeFlash(std::uint32_t address, const std::vector<std::uint8_t>& data) {
    auto size = static_cast<std::uint32_t>(data.size());
    return write(commandBlock(0x05, 8, size, {address, size})) && write(data) && ackIn();
  }
  bool erase(std::uint32_t address, std::uint32_t size) {
    return run(commandBlock(0x03, 8, 0, {address, size}));
  }

  CommandStatus status() {
    std::uint8_t buffer[16] = {};
    std::uint32_t done = 0;
    CommandStatus out;
    if (!device->controlTransfer(UsbSetupPacket{0xC1, 0x42, 0, 1, 16}, buffer, done, error) ||
        done != 16) {
      ADD_FAILURE() << "GET_CMD_STATUS failed with " << error;
      return out;
    }
    out.token = get32(buffer);
    out.status = get32(buffer + 4);
    out.commandId = buffer[8];
    out.inProgress = buffer[9];
    return out;
  }

  bool deviceHalted(std::uint8_t endpoint) {
    std::uint8_t buffer[2] = {};
    std::uint32_t done = 0;
    bool ok =
        device->controlTransfer(UsbSetupPacket{0x82, 0x00, 0, endpoint, 2}, buffer, done, error);
    EXPECT_TRUE(ok && done == 2);
    return (buffer[0] & 1) != 0;
  }

  // What a careful host does after a failure: clear the halts on both sides, reset the
  // interface.
  bool recover() {
    for (std::uint8_t pipe : {kIn, kOut}) {
      if (!device->abortPipe(pipe, error)) return false;
      if (deviceHalted(pipe) && !device->resetPipe(pipe, error)) return false;
    }
    std::uint32_t done = 0;
    return device->controlTransfer(UsbSetupPacket{0x41, 0x41, 0, 1, 0}, nullptr, done, error);
  }

  World& world_;
  std::unique_ptr<UsbDevice> device;
  std::uint32_t error = 0;
};

}  // namespace tw::sim::testing
