// The parts of the PICOBOOT transport that need no board: failure lines, serials and the
// argument checks on a closed record.
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

// The board tests show that nothing is sent; here, that an earlier command's status does not
// describe the refusal.
TEST(PicobootArguments, ARefusalDescribesItself) {
  PicobootDevice device;
  device.status = 5;
  std::uint8_t buffer[512] = {};
  EXPECT_FALSE(readFlash(device, 0x10000010, buffer, sizeof buffer));
  EXPECT_EQ(line(device), "read alignment failed (Windows error 87)");
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
