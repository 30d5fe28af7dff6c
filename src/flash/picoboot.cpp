#include "flash/picoboot.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/text.h"

namespace tw {
namespace {

constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorWriteFault = 29;
constexpr std::uint32_t kErrorReadFault = 30;

// Paths the port may hand us beyond the ones we keep, so that a skipped over-long path does not
// cost a usable interface behind it.
constexpr std::size_t kSkippableInterfaces = 16;

constexpr std::uint8_t kVendorInterfaceClass = 0xFF;
constexpr std::uint8_t kPicobootEndpoints = 2;

constexpr std::uint32_t kMinTransferSize = 4096;
constexpr std::uint32_t kMaxTransferSize = 1048576;
constexpr std::uint32_t kDefaultTransferSize = 65536;
constexpr std::uint32_t kPacketSize = 64;

// The command block and the acknowledgement after a data phase are small and quick.
constexpr std::uint32_t kCommandTimeoutMs = 3000;
// A pipe call is also bounded by the caller, in case the pipe's own time-out never fires; the
// bound gives the pipe's time-out this long to act first.
constexpr std::uint32_t kWaitMarginMs = 1000;
// Zero-length reads tolerated during one data phase; the next one fails the command.
constexpr int kEmptyReadsTolerated = 2;
constexpr std::uint32_t kAckReadSize = 64;

// Standard and PICOBOOT control requests.
constexpr std::uint8_t kGetStatusRequestType = 0x82;  // device to host, standard, endpoint
constexpr std::uint8_t kGetStatusRequest = 0x00;
constexpr std::uint16_t kGetStatusLength = 2;
constexpr std::uint8_t kEndpointHalt = 0x01;
constexpr std::uint8_t kInterfaceResetRequestType = 0x41;  // host to device, vendor, interface
constexpr std::uint8_t kInterfaceResetRequest = 0x41;
constexpr std::uint8_t kCommandStatusRequestType = 0xC1;  // device to host, vendor, interface
constexpr std::uint8_t kCommandStatusRequest = 0x42;
constexpr std::uint16_t kCommandStatusLength = 16;
constexpr std::size_t kCommandInProgressOffset = 9;

constexpr std::uint32_t kReadAlignment = 256;
constexpr std::uint32_t kWriteAlignment = 256;
constexpr std::uint32_t kEraseAlignment = 4096;
constexpr std::uint8_t kUnreadFill = 0xAA;

constexpr std::uint32_t kControlTimeoutMs = 10000;
constexpr std::uint32_t kRebootAckTimeoutMs = 5000;
constexpr std::uint32_t kReadAckTimeoutMs = 3000;

const char* const kStatusTexts[] = {
    "ok",
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
    "unsupported modification",
};

void putWord(std::uint8_t* p, std::uint32_t value) {
  p[0] = std::uint8_t(value);
  p[1] = std::uint8_t(value >> 8);
  p[2] = std::uint8_t(value >> 16);
  p[3] = std::uint8_t(value >> 24);
}

std::uint32_t getWord(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

std::uint32_t waitFor(std::uint32_t pipeTimeoutMs) {
  return pipeTimeoutMs > kWaitForever - 1 - kWaitMarginMs ? kWaitForever - 1
                                                          : pipeTimeoutMs + kWaitMarginMs;
}

void setFailure(PicobootDevice& device, const char* step, std::uint32_t error) {
  device.failedStep = std::string(step != nullptr ? step : "").substr(0, kFailedStepMax);
  device.windowsError = error;
}

// Each phase of a command, failing with the Windows error of the call that failed.
class CommandPhases {
 public:
  explicit CommandPhases(PicobootDevice& device) : device_(device), usb_(*device.usb) {}

  std::uint32_t error() const { return error_; }

  bool setTimeout(std::uint8_t pipe, std::uint32_t timeoutMs) {
    timeoutMs_ = timeoutMs;
    return usb_.setPipePolicy(pipe, UsbPipePolicy::PipeTransferTimeout, timeoutMs, error_);
  }

  // Writes all of `size` bytes in chunks of at most `maxTransfer`; a chunk that moves fewer bytes
  // than it holds is a write fault.
  bool write(const std::uint8_t* data, std::uint32_t size) {
    std::uint32_t done = 0;
    while (done < size) {
      std::uint32_t chunk = std::min(size - done, chunkLimit());
      std::uint32_t moved = 0;
      if (!usb_.writePipe(device_.pipeOut, data + done, chunk, moved, waitFor(timeoutMs_),
                          error_)) {
        return false;
      }
      if (moved < chunk) {
        error_ = kErrorWriteFault;
        return false;
      }
      done += chunk;
    }
    return true;
  }

  // Reads exactly `size` bytes; an empty read is tolerated twice per command, as a device may
  // send a zero-length packet while it prepares the rest.
  bool read(std::uint8_t* data, std::uint32_t size) {
    std::uint32_t done = 0;
    int emptyReads = 0;
    while (done < size) {
      std::uint32_t chunk = std::min(size - done, chunkLimit());
      std::uint32_t moved = 0;
      if (!usb_.readPipe(device_.pipeIn, data + done, chunk, moved, waitFor(timeoutMs_), error_)) {
        return false;
      }
      if (moved == 0 && ++emptyReads > kEmptyReadsTolerated) {
        error_ = kErrorReadFault;
        return false;
      }
      done += std::min(moved, chunk);
    }
    return true;
  }

  // The acknowledgement of a command whose data (if any) went to the device: the read
  // completing is enough, whatever it carries.
  bool readAck() {
    std::uint8_t ack[kAckReadSize];
    std::uint32_t moved = 0;
    return usb_.readPipe(device_.pipeIn, ack, sizeof ack, moved, waitFor(timeoutMs_), error_);
  }

 private:
  std::uint32_t chunkLimit() const {
    return device_.maxTransfer != 0 ? device_.maxTransfer : kDefaultTransferSize;
  }

  PicobootDevice& device_;
  UsbDevice& usb_;
  std::uint32_t error_ = 0;
  std::uint32_t timeoutMs_ = 0;
};

bool sendPhases(PicobootDevice& device, CommandPhases& phases, const std::uint8_t* block,
                std::uint8_t commandId, std::uint8_t* data, std::uint32_t transferLength,
                std::uint32_t dataTimeoutMs, std::uint32_t ackTimeoutMs) {
  if (!phases.setTimeout(device.pipeOut, kCommandTimeoutMs)) return false;
  if (!phases.write(block, kPicobootCommandSize)) return false;

  bool toHost = (commandId & kPicobootDeviceToHost) != 0;
  if (transferLength != 0) {
    if (toHost) {
      if (!phases.setTimeout(device.pipeIn, dataTimeoutMs)) return false;
      if (!phases.read(data, transferLength)) return false;
    } else {
      if (!phases.setTimeout(device.pipeOut, dataTimeoutMs)) return false;
      if (!phases.write(data, transferLength)) return false;
    }
  }

  if (!toHost) {
    if (!phases.setTimeout(device.pipeIn, ackTimeoutMs)) return false;
    return phases.readAck();
  }
  const std::uint8_t ack[1] = {0};
  if (!phases.setTimeout(device.pipeOut, transferLength != 0 ? kCommandTimeoutMs : ackTimeoutMs)) {
    return false;
  }
  return phases.write(ack, sizeof ack);
}

// Reads the device's status of the failed command; 0 when it cannot be read.
std::uint32_t commandStatus(PicobootDevice& device) {
  UsbSetupPacket setup;
  setup.requestType = kCommandStatusRequestType;
  setup.request = kCommandStatusRequest;
  setup.index = device.interfaceNumber;
  setup.length = kCommandStatusLength;
  std::uint8_t reply[kCommandStatusLength] = {};
  std::uint32_t moved = 0, error = 0;
  if (!device.usb->controlTransfer(setup, reply, moved, error)) return 0;
  return moved == kCommandStatusLength ? getWord(reply + 4) : 0;
}

bool checkAlignment(PicobootDevice& device, std::uint32_t address, std::uint32_t size,
                    std::uint32_t alignment, const char* step) {
  if (address % alignment == 0 && size % alignment == 0) return true;
  // Nothing reached the device, so an earlier command's status must not describe this failure.
  device.status = 0;
  setFailure(device, step, USB_ERROR_INVALID_PARAMETER);
  return false;
}

std::uint32_t pipeMaximumTransfer(UsbDevice& usb, std::uint8_t pipe) {
  std::uint32_t value = 0, error = 0;
  if (!usb.getPipePolicy(pipe, UsbPipePolicy::MaximumTransferSize, value, error)) return 0;
  return value;
}

// Gets the record's settings from an opened interface; false with the failure recorded.
bool prepareInterface(PicobootDevice& device) {
  UsbDevice& usb = *device.usb;
  std::uint32_t error = 0;
  UsbInterfaceDescriptor descriptor;
  if (!usb.queryInterfaceSettings(0, descriptor, error)) {
    setFailure(device, "interface", error);
    return false;
  }
  if (descriptor.interfaceClass != kVendorInterfaceClass ||
      descriptor.numEndpoints != kPicobootEndpoints) {
    setFailure(device, "not picoboot", USB_ERROR_NOT_SUPPORTED);
    return false;
  }
  device.interfaceNumber = descriptor.interfaceNumber;

  bool haveIn = false, haveOut = false;
  for (std::uint8_t i = 0; i < descriptor.numEndpoints; ++i) {
    UsbPipeInfo pipe;
    if (!usb.queryPipe(0, i, pipe, error) || pipe.type != UsbPipeType::Bulk) continue;
    if ((pipe.pipeId & 0x80) != 0) {
      device.pipeIn = pipe.pipeId;
      haveIn = true;
    } else {
      device.pipeOut = pipe.pipeId;
      haveOut = true;
    }
  }
  if (!haveIn || !haveOut) {
    setFailure(device, "endpoints", USB_ERROR_NOT_SUPPORTED);
    return false;
  }

  std::uint32_t largest =
      std::min(pipeMaximumTransfer(usb, device.pipeIn), pipeMaximumTransfer(usb, device.pipeOut));
  device.maxTransfer = largest >= kMinTransferSize && largest <= kMaxTransferSize
                           ? largest / kPacketSize * kPacketSize
                           : kDefaultTransferSize;

  // A stall must stay until the recovery reads the command status, which it would otherwise
  // lose. WinUSB leaves the policy off by default, so a refusal here changes nothing.
  usb.setPipePolicy(device.pipeIn, UsbPipePolicy::AutoClearStall, 0, error);
  usb.setPipePolicy(device.pipeOut, UsbPipePolicy::AutoClearStall, 0, error);
  return true;
}

void clearRecord(PicobootDevice& device) {
  device.usb.reset();
  device.pipeIn = 0;
  device.pipeOut = 0;
  device.interfaceNumber = 0;
  device.maxTransfer = 0;
  device.token = 0;
  device.windowsError = 0;
  device.status = 0;
  device.failedStep.clear();
}

// GET_STATUS of one endpoint: false when it did not answer; else whether it is halted.
bool readEndpointHalt(UsbDevice& usb, std::uint8_t pipe, bool& halted) {
  UsbSetupPacket getStatus;
  getStatus.requestType = kGetStatusRequestType;
  getStatus.request = kGetStatusRequest;
  getStatus.index = pipe;
  getStatus.length = kGetStatusLength;
  std::uint8_t reply[kGetStatusLength] = {};
  std::uint32_t moved = 0;
  std::uint32_t error = 0;
  if (!usb.controlTransfer(getStatus, reply, moved, error) || moved != kGetStatusLength)
    return false;
  halted = (reply[0] & kEndpointHalt) != 0;
  return true;
}

}  // namespace

std::string picobootSerial(const std::string& parentId) {
  std::size_t slash = parentId.rfind('\\');
  if (slash == std::string::npos || parentId.find("VID_2E8A") == std::string::npos) return {};
  // Windows holds the ID in UTF-16; count and replace by its units, so a character beyond the
  // BMP shows as two "?".
  std::string serial;
  for (std::size_t i = slash + 1; i < parentId.size() && serial.size() < kPicobootSerialMax;) {
    unsigned char c = static_cast<unsigned char>(parentId[i]);
    if (c < 0x80) {
      serial += c >= 0x20 ? char(c) : '?';
      ++i;
      continue;
    }
    std::size_t length = 1;
    while (i + length < parentId.size() && length < 4 &&
           (static_cast<unsigned char>(parentId[i + length]) & 0xC0) == 0x80) {
      ++length;
    }
    serial += '?';
    if (length == 4 && serial.size() < kPicobootSerialMax) serial += '?';
    i += length;
  }
  return serial;
}

int findPicobootInterfaces(const PicobootPorts& ports, PicobootInterface* entries, int maxEntries) {
  if (maxEntries < 1 || entries == nullptr) return 0;
  std::vector<UsbInterfaceEntry> found;
  if (!ports.usb.listInterfaces(kPicobootInterfaceClass,
                                std::size_t(maxEntries) + kSkippableInterfaces, found)) {
    return 0;
  }
  int count = 0;
  for (const UsbInterfaceEntry& entry : found) {
    if (count == maxEntries) break;
    if (entry.path.empty() || utf16Length(entry.path) > kPicobootPathMaxUnits) continue;
    entries[count].path = entry.path;
    entries[count].serial = picobootSerial(entry.parentId);
    ++count;
  }
  return count;
}

bool openPicoboot(const PicobootPorts& ports, PicobootDevice& device, const std::string& path) {
  clearRecord(device);
  UsbOpenStep step = UsbOpenStep::Open;
  std::uint32_t error = 0;
  device.usb = ports.usb.open(path, step, error);
  if (!device.usb) {
    setFailure(device, step == UsbOpenStep::Open ? "open" : "winusb", error);
    return false;
  }
  if (!prepareInterface(device)) {
    device.usb.reset();
    return false;
  }
  device.token = std::uint32_t(ports.clock.tickMs() & 0xFFFF);
  return true;
}

void closePicoboot(PicobootDevice& device) {
  device.usb.reset();
}

bool resetInterface(PicobootDevice& device) {
  if (!device.usb) {
    setFailure(device, "reset", kErrorInvalidHandle);
    return false;
  }
  UsbDevice& usb = *device.usb;
  std::uint32_t error = 0;
  for (std::uint8_t pipe : {device.pipeIn, device.pipeOut}) {
    usb.abortPipe(pipe, error);
    bool halted = false;
    if (readEndpointHalt(usb, pipe, halted) && halted) usb.resetPipe(pipe, error);
  }
  UsbSetupPacket reset;
  reset.requestType = kInterfaceResetRequestType;
  reset.request = kInterfaceResetRequest;
  reset.index = device.interfaceNumber;
  reset.length = 0;
  std::uint32_t moved = 0;
  if (!usb.controlTransfer(reset, nullptr, moved, error)) {
    setFailure(device, "reset", error);
    return false;
  }
  return true;
}

bool interfaceNeedsReset(PicobootDevice& device) {
  if (!device.usb) return true;
  UsbDevice& usb = *device.usb;
  std::uint32_t error = 0;
  for (std::uint8_t pipe : {device.pipeIn, device.pipeOut}) {
    bool halted = false;
    if (!readEndpointHalt(usb, pipe, halted) || halted) return true;
  }
  UsbSetupPacket setup;
  setup.requestType = kCommandStatusRequestType;
  setup.request = kCommandStatusRequest;
  setup.index = device.interfaceNumber;
  setup.length = kCommandStatusLength;
  std::uint8_t reply[kCommandStatusLength] = {};
  std::uint32_t moved = 0;
  if (!usb.controlTransfer(setup, reply, moved, error) || moved != kCommandStatusLength) {
    return true;
  }
  return reply[kCommandInProgressOffset] != 0;
}

bool runCommand(PicobootDevice& device, std::uint8_t commandId, const std::uint8_t* args,
                std::uint8_t argsSize, std::uint8_t* data, std::uint32_t transferLength,
                std::uint32_t dataTimeoutMs, std::uint32_t ackTimeoutMs, const char* stepName) {
  device.status = 0;
  if (!device.usb) {
    setFailure(device, stepName, kErrorInvalidHandle);
    return false;
  }
  if (argsSize > kPicobootMaxArgs || (argsSize != 0 && args == nullptr) ||
      (transferLength != 0 && data == nullptr)) {
    setFailure(device, stepName, USB_ERROR_INVALID_PARAMETER);
    return false;
  }

  std::uint8_t block[kPicobootCommandSize] = {};
  device.token += 1;
  putWord(block, kPicobootMagic);
  putWord(block + 4, device.token);
  block[8] = commandId;
  block[9] = argsSize;
  putWord(block + 12, transferLength);
  if (argsSize != 0) std::memcpy(block + 16, args, argsSize);

  CommandPhases phases(device);
  if (sendPhases(device, phases, block, commandId, data, transferLength, dataTimeoutMs,
                 ackTimeoutMs)) {
    return true;
  }
  std::uint32_t kept = phases.error();
  device.status = commandStatus(device);
  resetInterface(device);
  setFailure(device, stepName, kept != 0 ? kept : USB_ERROR_GEN_FAILURE);
  return false;
}

bool exclusiveAccess(PicobootDevice& device, std::uint8_t mode) {
  const std::uint8_t args[1] = {mode};
  return runCommand(device, kPicobootExclusiveAccess, args, sizeof args, nullptr, 0, 0,
                    kControlTimeoutMs, "exclusive access");
}

bool exitXip(PicobootDevice& device) {
  return runCommand(device, kPicobootExitXip, nullptr, 0, nullptr, 0, 0, kControlTimeoutMs,
                    "exit xip");
}

bool readFlash(PicobootDevice& device, std::uint32_t address, std::uint8_t* buffer,
               std::uint32_t size) {
  if (buffer != nullptr) std::memset(buffer, kUnreadFill, size);
  if (!checkAlignment(device, address, size, kReadAlignment, "read alignment")) return false;
  std::uint8_t args[8];
  putWord(args, address);
  putWord(args + 4, size);
  return runCommand(device, kPicobootRead, args, sizeof args, buffer, size, size / 32 + 10000,
                    kReadAckTimeoutMs, "read");
}

bool eraseFlash(PicobootDevice& device, std::uint32_t address, std::uint32_t size) {
  if (!checkAlignment(device, address, size, kEraseAlignment, "erase alignment")) return false;
  std::uint8_t args[8];
  putWord(args, address);
  putWord(args + 4, size);
  return runCommand(device, kPicobootFlashErase, args, sizeof args, nullptr, 0, 0,
                    (size / 4096) * 400 + 15000, "erase");
}

bool writeFlash(PicobootDevice& device, std::uint32_t address, const std::uint8_t* data,
                std::uint32_t size) {
  if (!checkAlignment(device, address, size, kWriteAlignment, "write alignment")) return false;
  std::uint8_t args[8];
  putWord(args, address);
  putWord(args + 4, size);
  // The runner only reads from `data` when the data phase goes to the device.
  return runCommand(device, kPicobootWrite, args, sizeof args, const_cast<std::uint8_t*>(data),
                    size, size / 32 + 10000, (size / 256) * 20 + 10000, "write");
}

bool reboot(PicobootDevice& device, std::uint32_t delayMs) {
  std::uint8_t args[16] = {};
  putWord(args, 0);  // flags: a normal reboot
  putWord(args + 4, delayMs);
  return runCommand(device, kPicobootReboot2, args, sizeof args, nullptr, 0, 0, kRebootAckTimeoutMs,
                    "reboot");
}

const char* picobootStatusText(std::uint32_t status) {
  constexpr std::uint32_t known = sizeof kStatusTexts / sizeof kStatusTexts[0];
  return status < known ? kStatusTexts[status] : "unrecognised status";
}

void describeFailure(const PicobootDevice& device, char* text, std::size_t size) {
  if (text == nullptr || size == 0) return;
  const char* step = device.failedStep.empty() ? "USB step" : device.failedStep.c_str();
  unsigned long error = device.windowsError;
  std::string line = device.status != 0
                         ? formatText(size, "%s failed: %s (Windows error %lu)", step,
                                      picobootStatusText(device.status), error)
                         : formatText(size, "%s failed (Windows error %lu)", step, error);
  std::memcpy(text, line.c_str(), line.size() + 1);
}

}  // namespace tw
