// Breaks WinUSB's documented contract on purpose, one way per line, against the simulated board
// behind the stand-in winusb.dll (tools/wine_devices.py), so the Wine test can see each mistake
// refused with its documented error and reported as a "CONTRACT" line. It waits for a board in
// update mode first (the test plugs one in). Prints "<what>: <result> <error>" lines and "done".
#include <windows.h>

#include <setupapi.h>
#include <winusb.h>

#include <cstdio>
#include <string>

namespace {

const GUID kPicobootClass = {
    0xbc7398c1, 0x73cd, 0x4cb7, {0x98, 0xb8, 0x91, 0x3a, 0x8f, 0xca, 0x7b, 0xf6}};
constexpr UCHAR kIn = 0x84;
constexpr UCHAR kOut = 0x03;

std::wstring boardPath() {
  for (int attempt = 0; attempt < 200; ++attempt) {
    HDEVINFO list = SetupDiGetClassDevsW(&kPicobootClass, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA found{};
    found.cbSize = sizeof found;
    std::wstring path;
    if (list != INVALID_HANDLE_VALUE &&
        SetupDiEnumDeviceInterfaces(list, nullptr, &kPicobootClass, 0, &found)) {
      DWORD size = 0;
      SetupDiGetDeviceInterfaceDetailW(list, &found, nullptr, 0, &size, nullptr);
      std::string storage(size, '\0');
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
      detail->cbSize = sizeof *detail;
      if (SetupDiGetDeviceInterfaceDetailW(list, &found, detail, size, nullptr, nullptr))
        path = detail->DevicePath;
    }
    if (list != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(list);
    if (!path.empty()) return path;
    Sleep(100);
  }
  return {};
}

void report(const char* what, BOOL ok) {
  std::printf("%s: %s %lu\n", what, ok ? "ok" : "fail", ok ? 0ul : GetLastError());
  std::fflush(stdout);
}

HANDLE openBoard(const std::wstring& path, DWORD flags) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, flags, nullptr);
}

}  // namespace

int wmain() {
  const std::wstring path = boardPath();
  if (path.empty()) {
    std::printf("no board\n");
    return 1;
  }
  WINUSB_INTERFACE_HANDLE usb = nullptr;

  HANDLE plain = openBoard(path, FILE_ATTRIBUTE_NORMAL);
  report("initialize without overlapped", WinUsb_Initialize(plain, &usb));
  CloseHandle(plain);

  HANDLE file = openBoard(path, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED);
  report("open", file != INVALID_HANDLE_VALUE);
  report("initialize", WinUsb_Initialize(file, &usb));

  WINUSB_PIPE_INFORMATION pipe{};
  report("query pipe past the endpoints", WinUsb_QueryPipe(usb, 0, 2, &pipe));
  ULONG timeout = 0;
  report("set a ULONG policy with a UCHAR's size",
         WinUsb_SetPipePolicy(usb, kIn, PIPE_TRANSFER_TIMEOUT, sizeof(UCHAR), &timeout));
  report("set the read-only maximum transfer size",
         WinUsb_SetPipePolicy(usb, kIn, MAXIMUM_TRANSFER_SIZE, sizeof timeout, &timeout));
  UCHAR flag = 0;
  ULONG length = sizeof flag;
  report("get a ULONG policy into one byte",
         WinUsb_GetPipePolicy(usb, kIn, PIPE_TRANSFER_TIMEOUT, &length, &flag));
  report("policy of a pipe the interface lacks",
         WinUsb_SetPipePolicy(usb, 0x81, AUTO_CLEAR_STALL, sizeof flag, &flag));

  UCHAR buffer[64];
  OVERLAPPED record{};
  record.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  report("read from the OUT pipe", WinUsb_ReadPipe(usb, kOut, buffer, 64, nullptr, &record));

  // The board has nothing to say without a command: the read stays pending until aborted.
  report("read pending", WinUsb_ReadPipe(usb, kIn, buffer, 64, nullptr, &record));
  DWORD bytes = 0;
  report("result while pending", WinUsb_GetOverlappedResult(usb, &record, &bytes, FALSE));
  report("second read on a pending record",
         WinUsb_ReadPipe(usb, kIn, buffer, 64, nullptr, &record));
  report("abort", WinUsb_AbortPipe(usb, kIn));
  report("aborted read landed", WaitForSingleObject(record.hEvent, 2000) == WAIT_OBJECT_0);
  report("result of the aborted read", WinUsb_GetOverlappedResult(usb, &record, &bytes, FALSE));

  WINUSB_SETUP_PACKET status{0x82, 0x00, 0, kIn, 2};  // GET_STATUS of the IN endpoint
  report("control request bigger than its buffer",
         WinUsb_ControlTransfer(usb, status, buffer, 1, &length, nullptr));
  report("control request", WinUsb_ControlTransfer(usb, status, buffer, 2, &length, nullptr));

  report("free", WinUsb_Free(usb));
  report("use after free", WinUsb_AbortPipe(usb, kIn));
  report("free twice", WinUsb_Free(usb));
  CloseHandle(file);

  // The board leaves the bus (the test unplugs it once it reads the pending line): the pending
  // read ends, and new calls fail, as a removed device's do.
  file = openBoard(path, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED);
  report("initialize again", WinUsb_Initialize(file, &usb));
  report("read pending before removal", WinUsb_ReadPipe(usb, kIn, buffer, 64, nullptr, &record));
  report("pending read ended by removal",
         WaitForSingleObject(record.hEvent, 20000) == WAIT_OBJECT_0);
  report("result of the read", WinUsb_GetOverlappedResult(usb, &record, &bytes, FALSE));
  report("read after removal", WinUsb_ReadPipe(usb, kIn, buffer, 64, nullptr, &record));
  report("control request after removal",
         WinUsb_ControlTransfer(usb, status, buffer, 2, &length, nullptr));
  report("free after removal", WinUsb_Free(usb));
  CloseHandle(record.hEvent);
  CloseHandle(file);
  std::printf("done\n");
  return 0;
}
