// USB interfaces driven through WinUSB: finding the present interfaces of a device interface
// class with their parent device's ID, opening one, its descriptors and pipes, pipe policies,
// bulk transfers and control requests. Windows: SetupAPI, CM_Get_Parent, CM_Get_Device_IDW,
// CreateFileW and WinUsb_*. Linux: the simulated RP2350 board.
//
// Every failure carries the Windows error number of the call that failed; the system decides what
// it means. Transfers are made one call at a time: chunking, retries and time-out choices belong
// to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tw {

// Windows error numbers the USB side reports and the system tells apart.
inline constexpr std::uint32_t USB_ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t USB_ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t USB_ERROR_GEN_FAILURE = 31;
inline constexpr std::uint32_t USB_ERROR_SHARING_VIOLATION = 32;
inline constexpr std::uint32_t USB_ERROR_NOT_SUPPORTED = 50;
inline constexpr std::uint32_t USB_ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t USB_ERROR_BUSY = 170;
inline constexpr std::uint32_t USB_ERROR_SEM_TIMEOUT = 121;
inline constexpr std::uint32_t USB_ERROR_DEVICE_NOT_CONNECTED = 1167;

// One present device interface of the class asked for.
struct UsbInterfaceEntry {
  std::string path;      // device interface path, UTF-8
  std::string parentId;  // device ID of the USB parent (CM_Get_Device_IDW), empty when unknown
};

// USB_INTERFACE_DESCRIPTOR as WinUsb_QueryInterfaceSettings gives it.
struct UsbInterfaceDescriptor {
  std::uint8_t interfaceNumber = 0;
  std::uint8_t alternateSetting = 0;
  std::uint8_t numEndpoints = 0;
  std::uint8_t interfaceClass = 0;
  std::uint8_t interfaceSubClass = 0;
  std::uint8_t interfaceProtocol = 0;
};

enum class UsbPipeType { Control, Isochronous, Bulk, Interrupt };

// WINUSB_PIPE_INFORMATION.
struct UsbPipeInfo {
  UsbPipeType type = UsbPipeType::Control;
  std::uint8_t pipeId = 0;  // endpoint address; bit 7 set for IN
  std::uint16_t maximumPacketSize = 0;
  std::uint8_t interval = 0;
};

// The pipe policies the system uses, with WinUSB's numbers.
enum class UsbPipePolicy : std::uint32_t {
  AutoClearStall = 0x02,       // BOOL
  PipeTransferTimeout = 0x03,  // ULONG, milliseconds; 0 waits without a limit
  MaximumTransferSize = 0x08,  // ULONG, read only
};

// WINUSB_SETUP_PACKET.
struct UsbSetupPacket {
  std::uint8_t requestType = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};

// One opened interface: the device file and its WinUSB handle. Destroying it frees the WinUSB
// handle and closes the file.
class UsbDevice {
 public:
  virtual ~UsbDevice() = default;
  virtual bool queryInterfaceSettings(std::uint8_t alternateSetting, UsbInterfaceDescriptor& out,
                                      std::uint32_t& error) = 0;
  virtual bool queryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex, UsbPipeInfo& out,
                         std::uint32_t& error) = 0;
  virtual bool getPipePolicy(std::uint8_t pipeId, UsbPipePolicy policy, std::uint32_t& value,
                             std::uint32_t& error) = 0;
  // A BOOL policy takes 0 or 1; a ULONG policy its value.
  virtual bool setPipePolicy(std::uint8_t pipeId, UsbPipePolicy policy, std::uint32_t value,
                             std::uint32_t& error) = 0;
  // One bulk read or write of at most `size` bytes. The pipe's transfer time-out policy ends a
  // transfer the device does not complete; `waitMs` bounds the whole call besides, after which the
  // transfer is cancelled and the call fails with ERROR_SEM_TIMEOUT.
  virtual bool readPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t size,
                        std::uint32_t& transferred, std::uint32_t waitMs, std::uint32_t& error) = 0;
  virtual bool writePipe(std::uint8_t pipeId, const std::uint8_t* data, std::uint32_t size,
                         std::uint32_t& transferred, std::uint32_t waitMs,
                         std::uint32_t& error) = 0;
  // A control request on the default pipe; `buffer` holds setup.length bytes (in or out by bit 7
  // of the request type).
  virtual bool controlTransfer(const UsbSetupPacket& setup, std::uint8_t* buffer,
                               std::uint32_t& transferred, std::uint32_t& error) = 0;
  virtual bool abortPipe(std::uint8_t pipeId, std::uint32_t& error) = 0;
  virtual bool resetPipe(std::uint8_t pipeId, std::uint32_t& error) = 0;
};

// Where opening an interface failed.
enum class UsbOpenStep { Open, WinUsb };

class UsbPort {
 public:
  virtual ~UsbPort() = default;
  // The present interfaces of the device interface class `classGuid` ("{xxxxxxxx-...}"), in
  // enumeration order, at most `maxEntries`. An interface whose path cannot be read is skipped.
  // False when the device list cannot be made.
  virtual bool listInterfaces(const std::string& classGuid, std::size_t maxEntries,
                              std::vector<UsbInterfaceEntry>& entries) = 0;
  // CreateFileW for reading and writing, shared, overlapped; then WinUsb_Initialize. nullptr with
  // the failing step and its Windows error; a file opened before a failed initialisation is closed.
  virtual std::unique_ptr<UsbDevice> open(const std::string& path, UsbOpenStep& failedStep,
                                          std::uint32_t& error) = 0;
};

}  // namespace tw
