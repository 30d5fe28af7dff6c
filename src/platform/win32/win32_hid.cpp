#include "platform/win32/win32_hid.h"

#include <cstring>
#include <new>

#include "platform/win32/scoped_win.h"
#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

// How long a cancelled output write may take to land before we stop waiting for it.
constexpr DWORD kWriteCancelWaitMs = 200;

// One overlapped transfer with its own event and bounce buffer. The buffer and the OVERLAPPED
// record belong to the device, not to the caller: a cancel that has not landed when we stop
// waiting leaves the driver still owning them, and they must outlive the caller's buffer. Such a
// transfer is reaped before the next one starts, or when the device closes.
class OverlappedTransfer {
 public:
  ~OverlappedTransfer() { delete[] buffer_; }

  bool prepare(std::size_t length) {
    if (!event_.valid()) event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event_.valid()) return false;
    if (capacity_ < length) {
      std::uint8_t* grown = new (std::nothrow) std::uint8_t[length];
      if (grown == nullptr) return false;
      delete[] buffer_;
      buffer_ = grown;
      capacity_ = length;
    }
    std::memset(&overlapped_, 0, sizeof overlapped_);
    overlapped_.hEvent = event_.get();
    ResetEvent(event_.get());
    return true;
  }

  // A transfer left in flight by an earlier cancel must have landed before the record is reused.
  bool reapEarlier(HANDLE device, DWORD waitMs) {
    if (!inFlight_) return true;
    if (WaitForSingleObject(event_.get(), waitMs) != WAIT_OBJECT_0) return false;
    DWORD ignored = 0;
    GetOverlappedResult(device, &overlapped_, &ignored, FALSE);
    inFlight_ = false;
    return true;
  }

  // After a start that returned FALSE: the outcome of the bounded wait and cancel.
  enum class Outcome { Done, TimedOut, Failed };
  Outcome finish(HANDLE device, DWORD waitMs, DWORD cancelWaitMs, DWORD& bytes) {
    bytes = 0;
    if (GetLastError() != ERROR_IO_PENDING) return Outcome::Failed;
    if (WaitForSingleObject(event_.get(), waitMs) == WAIT_OBJECT_0)
      return GetOverlappedResult(device, &overlapped_, &bytes, FALSE) ? Outcome::Done
                                                                      : Outcome::Failed;
    CancelIo(device);
    if (WaitForSingleObject(event_.get(), cancelWaitMs) == WAIT_OBJECT_0) {
      DWORD ignored = 0;
      GetOverlappedResult(device, &overlapped_, &ignored, FALSE);
    } else {
      inFlight_ = true;
    }
    return Outcome::TimedOut;
  }

  // A start that returned TRUE finished at once; the count comes from the record.
  bool finishedAtOnce(HANDLE device, DWORD& bytes) {
    return GetOverlappedResult(device, &overlapped_, &bytes, FALSE) != FALSE;
  }

  // On close: the driver must be done with the record before it is freed.
  void drain(HANDLE device) {
    if (!inFlight_) return;
    CancelIoEx(device, &overlapped_);
    DWORD ignored = 0;
    GetOverlappedResult(device, &overlapped_, &ignored, TRUE);
    inFlight_ = false;
  }

  std::uint8_t* buffer() { return buffer_; }
  OVERLAPPED* record() { return &overlapped_; }

 private:
  ScopedHandle event_;
  OVERLAPPED overlapped_{};
  std::uint8_t* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  bool inFlight_ = false;
};

// One open HID interface. Each user (a poll, a request, an input stream) opens its own, so the
// object is used by one thread at a time.
class Win32HidDevice : public HidDevice {
 public:
  Win32HidDevice(HANDLE handle, bool overlapped) : handle_(handle), overlapped_(overlapped) {}
  ~Win32HidDevice() override {
    read_.drain(handle_.get());
    write_.drain(handle_.get());
  }

