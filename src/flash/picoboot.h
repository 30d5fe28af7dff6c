// PICOBOOT, the boot ROM's USB protocol of a dongle in update mode: finding its interfaces,
// opening one, the commands the firmware side needs, the recovery after a failed command, and the
// one-line failure text. All calls are synchronous, made from the firmware thread only, and take
// no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/usb.h"

namespace tw {

// The device interface class the boot ROM's PICOBOOT interface is registered under.
inline constexpr const char* kPicobootInterfaceClass = "{BC7398C1-73CD-4CB7-98B8-913A8FCA7BF6}";

// Room the callers keep: entries found at a time, and the failure line.
inline constexpr int kPicobootMaxInterfaces = 4;
inline constexpr std::size_t kFailureTextCapacity = 200;

// Longest device path Windows keeps for us (511 UTF-16 units plus the terminator), longest serial
// (39 characters) and failed-step name (47 characters).
inline constexpr std::size_t kPicobootPathMaxUnits = 511;
inline constexpr std::size_t kPicobootSerialMax = 39;
inline constexpr std::size_t kFailedStepMax = 47;

// Command ids; bit 7 set means the data phase runs from the device to us.
inline constexpr std::uint8_t kPicobootExclusiveAccess = 0x01;
inline constexpr std::uint8_t kPicobootFlashErase = 0x03;
inline constexpr std::uint8_t kPicobootWrite = 0x05;
inline constexpr std::uint8_t kPicobootExitXip = 0x06;
inline constexpr std::uint8_t kPicobootReboot2 = 0x0A;
inline constexpr std::uint8_t kPicobootRead = 0x84;
inline constexpr std::uint8_t kPicobootDeviceToHost = 0x80;

inline constexpr std::uint32_t kPicobootMagic = 0x431FD10B;
inline constexpr std::size_t kPicobootCommandSize = 32;
inline constexpr std::size_t kPicobootMaxArgs = 16;

// Exclusive access modes.
inline constexpr std::uint8_t kPicobootNotExclusive = 0;
inline constexpr std::uint8_t kPicobootExclusive = 1;

// One found interface.
struct PicobootInterface {
  std::string path;    // device interface path (UTF-8), at most kPicobootPathMaxUnits UTF-16 units
  std::string serial;  // instance part of the parent's ID, ASCII; empty unless a Raspberry Pi ID
};

// One open connection; owned by the caller. `usb` is null when closed. After a failure the step,
// the Windows error and the device's status of the last failure describe it.
struct PicobootDevice {
  std::unique_ptr<UsbDevice> usb;
  std::uint8_t pipeIn = 0;           // bulk IN pipe id (bit 7 set)
  std::uint8_t pipeOut = 0;          // bulk OUT pipe id
  std::uint8_t interfaceNumber = 0;  // wIndex of every interface request
  std::uint32_t maxTransfer = 0;     // largest chunk handed to one pipe read or write
  std::uint32_t token = 0;           // the last command token used
  std::uint32_t windowsError = 0;
  std::uint32_t status = 0;  // PICOBOOT status of the last failed command; 0 when none
  std::string failedStep;    // at most kFailedStepMax characters
};

// What opening and finding need from outside: the USB port, and the clock the token is seeded from.
struct PicobootPorts {
  UsbPort& usb;
  Clock& clock;
};

// Fills up to `maxEntries` entries in enumeration order and returns how many; 0 when `maxEntries`
// is below 1 or the device list cannot be made. An interface whose path is longer than Windows
// lets us keep is skipped (a shortened path would name another device).
int findPicobootInterfaces(const PicobootPorts& ports, PicobootInterface* entries, int maxEntries);

// The serial kept for an interface whose parent has the device ID `parentId`: the text after the
// last backslash when the ID has one and contains "VID_2E8A", at most 39 characters, each outside
// 0x20..0x7F shown as "?"; empty otherwise.
std::string picobootSerial(const std::string& parentId);

// Opens and prepares one interface. On failure `device` is left closed with `failedStep` and
// `windowsError` set.
bool openPicoboot(const PicobootPorts& ports, PicobootDevice& device, const std::string& path);

// Frees the WinUSB handle and closes the file; safe on a closed record.
void closePicoboot(PicobootDevice& device);

// Clears stalls on both pipes and resets the PICOBOOT interface. On failure `failedStep` is
// "reset" with the Windows error; `status` is kept.
bool resetInterface(PicobootDevice& device);

// Whether the interface needs the recovery before a first command: a pipe is halted, a command is
// still in progress, or the device cannot say. The boot ROM's interface reset also empties the
// UF2 drive's task queue, so a reset of an idle interface can drop a block someone is copying.
bool interfaceNeedsReset(PicobootDevice& device);

// Sends one command with its data phase and acknowledgement. `transferLength` bytes of `data` are
// written (bit 7 of `commandId` clear) or read into it (set). After a failure the interface has
// been reset and `failedStep` is `stepName`.
bool runCommand(PicobootDevice& device, std::uint8_t commandId, const std::uint8_t* args,
                std::uint8_t argsSize, std::uint8_t* data, std::uint32_t transferLength,
                std::uint32_t dataTimeoutMs, std::uint32_t ackTimeoutMs, const char* stepName);

bool exclusiveAccess(PicobootDevice& device, std::uint8_t mode);
bool exitXip(PicobootDevice& device);
// `buffer` is filled with 0xAA first, so bytes that never arrive read as 0xAA. Address and size
// must be multiples of 256.
bool readFlash(PicobootDevice& device, std::uint32_t address, std::uint8_t* buffer,
               std::uint32_t size);
// Address and size must be multiples of 4096.
bool eraseFlash(PicobootDevice& device, std::uint32_t address, std::uint32_t size);
// Address and size must be multiples of 256.
bool writeFlash(PicobootDevice& device, std::uint32_t address, const std::uint8_t* data,
                std::uint32_t size);
// A normal reboot after `delayMs`.
bool reboot(PicobootDevice& device, std::uint32_t delayMs);

// The text of a PICOBOOT status code.
const char* picobootStatusText(std::uint32_t status);

// Writes the failure line of the last failure into `text` (`size` bytes, always terminated):
// "<step> failed: <status text> (Windows error N)" when the device reported a status, else
// "<step> failed (Windows error N)".
void describeFailure(const PicobootDevice& device, char* text, std::size_t size);

}  // namespace tw
