// One small owner per kind of Windows handle: closed on destruction, never copied.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <winusb.h>
// The HID class driver headers of MinGW-w64 declare C functions without extern "C".
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace tw::win32 {

// A heap array for the adapters: null when memory runs out (that path is real), freed by its
// owner.
template <typename T>
std::unique_ptr<T[]> allocateArray(std::size_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// A kernel handle whose "none" value is INVALID_HANDLE_VALUE (files, devices) or null (events,
// mutexes, processes); both count as empty.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = nullptr) : h_(h) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  void reset(HANDLE h = nullptr) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }
  // Gives the handle up to another owner.
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }

 private:
  HANDLE h_;
};

class ScopedDevInfo {
 public:
  explicit ScopedDevInfo(HDEVINFO h) : h_(h) {}
  ~ScopedDevInfo() {
    if (valid()) SetupDiDestroyDeviceInfoList(h_);
  }
  ScopedDevInfo(const ScopedDevInfo&) = delete;
  ScopedDevInfo& operator=(const ScopedDevInfo&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HDEVINFO get() const { return h_; }

 private:
  HDEVINFO h_;
};

class ScopedWinUsb {
 public:
  explicit ScopedWinUsb(WINUSB_INTERFACE_HANDLE h = nullptr) : h_(h) {}
  ~ScopedWinUsb() {
    if (h_ != nullptr) WinUsb_Free(h_);
  }
  ScopedWinUsb(const ScopedWinUsb&) = delete;
  ScopedWinUsb& operator=(const ScopedWinUsb&) = delete;
  bool valid() const { return h_ != nullptr; }
  WINUSB_INTERFACE_HANDLE get() const { return h_; }
  WINUSB_INTERFACE_HANDLE release() {
    WINUSB_INTERFACE_HANDLE h = h_;
    h_ = nullptr;
    return h;
  }

 private:
  WINUSB_INTERFACE_HANDLE h_;
};

class ScopedPreparsedData {
 public:
  ScopedPreparsedData() = default;
  ~ScopedPreparsedData() {
    if (data_ != nullptr) HidD_FreePreparsedData(data_);
  }
  ScopedPreparsedData(const ScopedPreparsedData&) = delete;
  ScopedPreparsedData& operator=(const ScopedPreparsedData&) = delete;
  bool read(HANDLE device) { return HidD_GetPreparsedData(device, &data_) != FALSE; }
  PHIDP_PREPARSED_DATA get() const { return data_; }

 private:
  PHIDP_PREPARSED_DATA data_ = nullptr;
};

class ScopedMenu {
 public:
  explicit ScopedMenu(HMENU h) : h_(h) {}
  ~ScopedMenu() {
    if (h_ != nullptr) DestroyMenu(h_);
  }
  ScopedMenu(const ScopedMenu&) = delete;
  ScopedMenu& operator=(const ScopedMenu&) = delete;
  bool valid() const { return h_ != nullptr; }
  HMENU get() const { return h_; }

 private:
  HMENU h_;
};

class ScopedIcon {
 public:
  ScopedIcon() = default;
  ~ScopedIcon() { reset(); }
  ScopedIcon(const ScopedIcon&) = delete;
  ScopedIcon& operator=(const ScopedIcon&) = delete;
  HICON get() const { return h_; }
  void reset(HICON h = nullptr) {
    if (h_ != nullptr) DestroyIcon(h_);
    h_ = h;
  }

 private:
  HICON h_ = nullptr;
};

// The system holds windows and kernel objects as plain integers.
inline HWND toHwnd(std::uintptr_t id) {
  return reinterpret_cast<HWND>(id);
}
inline std::uintptr_t fromHwnd(HWND hwnd) {
  return reinterpret_cast<std::uintptr_t>(hwnd);
}
inline HANDLE toHandle(std::uintptr_t id) {
  return reinterpret_cast<HANDLE>(id);
}
inline std::uintptr_t fromHandle(HANDLE h) {
  return reinterpret_cast<std::uintptr_t>(h);
}

}  // namespace tw::win32
