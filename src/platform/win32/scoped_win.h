// One small owner per kind of Windows handle: closed on destruction, never copied.
#pragma once

#include <windows.h>
#include <setupapi.h>
// The HID class driver headers of MinGW-w64 declare C functions without extern "C".
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstdint>

namespace tw::win32 {

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
