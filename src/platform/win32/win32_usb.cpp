#include "platform/win32/win32_usb.h"

#include "platform/win32/scoped_win.h"  // first: the headers below need <windows.h>

#include <cfgmgr32.h>
#include <objbase.h>

#include <cstring>
#include <new>

#include "platform/win32/overlapped_io.h"
#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

// How long an aborted pipe transfer may take to land before we stop waiting for it.
constexpr DWORD kCancelWaitMs = 200;
// CM_Get_Device_IDW's buffer, in UTF-16 units with the terminator.
constexpr ULONG kDeviceIdUnits = 256;

// Bulk transfers on one pipe, overlapped on the interface's WinUSB handle.
class PipeTransfer : public OverlappedCalls {
 public:
  enum class Direction { Read, Write };
  PipeTransfer(WINUSB_INTERFACE_HANDLE winusb, UCHAR pipeId, Direction direction)
      : winusb_(winusb), pipeId_(pipeId), direction_(direction) {}
  BOOL start(std::uint8_t* buffer, DWORD length, OVERLAPPED* record) override {
    return direction_ == Direction::Read
               ? WinUsb_ReadPipe(winusb_, pipeId_, buffer, length, nullptr, record)
               : WinUsb_WritePipe(winusb_, pipeId_, buffer, length, nullptr, record);
  }
  BOOL result(OVERLAPPED* record, DWORD& bytes) override {
    return WinUsb_GetOverlappedResult(winusb_, record, &bytes, FALSE);
  }
  // WinUSB cancels by pipe: every transfer pending on it ends.
  void cancel(OVERLAPPED*) override { WinUsb_AbortPipe(winusb_, pipeId_); }

 private:
  WINUSB_INTERFACE_HANDLE winusb_;
  UCHAR pipeId_;
  Direction direction_;
};

UsbPipeType pipeType(USBD_PIPE_TYPE type) {
  switch (type) {
    case UsbdPipeTypeIsochronous:
      return UsbPipeType::Isochronous;
    case UsbdPipeTypeBulk:
      return UsbPipeType::Bulk;
    case UsbdPipeTypeInterrupt:
      return UsbPipeType::Interrupt;
    default:
      return UsbPipeType::Control;
  }
}

// WinUSB takes its BOOL policies as one byte and the others as a ULONG.
bool isBytePolicy(UsbPipePolicy policy) {
  return policy == UsbPipePolicy::AutoClearStall;
}

// One opened interface. Used by one thread at a time.
class Win32UsbDevice : public UsbDevice {
 public:
  Win32UsbDevice(HANDLE file, WINUSB_INTERFACE_HANDLE winusb) : file_(file), winusb_(winusb) {}

  bool queryInterfaceSettings(std::uint8_t alternateSetting, UsbInterfaceDescriptor& out,
                              std::uint32_t& error) override {
    USB_INTERFACE_DESCRIPTOR descriptor{};
    if (!WinUsb_QueryInterfaceSettings(winusb_.get(), alternateSetting, &descriptor))
      return failed(error);
    out.interfaceNumber = descriptor.bInterfaceNumber;
    out.alternateSetting = descriptor.bAlternateSetting;
    out.numEndpoints = descriptor.bNumEndpoints;
    out.interfaceClass = descriptor.bInterfaceClass;
    out.interfaceSubClass = descriptor.bInterfaceSubClass;
    out.interfaceProtocol = descriptor.bInterfaceProtocol;
    return true;
  }