  bool getAttributes(HidAttributes& out) override {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(handle_.get(), &attributes)) return false;
    out.vendorId = attributes.VendorID;
    out.productId = attributes.ProductID;
    out.versionNumber = attributes.VersionNumber;
    return true;
  }

  bool getCaps(HidCaps& out) override {
    out = HidCaps{};
    ScopedPreparsedData data;
    if (!data.read(handle_.get())) return false;
    HIDP_CAPS caps{};
    if (HidP_GetCaps(data.get(), &caps) != HIDP_STATUS_SUCCESS) return false;
    out.usage = caps.Usage;
    out.usagePage = caps.UsagePage;
    out.inputReportByteLength = caps.InputReportByteLength;
    out.outputReportByteLength = caps.OutputReportByteLength;
    out.featureReportByteLength = caps.FeatureReportByteLength;
    return true;
  }

  // Value items first, then button items; a failure part-way leaves the ids gathered so far.
  bool getFeatureReportIds(std::vector<std::uint8_t>& ids) override {
    ids.clear();
    ScopedPreparsedData data;
    if (!data.read(handle_.get())) return false;
    HIDP_CAPS caps{};
    if (HidP_GetCaps(data.get(), &caps) != HIDP_STATUS_SUCCESS) return false;
    if (caps.NumberFeatureValueCaps > 0) {
      USHORT count = caps.NumberFeatureValueCaps;
      HIDP_VALUE_CAPS* values = new (std::nothrow) HIDP_VALUE_CAPS[count];
      if (values == nullptr) return false;
      const bool ok =
          HidP_GetValueCaps(HidP_Feature, values, &count, data.get()) == HIDP_STATUS_SUCCESS;
      if (ok)
        for (USHORT i = 0; i < count; ++i) ids.push_back(values[i].ReportID);
      delete[] values;
      if (!ok) return false;
    }
    if (caps.NumberFeatureButtonCaps > 0) {
      USHORT count = caps.NumberFeatureButtonCaps;
      HIDP_BUTTON_CAPS* buttons = new (std::nothrow) HIDP_BUTTON_CAPS[count];
      if (buttons == nullptr) return false;
      const bool ok =
          HidP_GetButtonCaps(HidP_Feature, buttons, &count, data.get()) == HIDP_STATUS_SUCCESS;
      if (ok)
        for (USHORT i = 0; i < count; ++i) ids.push_back(buttons[i].ReportID);
      delete[] buttons;
      if (!ok) return false;
    }
    return true;
  }

  bool getFeature(std::uint8_t* buffer, std::size_t length) override {
    return HidD_GetFeature(handle_.get(), buffer, static_cast<ULONG>(length)) != FALSE;
  }

  bool setFeature(const std::uint8_t* buffer, std::size_t length) override {
    // The driver does not write through the pointer; the API just isn't const-correct.
    return HidD_SetFeature(handle_.get(), const_cast<std::uint8_t*>(buffer),
                           static_cast<ULONG>(length)) != FALSE;
  }

  InputReadResult readInput(std::uint8_t* buffer, std::size_t length, std::uint32_t waitMs,
                            std::uint32_t cancelWaitMs) override {
    InputReadResult result;
    // A handle opened without FILE_FLAG_OVERLAPPED would block in ReadFile with no bound.
    if (!overlapped_ || length == 0) return result;
    if (!read_.reapEarlier(handle_.get(), cancelWaitMs)) return result;
    if (!read_.prepare(length)) return result;
    DWORD bytes = 0;
    if (ReadFile(handle_.get(), read_.buffer(), static_cast<DWORD>(length), nullptr,
                 read_.record())) {
      if (!read_.finishedAtOnce(handle_.get(), bytes)) return result;
    } else {
      switch (read_.finish(handle_.get(), waitMs, cancelWaitMs, bytes)) {
        case OverlappedTransfer::Outcome::Done:
          break;
        case OverlappedTransfer::Outcome::TimedOut:
          result.outcome = InputReadResult::Outcome::TimedOut;
          return result;
        case OverlappedTransfer::Outcome::Failed:
          return result;
      }
    }
    if (bytes > length) bytes = static_cast<DWORD>(length);
    std::memcpy(buffer, read_.buffer(), bytes);
    result.outcome = InputReadResult::Outcome::Completed;
    result.bytes = bytes;
    return result;
  }

  bool writeOutput(const std::uint8_t* buffer, std::size_t length,
                   std::uint32_t timeoutMs) override {
    if (!overlapped_ || length == 0) return false;
    if (!write_.reapEarlier(handle_.get(), kWriteCancelWaitMs)) return false;
    if (!write_.prepare(length)) return false;
    std::memcpy(write_.buffer(), buffer, length);
    if (WriteFile(handle_.get(), write_.buffer(), static_cast<DWORD>(length), nullptr,
                  write_.record()))
      return true;
    DWORD bytes = 0;
    return write_.finish(handle_.get(), timeoutMs, kWriteCancelWaitMs, bytes) ==
           OverlappedTransfer::Outcome::Done;
  }

 private:
  ScopedHandle handle_;
  bool overlapped_;
  OverlappedTransfer read_;
  OverlappedTransfer write_;
};

}  // namespace

bool Win32HidPort::listInterfaces(std::vector<std::string>& paths) {
  paths.clear();
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  ScopedDevInfo list(
      SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!list.valid()) return false;
  SP_DEVICE_INTERFACE_DATA interface {};
  interface.cbSize = sizeof interface;
  for (DWORD index = 0;
       SetupDiEnumDeviceInterfaces(list.get(), nullptr, &hidGuid, index, &interface); ++index) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(list.get(), &interface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    // Over-aligned storage: the detail record starts with a DWORD and is read as such.
    DWORD* storage = new (std::nothrow) DWORD[(size + sizeof(DWORD) - 1) / sizeof(DWORD)];
    if (storage == nullptr) continue;
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (SetupDiGetDeviceInterfaceDetailW(list.get(), &interface, detail, size, nullptr, nullptr))
      paths.push_back(toUtf8(detail->DevicePath));
    delete[] storage;
  }
  return true;
}

std::unique_ptr<HidDevice> Win32HidPort::open(const std::string& path, HidAccess access,
                                              bool overlapped) {
  DWORD desired = 0;
  if (access == HidAccess::Read) desired = GENERIC_READ;
  if (access == HidAccess::ReadWrite) desired = GENERIC_READ | GENERIC_WRITE;
  const std::wstring widePath = toUtf16(path);
  HANDLE handle =
      CreateFileW(widePath.c_str(), desired, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* device = new (std::nothrow) Win32HidDevice(handle, overlapped);
  if (device == nullptr) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::unique_ptr<HidDevice>(device);
}

}  // namespace tw::win32
