// A simulated world with an RP2350 board in update mode and nothing else plugged in, for the
// PICOBOOT tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "flash/picoboot.h"
#include "sim/firmware_builder.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw::test {

inline sim::World::Options boardOnly() {
  sim::World::Options options;
  options.donglePlugged = false;
  return options;
}

// A board that costs no time, so a test can tell exactly which time-out ended a transfer.
inline sim::World::Options timelessBoard() {
  sim::World::Options options = boardOnly();
  options.board.timing = sim::BoardTiming{0, 0, 0, 0, 0, 0, 0};
  return options;
}

struct BoardBench {
  explicit BoardBench(sim::World::Options options = boardOnly(), std::uint64_t startMs = 0x5A17)
      : clock(startMs), world(clock, std::move(options)), ports{world.usb(), clock} {}

  sim::Rp2350Board& board() { return world.board(); }
  sim::FaultPlan& faults() { return world.board().faults; }
  int openHandles() { return world.usb().openHandles(world.board().shared_from_this()); }

  // Plugs the board in update mode and opens it through the transport.
  void open(PicobootDevice& device, const sim::World::BoardSetup& setup = {}) {
    world.plugBoard(setup);
    ASSERT_TRUE(openPicoboot(ports, device, world.boardPath())) << device.failedStep;
  }

  // The board's flash at an XIP address, bypassing USB.
  std::vector<std::uint8_t> flash(std::uint32_t address, std::size_t length) {
    return world.flash().read(address - sim::kFlashBase, length);
  }

  sim::VirtualClock clock;
  sim::World world;
  PicobootPorts ports;
};

// Bytes that differ from page to page and from the erased state.
inline std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = std::uint8_t(i * 7 + (i >> 8) + seed);
  return bytes;
}

}  // namespace tw::test