  bool queryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex, UsbPipeInfo& out,
                 std::uint32_t& error) override {
    WINUSB_PIPE_INFORMATION pipe{};
    if (!WinUsb_QueryPipe(winusb_.get(), alternateSetting, pipeIndex, &pipe)) return failed(error);
    out.type = pipeType(pipe.PipeType);
    out.pipeId = pipe.PipeId;
    out.maximumPacketSize = pipe.MaximumPacketSize;
    out.interval = pipe.Interval;
    return true;
  }

  bool getPipePolicy(std::uint8_t pipeId, UsbPipePolicy policy, std::uint32_t& value,
                     std::uint32_t& error) override {
    value = 0;
    const ULONG type = static_cast<ULONG>(policy);
    if (isBytePolicy(policy)) {
      UCHAR flag = 0;
      ULONG length = sizeof flag;
      if (!WinUsb_GetPipePolicy(winusb_.get(), pipeId, type, &length, &flag)) return failed(error);
      value = flag;
      return true;
    }
    ULONG number = 0;
    ULONG length = sizeof number;
    if (!WinUsb_GetPipePolicy(winusb_.get(), pipeId, type, &length, &number)) return failed(error);
    value = number;
    return true;
  }

  bool setPipePolicy(std::uint8_t pipeId, UsbPipePolicy policy, std::uint32_t value,
                     std::uint32_t& error) override {
    const ULONG type = static_cast<ULONG>(policy);
    if (isBytePolicy(policy)) {
      UCHAR flag = value != 0 ? 1 : 0;
      if (!WinUsb_SetPipePolicy(winusb_.get(), pipeId, type, sizeof flag, &flag))
        return failed(error);
      return true;
    }
    ULONG number = value;
    if (!WinUsb_SetPipePolicy(winusb_.get(), pipeId, type, sizeof number, &number))
      return failed(error);
    return true;
  }

  bool readPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t size,
                std::uint32_t& transferred, std::uint32_t waitMs, std::uint32_t& error) override {
    transferred = 0;
    std::uint8_t* bounce = reads_.prepare(size, kCancelWaitMs);
    if (bounce == nullptr) return notReady(reads_, error);
    PipeTransfer transfer(winusb_.get(), pipeId, PipeTransfer::Direction::Read);
    DWORD bytes = 0;
    DWORD failure = 0;
    if (reads_.run(transfer, size, waitMs, kCancelWaitMs, bytes, failure) !=
        TransferOutcome::Done) {
      error = failure;
      return false;
    }
    if (bytes > size) bytes = size;
    if (bytes > 0) std::memcpy(buffer, bounce, bytes);
    transferred = bytes;
    return true;
  }

  bool writePipe(std::uint8_t pipeId, const std::uint8_t* data, std::uint32_t size,
                 std::uint32_t& transferred, std::uint32_t waitMs, std::uint32_t& error) override {
    transferred = 0;
    std::uint8_t* bounce = writes_.prepare(size, kCancelWaitMs);
    if (bounce == nullptr) return notReady(writes_, error);
    if (size > 0) std::memcpy(bounce, data, size);
    PipeTransfer transfer(winusb_.get(), pipeId, PipeTransfer::Direction::Write);
    DWORD bytes = 0;
    DWORD failure = 0;
    if (writes_.run(transfer, size, waitMs, kCancelWaitMs, bytes, failure) !=
        TransferOutcome::Done) {
      error = failure;
      return false;
    }
    transferred = bytes > size ? size : bytes;
    return true;
  }

  // Synchronous: the default pipe's own time-out (five seconds unless changed) bounds it.
  bool controlTransfer(const UsbSetupPacket& setup, std::uint8_t* buffer,
                       std::uint32_t& transferred, std::uint32_t& error) override {
    transferred = 0;
    WINUSB_SETUP_PACKET packet{};
    packet.RequestType = setup.requestType;
    packet.Request = setup.request;
    packet.Value = setup.value;
    packet.Index = setup.index;
    packet.Length = setup.length;
    ULONG bytes = 0;
    if (!WinUsb_ControlTransfer(winusb_.get(), packet, buffer, setup.length, &bytes, nullptr))
      return failed(error);
    transferred = bytes;
    return true;
  }

  bool abortPipe(std::uint8_t pipeId, std::uint32_t& error) override {
    return WinUsb_AbortPipe(winusb_.get(), pipeId) ? true : failed(error);
  }

  bool resetPipe(std::uint8_t pipeId, std::uint32_t& error) override {
    return WinUsb_ResetPipe(winusb_.get(), pipeId) ? true : failed(error);
  }

 private:
  static bool failed(std::uint32_t& error) {
    error = GetLastError();
    return false;
  }
  // No memory for the transfer, or the driver still holds an earlier one that was aborted.
  static bool notReady(const OverlappedTransfer& transfer, std::uint32_t& error) {
    error = transfer.inFlight() ? ERROR_BUSY : ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }

  // Destroyed from the bottom up: transfers the driver has not finished go to the thread pool
  // first, then WinUsb_Free, then the file closes (which cancels such transfers for good).
  ScopedHandle file_;
  ScopedWinUsb winusb_;
  OverlappedTransfer reads_;
  OverlappedTransfer writes_;
};

}  // namespace

bool Win32UsbPort::listInterfaces(const std::string& classGuid, std::size_t maxEntries,
                                  std::vector<UsbInterfaceEntry>& entries) {
  entries.clear();
  GUID guid{};
  if (IIDFromString(toUtf16(classGuid).c_str(), &guid) != S_OK) return false;
  ScopedDevInfo list(
      SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!list.valid()) return false;
  SP_DEVICE_INTERFACE_DATA found{};
  found.cbSize = sizeof found;
  for (DWORD index = 0; entries.size() < maxEntries &&
                        SetupDiEnumDeviceInterfaces(list.get(), nullptr, &guid, index, &found);
       ++index) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(list.get(), &found, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    // DWORD storage keeps the record aligned for its leading DWORD.
    std::unique_ptr<DWORD[]> storage =
        allocateArray<DWORD>((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    if (!storage) continue;
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiGetDeviceInterfaceDetailW(list.get(), &found, detail, size, nullptr, &device))
      continue;
    UsbInterfaceEntry entry;
    entry.path = toUtf8(detail->DevicePath);
    DEVINST parent = 0;
    wchar_t parentId[kDeviceIdUnits] = {};
    if (CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS &&
        CM_Get_Device_IDW(parent, parentId, kDeviceIdUnits, 0) == CR_SUCCESS) {
      parentId[kDeviceIdUnits - 1] = L'\0';  // an ID of exactly 256 units comes unterminated
      entry.parentId = toUtf8(parentId);
    }
    entries.push_back(std::move(entry));
  }
  return true;
}

std::unique_ptr<UsbDevice> Win32UsbPort::open(const std::string& path, UsbOpenStep& failedStep,
                                              std::uint32_t& error) {
  failedStep = UsbOpenStep::Open;
  error = 0;
  ScopedHandle file(CreateFileW(toUtf16(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
  if (!file.valid()) {
    error = GetLastError();
    return nullptr;
  }
  WINUSB_INTERFACE_HANDLE winusb = nullptr;
  if (!WinUsb_Initialize(file.get(), &winusb)) {
    failedStep = UsbOpenStep::WinUsb;
    error = GetLastError();
    return nullptr;  // the file closes with its owner
  }
  ScopedWinUsb ownedWinUsb(winusb);
  std::unique_ptr<UsbDevice> device(new (std::nothrow) Win32UsbDevice(file.get(), winusb));
  if (!device) {
    failedStep = UsbOpenStep::WinUsb;
    error = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;  // both handles are freed by their owners here
  }
  ownedWinUsb.release();  // the device owns both from here on
  file.release();
  return device;
}

}  // namespace tw::win32
