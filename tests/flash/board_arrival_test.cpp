// Boards that do not arrive the simple way: the drive first and the PICOBOOT interface seconds
// later, a USB device of another shape under the PICOBOOT class, a device path too long to keep,
// and a probe whose later page read fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "flash/board_bench.h"
#include "flash/board_probe.h"
#include "flash/firmware_fixture.h"

namespace tw {
namespace {

BootBoard boardRecord(test::FirmwareFixture& f) {
  return f.board();
}

struct ArrivalCase {
  const char* name;
  std::uint64_t interfaceAfterMs;  // after the drive was first seen
  bool sameBoard;
  BoardRead readAt6001;  // before the interface comes
};

TEST(BoardArrival, AnInterfaceWithinEightSecondsOfItsDriveContinuesTheSameBoard) {
  const ArrivalCase cases[] = {
      {"3 s later", 3000, true, BoardRead::Read},
      {"just before 8 s", 7999, true, BoardRead::Failed},
      {"at 8 s", 8000, false, BoardRead::Failed},
  };
  for (const ArrivalCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::FirmwareFixture f;
    const std::uint64_t t0 = f.clock.tickMs();
    f.world.plugBoard(sim::World::BoardSetup::ours("0.9.1"));
    f.world.board().showPicobootFrom(t0 + c.interfaceAfterMs);
    // Passes at chosen moments: first sight, the 6 s limit and just past it, the interface.
    auto passAt = [&f, t0](std::uint64_t ms) {
      f.clock.sleepMs(static_cast<std::uint32_t>(t0 + ms - f.clock.tickMs()));
      f.firmware.watchBoards();
      return boardRecord(f);
    };
    BootBoard first = passAt(0);
    ASSERT_TRUE(first.present);
    EXPECT_FALSE(first.usb);
    EXPECT_EQ(first.seenAt, t0);
    if (c.interfaceAfterMs > 6001) {
      EXPECT_EQ(passAt(6000).read, BoardRead::NotRead);
      BootBoard failed = passAt(6001);
      EXPECT_EQ(failed.read, BoardRead::Failed);
      EXPECT_EQ(failed.why, "Windows hasn't given this app the board's USB update interface");
    }
    BootBoard attached = passAt(c.interfaceAfterMs);
    EXPECT_TRUE(attached.usb);
    EXPECT_EQ(attached.path, f.world.boardPath());
    EXPECT_EQ(attached.seenAt, c.sameBoard ? t0 : t0 + c.interfaceAfterMs);
    // The same board is read in the pass that attached its interface (600 ms have long passed);
    // a new one waits its 600 ms.
    EXPECT_EQ(attached.read, c.sameBoard ? BoardRead::Read : BoardRead::NotRead);
    EXPECT_TRUE(attached.why.empty());
    if (!c.sameBoard) {
      EXPECT_EQ(passAt(c.interfaceAfterMs + 601).read, BoardRead::Read);
    }
    EXPECT_EQ(boardRecord(f).version, "0.9.1");
  }
}

// One interface under the PICOBOOT class whose descriptor and pipes the test chooses.
class OddInterface : public sim::UsbFunctionModel {
 public:
  OddInterface(Clock& clock, std::string path, UsbInterfaceDescriptor descriptor,
               std::vector<UsbPipeInfo> pipes)
      : path_(std::move(path)), descriptor_(descriptor), pipes_(std::move(pipes)), meter_(clock) {}
  std::string classGuid() override { return sim::kPicobootInterfaceClass; }
  std::string interfacePath() override { return path_; }
  std::string parentId() override { return "USB\\VID_2E8A&PID_000F\\0DD1"; }
  bool present(std::uint64_t, std::uint64_t& generation) override {
    generation = 1;
    return true;
  }
  std::uint32_t heldError() override { return 0; }
  UsbInterfaceDescriptor descriptor() override { return descriptor_; }
  std::vector<UsbPipeInfo> pipes() override { return pipes_; }
  std::uint32_t maximumTransferSize() override { return 65536; }
  Handshake receivePacket(std::uint8_t, const std::uint8_t*, std::size_t, std::uint64_t,
                          std::uint64_t& extraUs) override {
    extraUs = 0;
    ++packets;
    return Handshake::Stall;
  }
  Handshake sendPacket(std::uint8_t, std::uint8_t*, std::size_t& length) override {
    length = 0;
    ++packets;
    return Handshake::Stall;
  }
  std::uint64_t busyUs() override { return 0; }
  void advance(std::uint64_t) override {}
  Handshake control(const UsbSetupPacket&, std::uint8_t*, std::uint32_t& transferred,
                    std::uint64_t) override {
    transferred = 0;
    ++packets;
    return Handshake::Stall;
  }
  void halt(std::uint8_t) override {}
  void clearHalt(std::uint8_t) override {}
  const sim::BoardTiming& timing() override { return timing_; }
  sim::CostMeter& meter() override { return meter_; }
  int packets = 0;

