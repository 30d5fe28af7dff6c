// The parts of the PICOBOOT transport that need no board: failure lines, status texts, serials
// and the argument checks made before anything is sent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "flash/picoboot.h"

namespace tw {
namespace {

std::string line(const PicobootDevice& device, std::size_t size = kFailureTextCapacity) {
  char text[kFailureTextCapacity];
  std::memset(text, 'x', sizeof text);
  describeFailure(device, text, size);
  return text;
}

TEST(PicobootFailureLine, NamesTheStepTheStatusAndTheWindowsError) {
  struct Case {
    const char* step;
    std::uint32_t error, status;
    const char* expected;
  } cases[] = {
      {"open", 2, 0, "open failed (Windows error 2)"},
      {"write", 31, 5, "write failed: bad alignment (Windows error 31)"},
      {"not picoboot", 50, 0, "not picoboot failed (Windows error 50)"},
      {"read", 31, 1, "read failed: unknown command (Windows error 31)"},
      {"erase", 121, 17, "erase failed: unsupported modification (Windows error 121)"},
      {"erase", 31, 18, "erase failed: unrecognised status (Windows error 31)"},
      {"read", 31, 42, "read failed: unrecognised status (Windows error 31)"},
      {"reboot", 31, 0xFFFFFFFF, "reboot failed: unrecognised status (Windows error 31)"},
      {"", 1167, 0, "USB step failed (Windows error 1167)"},
      {"", 31, 8, "USB step failed: unknown error (Windows error 31)"},
      {"reset", 4294967295u, 0, "reset failed (Windows error 4294967295)"},
  };
  for (const Case& c : cases) {
    PicobootDevice device;
    device.failedStep = c.step;
    device.windowsError = c.error;
    device.status = c.status;
    EXPECT_EQ(line(device), c.expected) << c.step << " " << c.status;
  }
}

TEST(PicobootFailureLine, EveryStatusHasItsText) {
  const char* texts[] = {"ok",
                         "unknown command",
                         "invalid command length",
                         "invalid transfer length",
                         "invalid address",
                         "bad alignment",
                         "interleaved write",
                         "rebooting",
                         "unknown error",
                         "invalid state",
                         "not permitted",
                         "invalid argument",
                         "buffer too small",
                         "precondition not met",
                         "modified data",
                         "invalid data",
                         "not found",
                         "unsupported modification"};
  for (std::uint32_t code = 0; code < 18; ++code) {
    EXPECT_STREQ(picobootStatusText(code), texts[code]) << code;
  }
  EXPECT_STREQ(picobootStatusText(18), "unrecognised status");
}

TEST(PicobootFailureLine, IsCutToTheBufferAndAlwaysTerminated) {
  PicobootDevice device;
  device.failedStep = "write";
  device.windowsError = 31;
  device.status = 5;
  EXPECT_EQ(line(device, 13), "write failed");
  EXPECT_EQ(line(device, 1), "");
  char untouched[4] = "abc";
  describeFailure(device, untouched, 0);
  EXPECT_STREQ(untouched, "abc");
}

TEST(PicobootSerial, KeepsTheInstancePartOfARaspberryPiParent) {
  struct Case {
    const char* parentId;
    const char* serial;
  } cases[] = {
      {"USB\\VID_2E8A&PID_000F\\E0C9125B0D9B", "E0C9125B0D9B"},
      {"USB\\VID_2E8A&PID_000F&MI_01\\6&1A2B3C4D&0&0001", "6&1A2B3C4D&0&0001"},
      // Listed all the same, but without a serial.
      {"USB\\VID_1209&PID_000F\\E0C9125B0D9B", ""},
      {"USB\\vid_2e8a&pid_000f\\E0C9125B0D9B", ""},
      {"VID_2E8A", ""},
      {"", ""},
      {"USB\\VID_2E8A&PID_000F\\", ""},
      {"USB\\VID_2E8A&PID_000F\\0123456789012345678901234567890123456789AB",
       "012345678901234567890123456789012345678"},
      {"USB\\VID_2E8A\\A\tB\x7F"
       "C",
       "A?B\x7F"
       "C"},
      {"USB\\VID_2E8A\\S\xC3\xA9rie", "S?rie"},
      {"USB\\VID_2E8A\\X\xF0\x9F\x98\x80Y", "X??Y"},
  };
  for (const Case& c : cases) EXPECT_EQ(picobootSerial(c.parentId), c.serial) << c.parentId;
}

// The checks fail before anything could be sent, so a closed record shows them as well as an
// open one (the board tests show that nothing is sent on an open one).
TEST(PicobootArguments, MisalignedRequestsFailWithTheirStep) {
  struct Case {
    const char* name;
    bool (*run)(PicobootDevice&);
    const char* step;
  } cases[] = {
      {"read at 0x10000080",
       [](PicobootDevice& d) {
         std::uint8_t buffer[256];
         return readFlash(d, 0x10000080, buffer, 256);
       },
       "read alignment"},
      {"read of 100 bytes",
       [](PicobootDevice& d) {
         std::uint8_t buffer[100];
         return readFlash(d, 0x10000000, buffer, 100);
       },
       "read alignment"},
      {"erase of 0x1100 bytes", [](PicobootDevice& d) { return eraseFlash(d, 0x10000000, 0x1100); },
       "erase alignment"},
      {"erase at 0x10000100", [](PicobootDevice& d) { return eraseFlash(d, 0x10000100, 4096); },
       "erase alignment"},
      {"write at 0x10000001",
       [](PicobootDevice& d) {
         std::uint8_t data[256] = {};
         return writeFlash(d, 0x10000001, data, 256);
       },
       "write alignment"},
      {"write of 0x180 bytes",
       [](PicobootDevice& d) {
         std::uint8_t data[0x180] = {};
         return writeFlash(d, 0x10000000, data, 0x180);
       },
       "write alignment"},
  };
  for (const Case& c : cases) {
    PicobootDevice device;
    device.status = 5;  // left from an earlier command; it must not describe this failure
    EXPECT_FALSE(c.run(device)) << c.name;
    EXPECT_EQ(device.failedStep, c.step) << c.name;
    EXPECT_EQ(device.windowsError, 87u) << c.name;
    EXPECT_EQ(line(device), std::string(c.step) + " failed (Windows error 87)") << c.name;
  }
}

TEST(PicobootArguments, ReadFillsTheBufferEvenWhenRefused) {
  PicobootDevice device;
  std::uint8_t buffer[512];
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_FALSE(readFlash(device, 0x10000010, buffer, sizeof buffer));
  for (std::uint8_t b : buffer) ASSERT_EQ(b, 0xAA);
}

TEST(PicobootArguments, ACommandOnAClosedRecordFailsWithoutADevice) {
  PicobootDevice device;
  EXPECT_FALSE(exitXip(device));
  EXPECT_EQ(device.failedStep, "exit xip");
  EXPECT_FALSE(resetInterface(device));
  EXPECT_EQ(device.failedStep, "reset");
  closePicoboot(device);  // safe on a closed record
  EXPECT_EQ(device.usb, nullptr);
}

}  // namespace
}  // namespace tw
