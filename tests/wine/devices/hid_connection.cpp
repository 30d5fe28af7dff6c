#include "hid_connection.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "device_pipes.h"
#include "device_world.h"
#include "sim/rp2350_board.h"
#include "usb_interface.h"

namespace tw::devices {
namespace {

// How long one turn waits for an input report before it looks at the program's writes again.
constexpr std::uint32_t kInputWaitMs = 10;
// How often a connection whose program reads nothing looks whether the device is still there.
constexpr DWORD kIdleCheckMs = 250;
constexpr std::size_t kLargestReport = 1024;
// How often a held USB handle looks whether its device is still on the bus.
constexpr DWORD kPresenceCheckMs = 20;
constexpr std::size_t kMaxUsbInterfaces = 16;

struct Transfer {
  OVERLAPPED record{};
  std::uint8_t buffer[kLargestReport];
  bool pending = false;
  Transfer() { record.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  ~Transfer() { CloseHandle(record.hEvent); }
  bool done() { return pending && WaitForSingleObject(record.hEvent, 0) == WAIT_OBJECT_0; }
};

// Starts an overlapped call; false when the pipe is broken.
bool start(BOOL started, Transfer& transfer) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  transfer.pending = true;
  return true;
}

void serveHid(const std::string& worldPath, HANDLE pipe) {
  std::unique_ptr<HidDevice> device = world().hid().open(worldPath, HidAccess::ReadWrite, true);
  HidCaps caps;
  if (!device || !device->getCaps(caps)) {
    std::fprintf(stderr, "[devices] an open of %s found the device gone\n", worldPath.c_str());
    return;
  }
  Transfer output, input;
  for (;;) {
    if (!output.pending &&
        !start(ReadFile(pipe, output.buffer, sizeof output.buffer, nullptr, &output.record),
               output))
      return;
    if (output.done()) {
      output.pending = false;
      DWORD bytes = 0;
      if (!GetOverlappedResult(pipe, &output.record, &bytes, FALSE)) return;  // program closed it
      if (bytes != caps.outputReportByteLength)
        complain("WriteFile", "an output report of " + std::to_string(bytes) +
                                  " bytes; the device's is " +
                                  std::to_string(caps.outputReportByteLength));
      else
        device->writeOutput(output.buffer, bytes, 0);
    }
    if (input.done()) {
      input.pending = false;
      DWORD bytes = 0;
      if (!GetOverlappedResult(pipe, &input.record, &bytes, FALSE)) return;
    }
    if (input.pending) {
      // The program is not reading: leave reports in the world's buffer, which keeps the newest
      // as the HID driver's ring buffer does, and sleep until it reads or writes.
      HANDLE events[] = {output.record.hEvent, input.record.hEvent};
      if (WaitForMultipleObjects(2, events, FALSE, kIdleCheckMs) == WAIT_TIMEOUT &&
          !world().hid().isPlugged(worldPath))
        return;
      continue;
    }
    InputReadResult read =
        device->readInput(input.buffer, caps.inputReportByteLength, kInputWaitMs, 0);
    if (read.outcome == InputReadResult::Outcome::Failed && !world().hid().isPlugged(worldPath))
      return;  // unplugged: closing our end fails the program's pending and later calls
    if (read.outcome != InputReadResult::Outcome::Completed) continue;
    if (!start(
            WriteFile(pipe, input.buffer, static_cast<DWORD>(read.bytes), nullptr, &input.record),
            input))
      return;
  }
}

// Whether the USB interface at the path is on the bus now, as the enumeration would list it.
bool usbPresent(const std::string& worldPath) {
  std::vector<UsbInterfaceEntry> entries;
  if (!world().usb().listInterfaces(sim::kPicobootInterfaceClass, kMaxUsbInterfaces, entries))
    return true;  // a failed look is no removal
  for (const UsbInterfaceEntry& entry : entries)
    if (entry.path == worldPath) return true;
  return false;
}

// Holds the program's handle open while the device is on the bus. When it leaves (unplugged,
// rebooted, dropped off by a fault) the pipe breaks, so the handle fails as a removed device's
// does, and the WinUSB transfers pending on it end now rather than at their time-outs.
void holdUsb(const std::string& worldPath, HANDLE pipe) {
  Transfer nothing;
  if (!start(ReadFile(pipe, nothing.buffer, sizeof nothing.buffer, nullptr, &nothing.record),
             nothing))
    return;
  for (;;) {
    if (WaitForSingleObject(nothing.record.hEvent, kPresenceCheckMs) == WAIT_OBJECT_0) {
      DWORD bytes = 0;
      if (GetOverlappedResult(pipe, &nothing.record, &bytes, FALSE))
        complain("WriteFile", "a WinUSB interface's file is written through WinUsb_WritePipe");
      return;  // the program closed its handle
    }
    if (!usbPresent(worldPath)) {
      CancelIoEx(pipe, &nothing.record);
      DWORD bytes = 0;
      GetOverlappedResult(pipe, &nothing.record, &bytes, TRUE);
      // The handle breaks before the transfers end, so a call made as they land already
      // meets a removed device.
      DisconnectNamedPipe(pipe);
      usbDeviceLeft(worldPath);
      return;
    }
  }
}

}  // namespace

void serveHidInterface(const std::string& worldPath) {
  keepListening(
      worldPath, [worldPath] { return world().hid().isPlugged(worldPath); },
      [worldPath](HANDLE pipe) { serveHid(worldPath, pipe); });
}

void serveUsbInterface(const std::string& worldPath) {
  keepListening(
      worldPath, [worldPath] { return usbPresent(worldPath); },
      [worldPath](HANDLE pipe) { holdUsb(worldPath, pipe); });
}

}  // namespace tw::devices