 private:
  std::string path_;
  UsbInterfaceDescriptor descriptor_;
  std::vector<UsbPipeInfo> pipes_;
  sim::BoardTiming timing_;
  sim::CostMeter meter_;
};

UsbInterfaceDescriptor vendorInterface(std::uint8_t endpoints, std::uint8_t interfaceClass = 0xFF) {
  UsbInterfaceDescriptor descriptor;
  descriptor.numEndpoints = endpoints;
  descriptor.interfaceClass = interfaceClass;
  return descriptor;
}

UsbPipeInfo pipe(UsbPipeType type, std::uint8_t id) {
  return UsbPipeInfo{type, id, 64, 0};
}

struct ShapeCase {
  const char* name;
  UsbInterfaceDescriptor descriptor;
  std::vector<UsbPipeInfo> pipes;
  const char* line;
};

TEST(BoardArrival, AnInterfaceOfAnotherShapeIsNeitherOpenedNorProbed) {
  const UsbPipeInfo bulkOut = pipe(UsbPipeType::Bulk, 0x03);
  const UsbPipeInfo bulkIn = pipe(UsbPipeType::Bulk, 0x84);
  const ShapeCase cases[] = {
      {"three endpoints",
       vendorInterface(3),
       {bulkOut, bulkIn, pipe(UsbPipeType::Interrupt, 0x85)},
       "not picoboot failed (Windows error 50)"},
      {"a class other than vendor",
       vendorInterface(2, 0x08),
       {bulkOut, bulkIn},
       "not picoboot failed (Windows error 50)"},
      {"no bulk IN",
       vendorInterface(2),
       {bulkOut, pipe(UsbPipeType::Interrupt, 0x84)},
       "endpoints failed (Windows error 50)"},
      {"two bulk OUT",
       vendorInterface(2),
       {bulkOut, pipe(UsbPipeType::Bulk, 0x04)},
       "endpoints failed (Windows error 50)"},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::VirtualClock clock{0};
    sim::SimUsbPort usb(clock);
    auto odd = std::make_shared<OddInterface>(clock, "\\\\?\\usb#vid_2e8a&pid_000f#odd#{x}",
                                              c.descriptor, c.pipes);
    usb.plug(odd);
    PicobootPorts ports{usb, clock};

    PicobootDevice device;
    EXPECT_FALSE(openPicoboot(ports, device, odd->interfacePath()));
    EXPECT_EQ(device.usb, nullptr);
    char line[kFailureTextCapacity];
    describeFailure(device, line, sizeof line);
    EXPECT_STREQ(line, c.line);

    std::string program, version, why;
    bool blank = true;
    EXPECT_EQ(probeBoard(ports, odd->interfacePath(), program, version, blank, why),
              BoardRead::Failed);
    EXPECT_EQ(why, c.line);
    EXPECT_FALSE(blank);
    EXPECT_EQ(odd->packets, 0);
    EXPECT_EQ(usb.openHandles(odd), 0);
  }
}

TEST(BoardArrival, APathLongerThanWindowsKeepsIsPassedOver) {
  // 511 UTF-16 units are kept; one more would be cut, and a cut path names another device.
  for (std::size_t length : {511u, 512u}) {
    SCOPED_TRACE(length);
    test::BoardBench bench;
    bench.world.plugBoard({});
    std::string path = "\\\\?\\usb#vid_2e8a&pid_000f#";
    path += std::string(length - path.size(), 'a');
    auto odd = std::make_shared<OddInterface>(bench.clock, path, vendorInterface(2),
                                              std::vector<UsbPipeInfo>{});
    bench.world.usb().plug(odd);

    PicobootInterface found[kPicobootMaxInterfaces];
    int count = findPicobootInterfaces(bench.ports, found, kPicobootMaxInterfaces);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) paths.push_back(found[i].path);
    std::vector<std::string> expected{bench.world.boardPath()};
    if (length == 511) expected.push_back(path);
    std::sort(paths.begin(), paths.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(paths, expected);
  }
}

TEST(BoardArrival, AProbeWhoseLaterPageReadFailsIsAFailedReadNotAnUnnamedProgram) {
  test::BoardBench bench;
  bench.world.plugBoard(sim::World::BoardSetup::ours("0.9.1"));
  // The first page, with the information header, reads; the page with the names does not.
  bench.board().failCommand(kPicobootRead, 4, 2, 100);
  std::string program, version, why;
  bool blank = true;
  EXPECT_EQ(probeBoard(bench.ports, bench.world.boardPath(), program, version, blank, why),
            BoardRead::Failed);
  EXPECT_EQ(why, "read failed: invalid address (Windows error 31)");
  EXPECT_FALSE(blank);
}

}  // namespace
}  // namespace tw
