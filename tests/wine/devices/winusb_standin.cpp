// The functions of winusb.dll the adapters call, answering for the world's USB interfaces
// through the file handles the program opened on their pipes.
//
// Contract, from Microsoft's documentation of each function:
// - WinUsb_Initialize: DeviceHandle comes from CreateFile with FILE_FLAG_OVERLAPPED (WinUSB only
//   does overlapped I/O); NULL, an invalid handle or one without the flag is
//   ERROR_INVALID_HANDLE. The interface handle belongs to the caller until WinUsb_Free.
// - Every other function takes a handle WinUsb_Initialize gave and WinUsb_Free has not freed;
//   anything else is ERROR_INVALID_HANDLE.
// - WinUsb_QueryInterfaceSettings: an alternate setting the interface lacks is
//   ERROR_NO_MORE_ITEMS.
// - WinUsb_QueryPipe: PipeIndex must be below the descriptor's bNumEndpoints.
// - WinUsb_GetPipePolicy / WinUsb_SetPipePolicy: PipeID is the endpoint address of a pipe of the
//   interface. AUTO_CLEAR_STALL (and the other switches) take a UCHAR, PIPE_TRANSFER_TIMEOUT and
//   MAXIMUM_TRANSFER_SIZE a ULONG; a ValueLength that is not the policy's size is
//   ERROR_INVALID_PARAMETER. MAXIMUM_TRANSFER_SIZE is read-only. Get writes the size it copied
//   back into *ValueLength.
// - WinUsb_ReadPipe / WinUsb_WritePipe: PipeID names a bulk or interrupt endpoint of the
//   interface in the transfer's direction (bit 7 set for IN). With an OVERLAPPED the call
//   returns at once, FALSE with ERROR_IO_PENDING, and the record's event is set when the
//   transfer ends; the record and the buffer stay the caller's concern until then, so a record
//   must not carry two transfers at once. Without one, LengthTransferred receives the count.
//   A transfer the pipe's PIPE_TRANSFER_TIMEOUT ends fails with ERROR_SEM_TIMEOUT.
// - WinUsb_GetOverlappedResult: for a record a transfer of this handle used; while it runs,
//   bWait FALSE fails with ERROR_IO_INCOMPLETE.
// - WinUsb_ControlTransfer: BufferLength (at most the buffer's size) covers SetupPacket.Length.
//   The default pipe's own time-out ends a request the device does not answer.
// - WinUsb_AbortPipe: every transfer pending on the pipe ends, with ERROR_OPERATION_ABORTED.
// - WinUsb_ResetPipe: clears the halt on both sides and resets the data toggle; pending
//   transfers on the pipe end first.
// - WinUsb_Free: frees the handle; its pending transfers end. The handle is invalid after.
// - A device that left the bus fails pending and new transfers with ERROR_DEVICE_NOT_CONNECTED.
#include <windows.h>

#include <winusb.h>

#include <memory>
#include <string>

#include "device_pipes.h"
#include "device_world.h"
#include "usb_interface.h"

namespace tw::devices {
namespace {

constexpr ULONG kFileModeInformation = 16;
constexpr ULONG kSynchronousModes = 0x10 | 0x20;  // FILE_SYNCHRONOUS_IO_(NON)ALERT

BOOL failWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Whether the file was opened for overlapped I/O; true when it cannot be told.
bool openedOverlapped(HANDLE file) {
  struct IoStatus {
    union {
      LONG status;
      PVOID pointer;
    };
    ULONG_PTR information;
  };
  using Query = LONG(NTAPI*)(HANDLE, IoStatus*, PVOID, ULONG, ULONG);
  static Query query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  if (query == nullptr) return true;
  IoStatus status{};
  ULONG mode = 0;
  if (query(file, &status, &mode, sizeof mode, kFileModeInformation) != 0) return true;
  return (mode & kSynchronousModes) == 0;
}

// The interface behind a handle; a handle that is not a live one of ours is our bug.
std::shared_ptr<UsbInterface> interfaceOf(WINUSB_INTERFACE_HANDLE handle, const char* function) {
  std::shared_ptr<UsbInterface> usb = findInterface(handle);
  if (!usb) {
    complain(function, handle == nullptr
                           ? "a NULL interface handle"
                           : "not a handle from WinUsb_Initialize (or freed already)");
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return usb;
}

// The program freed the handle on another thread while this call was using it.
BOOL freedMeanwhile(const char* function) {
  complain(function, "the handle was freed while the call was using it");
  return failWith(ERROR_INVALID_HANDLE);
}

bool knownPipe(UsbInterface& usb, UCHAR pipeId, const char* function) {
  if (usb.hasPipe(pipeId)) return true;
  char id[8];
  wsprintfA(id, "0x%02x", pipeId);
  complain(function, std::string("pipe ") + id + " is not an endpoint of the interface");
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

// A policy's value size; 0 for a number WinUSB does not define.
ULONG policySize(ULONG policy) {
  switch (policy) {
    case SHORT_PACKET_TERMINATE:
    case AUTO_CLEAR_STALL:
    case IGNORE_SHORT_PACKETS:
    case ALLOW_PARTIAL_READS:
    case AUTO_FLUSH:
    case RAW_IO:
    case RESET_PIPE_ON_RESUME:
      return sizeof(UCHAR);
    case PIPE_TRANSFER_TIMEOUT:
    case MAXIMUM_TRANSFER_SIZE:
      return sizeof(ULONG);
    default:
      return 0;
  }
}

// The size of a policy's value when the call gives a value of a fitting length (at least the
// size for a get, exactly it for a set); 0, after complaining, when not.
ULONG checkedPolicySize(const char* function, ULONG policy, ULONG length, const void* value,
                        bool exact) {
  const ULONG size = policySize(policy);
  if (size == 0) {
    complain(function, "policy " + std::to_string(policy) + " is not one WinUSB defines");
    return 0;
  }
  if (value == nullptr || (exact ? length != size : length < size)) {
    complain(function, "a value of " + std::to_string(length) + " bytes for policy " +
                           std::to_string(policy) + ", whose value is " + std::to_string(size) +
                           " bytes");
    return 0;
  }
  return size;
}

BOOL startTransfer(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, PUCHAR buffer, ULONG length,
                   PULONG transferred, LPOVERLAPPED record, bool in, const char* function) {
  auto usb = interfaceOf(handle, function);
  if (!usb || !knownPipe(*usb, pipeId, function)) return FALSE;
  if (((pipeId & 0x80) != 0) != in) {
    complain(function, in ? "reading from an OUT pipe" : "writing to an IN pipe");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  if (buffer == nullptr && length > 0) {
    complain(function, "no buffer for " + std::to_string(length) + " bytes");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  // A device that has left the bus takes no new transfers.
  if (usb->left() || deviceGone(usb->file())) return failWith(ERROR_DEVICE_NOT_CONNECTED);
  if (record == nullptr) {
    // Synchronous: the same transfer on a record of ours, waited for here.
    if (transferred == nullptr) {
      complain(function, "a synchronous call needs LengthTransferred");
      return failWith(ERROR_INVALID_PARAMETER);
    }
    OVERLAPPED own{};
    own.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    own.Internal = kStatusPending;
    if (!usb->queueTransfer(pipeId, in, buffer, length, &own)) {
      CloseHandle(own.hEvent);
      return freedMeanwhile(function);
    }
    WaitForSingleObject(own.hEvent, INFINITE);
    CloseHandle(own.hEvent);
    *transferred = static_cast<ULONG>(own.InternalHigh);
    return own.Internal == 0 ? TRUE : failWith(errorForStatus(static_cast<DWORD>(own.Internal)));
  }
  if (record->hEvent == nullptr) {
    complain(function, "the OVERLAPPED has no event to signal");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  if (usb->recordPending(record)) {
    complain(function, "the OVERLAPPED still carries a pending transfer");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  if (transferred != nullptr) *transferred = 0;
  record->Internal = kStatusPending;
  record->InternalHigh = 0;
  ResetEvent(record->hEvent);  // as the I/O manager does when it starts a request
  if (!usb->queueTransfer(pipeId, in, buffer, length, record)) return freedMeanwhile(function);
  return failWith(ERROR_IO_PENDING);
}

// Pending transfers of the pipe end at once; then `call` runs on the world's device, waited for
// unless `wait` is false (an abort must not wait behind the transfer it ends).
BOOL endAndRun(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, const char* function, bool wait,
               bool (UsbDevice::*call)(std::uint8_t, std::uint32_t&)) {
  auto usb = interfaceOf(handle, function);
  if (!usb || !knownPipe(*usb, pipeId, function)) return FALSE;
  usb->endPending(pipeId, false, ERROR_OPERATION_ABORTED);
  if (!wait) {
    usb->runLater([pipeId, call](UsbDevice& device) {
      std::uint32_t ignored = 0;
      (device.*call)(pipeId, ignored);
    });
    return TRUE;
  }
  bool ok = false;
  std::uint32_t error = 0;
  if (!usb->runNow([&](UsbDevice& device) { ok = (device.*call)(pipeId, error); }))
    return freedMeanwhile(function);
  return ok ? TRUE : failWith(error);
}

}  // namespace
}  // namespace tw::devices

using namespace tw::devices;

extern "C" {

__declspec(dllexport) BOOL WINAPI WinUsb_Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE out) {
  if (out == nullptr) {
    complain("WinUsb_Initialize", "no place for the interface handle");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  *out = nullptr;
  const std::string path = worldPathOf(file);
  if (path.empty()) {
    complain("WinUsb_Initialize", "the handle is not an open USB device");
    return failWith(ERROR_INVALID_HANDLE);
  }
  if (!openedOverlapped(file)) {
    complain("WinUsb_Initialize", "the device was opened without FILE_FLAG_OVERLAPPED");
    return failWith(ERROR_INVALID_HANDLE);
  }
  if (deviceGone(file)) return failWith(ERROR_DEVICE_NOT_CONNECTED);
  tw::UsbOpenStep step = tw::UsbOpenStep::Open;
  std::uint32_t error = 0;
  std::unique_ptr<tw::UsbDevice> device = world().usb().open(path, step, error);
  if (!device) return failWith(error);
  auto usb = std::make_shared<UsbInterface>(path, file, std::move(device));
  usb->start();
  *out = addInterface(usb);
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE handle) {
  std::shared_ptr<UsbInterface> usb = removeInterface(handle);
  if (!usb) {
    complain("WinUsb_Free",
             handle == nullptr ? "a NULL interface handle" : "not a live handle (freed twice?)");
    return failWith(ERROR_INVALID_HANDLE);
  }
  usb->free();
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE handle, UCHAR alternateSetting,
                                  PUSB_INTERFACE_DESCRIPTOR out) {
  auto usb = interfaceOf(handle, "WinUsb_QueryInterfaceSettings");
  if (!usb) return FALSE;
  if (out == nullptr) {
    complain("WinUsb_QueryInterfaceSettings", "no descriptor to fill");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  bool ok = false;
  std::uint32_t error = 0;
  tw::UsbInterfaceDescriptor got;
  if (!usb->runNow([&](tw::UsbDevice& device) {
        ok = device.queryInterfaceSettings(alternateSetting, got, error);
      }))
    return freedMeanwhile("WinUsb_QueryInterfaceSettings");
  if (!ok) return failWith(error);
  *out = USB_INTERFACE_DESCRIPTOR{};
  out->bLength = sizeof *out;
  out->bDescriptorType = USB_INTERFACE_DESCRIPTOR_TYPE;
  out->bInterfaceNumber = got.interfaceNumber;
  out->bAlternateSetting = got.alternateSetting;
  out->bNumEndpoints = got.numEndpoints;
  out->bInterfaceClass = got.interfaceClass;
  out->bInterfaceSubClass = got.interfaceSubClass;
  out->bInterfaceProtocol = got.interfaceProtocol;
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR alternateSetting, UCHAR pipeIndex,
                     PWINUSB_PIPE_INFORMATION out) {
  auto usb = interfaceOf(handle, "WinUsb_QueryPipe");
  if (!usb) return FALSE;
  if (out == nullptr) {
    complain("WinUsb_QueryPipe", "no pipe information to fill");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  if (alternateSetting == usb->descriptor().alternateSetting &&
      pipeIndex >= usb->descriptor().numEndpoints) {
    complain("WinUsb_QueryPipe", "PipeIndex " + std::to_string(pipeIndex) +
                                     " is not below bNumEndpoints " +
                                     std::to_string(usb->descriptor().numEndpoints));
    return failWith(ERROR_NO_MORE_ITEMS);
  }
  bool ok = false;
  std::uint32_t error = 0;
  tw::UsbPipeInfo got;
  if (!usb->runNow([&](tw::UsbDevice& device) {
        ok = device.queryPipe(alternateSetting, pipeIndex, got, error);
      }))
    return freedMeanwhile("WinUsb_QueryPipe");
  if (!ok) return failWith(error);
  *out = WINUSB_PIPE_INFORMATION{};
  switch (got.type) {
    case tw::UsbPipeType::Control:
      out->PipeType = UsbdPipeTypeControl;
      break;
    case tw::UsbPipeType::Isochronous:
      out->PipeType = UsbdPipeTypeIsochronous;
      break;
    case tw::UsbPipeType::Bulk:
      out->PipeType = UsbdPipeTypeBulk;
      break;
    case tw::UsbPipeType::Interrupt:
      out->PipeType = UsbdPipeTypeInterrupt;
      break;
  }
  out->PipeId = got.pipeId;
  out->MaximumPacketSize = got.maximumPacketSize;
  out->Interval = got.interval;
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    WinUsb_GetPipePolicy(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, ULONG policy,
                         PULONG valueLength, PVOID value) {
  const char* function = "WinUsb_GetPipePolicy";
  auto usb = interfaceOf(handle, function);
  if (!usb || !knownPipe(*usb, pipeId, function)) return FALSE;
  if (valueLength == nullptr) {
    complain(function, "no ValueLength");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  const ULONG size = checkedPolicySize(function, policy, *valueLength, value, false);
  if (size == 0) return failWith(ERROR_INVALID_PARAMETER);
  bool ok = false;
  std::uint32_t got = 0, error = 0;
  if (!usb->runNow([&](tw::UsbDevice& device) {
        ok = device.getPipePolicy(pipeId, static_cast<tw::UsbPipePolicy>(policy), got, error);
      }))
    return freedMeanwhile(function);
  if (!ok) return failWith(error);
  if (size == sizeof(UCHAR))
    *static_cast<UCHAR*>(value) = got != 0 ? 1 : 0;
  else
    *static_cast<ULONG*>(value) = got;
  *valueLength = size;
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    WinUsb_SetPipePolicy(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, ULONG policy,
                         ULONG valueLength, PVOID value) {
  const char* function = "WinUsb_SetPipePolicy";
  auto usb = interfaceOf(handle, function);
  if (!usb || !knownPipe(*usb, pipeId, function)) return FALSE;
  if (policy == MAXIMUM_TRANSFER_SIZE) {
    complain(function, "MAXIMUM_TRANSFER_SIZE is read-only");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  const ULONG size = checkedPolicySize(function, policy, valueLength, value, true);
  if (size == 0) return failWith(ERROR_INVALID_PARAMETER);
  const std::uint32_t number =
      size == sizeof(UCHAR) ? *static_cast<UCHAR*>(value) : *static_cast<ULONG*>(value);
  bool ok = false;
  std::uint32_t error = 0;
  if (!usb->runNow([&](tw::UsbDevice& device) {
        ok = device.setPipePolicy(pipeId, static_cast<tw::UsbPipePolicy>(policy), number, error);
      }))
    return freedMeanwhile(function);
  if (ok && policy == PIPE_TRANSFER_TIMEOUT) usb->noteTimeout(pipeId, number);
  return ok ? TRUE : failWith(error);
}

__declspec(dllexport) BOOL WINAPI
    WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, PUCHAR buffer, ULONG length,
                    PULONG transferred, LPOVERLAPPED record) {
  return startTransfer(handle, pipeId, buffer, length, transferred, record, true,
                       "WinUsb_ReadPipe");
}

__declspec(dllexport) BOOL WINAPI
    WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, PUCHAR buffer, ULONG length,
                     PULONG transferred, LPOVERLAPPED record) {
  return startTransfer(handle, pipeId, buffer, length, transferred, record, false,
                       "WinUsb_WritePipe");
}

__declspec(dllexport) BOOL WINAPI
    WinUsb_GetOverlappedResult(WINUSB_INTERFACE_HANDLE handle, LPOVERLAPPED record, LPDWORD bytes,
                               BOOL wait) {
  const char* function = "WinUsb_GetOverlappedResult";
  auto usb = interfaceOf(handle, function);
  if (!usb) return FALSE;
  if (record == nullptr || bytes == nullptr) {
    complain(function, "no OVERLAPPED or no place for the count");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  if (!usb->recordKnown(record)) {
    complain(function, "the OVERLAPPED never carried a transfer of this handle");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  if (record->Internal == kStatusPending) {
    if (!wait) return failWith(ERROR_IO_INCOMPLETE);
    WaitForSingleObject(record->hEvent, INFINITE);
  }
  *bytes = static_cast<DWORD>(record->InternalHigh);
  if (record->Internal != 0) return failWith(errorForStatus(static_cast<DWORD>(record->Internal)));
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    WinUsb_ControlTransfer(WINUSB_INTERFACE_HANDLE handle, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                           ULONG length, PULONG transferred, LPOVERLAPPED record) {
  const char* function = "WinUsb_ControlTransfer";
  auto usb = interfaceOf(handle, function);
  if (!usb) return FALSE;
  if (length < setup.Length || (buffer == nullptr && setup.Length > 0)) {
    complain(function, "the setup packet asks for " + std::to_string(setup.Length) +
                           " bytes; the buffer holds " +
                           std::to_string(buffer == nullptr ? 0 : length));
    return failWith(ERROR_INVALID_PARAMETER);
  }
  if (record == nullptr && transferred == nullptr) {
    complain(function, "a synchronous call needs LengthTransferred");
    return failWith(ERROR_INVALID_PARAMETER);
  }
  tw::UsbSetupPacket packet;
  packet.requestType = setup.RequestType;
  packet.request = setup.Request;
  packet.value = setup.Value;
  packet.index = setup.Index;
  packet.length = setup.Length;
  bool ok = false;
  std::uint32_t moved = 0, error = 0;
  if (!usb->runNow([&](tw::UsbDevice& device) {
        ok = device.controlTransfer(packet, buffer, moved, error);
      }))
    return freedMeanwhile(function);
  if (transferred != nullptr) *transferred = ok ? moved : 0;
  if (record == nullptr) return ok ? TRUE : failWith(error);
  // Overlapped: answered already, so the record completes before the call returns.
  record->InternalHigh = ok ? moved : 0;
  record->Internal = statusForError(ok ? ERROR_SUCCESS : error);
  if (record->hEvent != nullptr) SetEvent(record->hEvent);
  return ok ? TRUE : failWith(error);
}

__declspec(dllexport) BOOL WINAPI WinUsb_AbortPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId) {
  return endAndRun(handle, pipeId, "WinUsb_AbortPipe", false, &tw::UsbDevice::abortPipe);
}

__declspec(dllexport) BOOL WINAPI WinUsb_ResetPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId) {
  return endAndRun(handle, pipeId, "WinUsb_ResetPipe", true, &tw::UsbDevice::resetPipe);
}

}  // extern "C"
