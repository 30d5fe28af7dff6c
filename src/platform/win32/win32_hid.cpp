#include "platform/win32/win32_hid.h"

#include <cstring>
#include <new>

#include "platform/win32/overlapped_io.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

// How long a cancelled output write may take to land before we stop waiting for it.
constexpr DWORD kWriteCancelWaitMs = 200;

// Reports travel by plain overlapped file I/O on the HID interface.
class FileTransfer : public OverlappedCalls {
 public:
  enum class Direction { Read, Write };
  FileTransfer(HANDLE file, Direction direction) : file_(file), direction_(direction) {}
  BOOL start(std::uint8_t* buffer, DWORD length, OVERLAPPED* record) override {
    return direction_ == Direction::Read ? ReadFile(file_, buffer, length, nullptr, record)
                                         : WriteFile(file_, buffer, length, nullptr, record);
  }
  BOOL result(OVERLAPPED* record, DWORD& bytes) override {
    return GetOverlappedResult(file_, record, &bytes, FALSE);
  }
  // Only this transfer, whichever thread started it.
  void cancel(OVERLAPPED* record) override { CancelIoEx(file_, record); }

 private:
  HANDLE file_;
  Direction direction_;
};

// One open HID interface. Each user (a poll, a request, an input stream) opens its own, so the
// object is used by one thread at a time.
class Win32HidDevice : public HidDevice {
 public:
  Win32HidDevice(HANDLE handle, bool overlapped) : handle_(handle), overlapped_(overlapped) {}

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
      std::unique_ptr<HIDP_VALUE_CAPS[]> values = allocateArray<HIDP_VALUE_CAPS>(count);
      if (!values) return false;
      if (HidP_GetValueCaps(HidP_Feature, values.get(), &count, data.get()) != HIDP_STATUS_SUCCESS)
        return false;
      for (USHORT i = 0; i < count; ++i) ids.push_back(values[i].ReportID);
    }
    if (caps.NumberFeatureButtonCaps > 0) {
      USHORT count = caps.NumberFeatureButtonCaps;
      std::unique_ptr<HIDP_BUTTON_CAPS[]> buttons = allocateArray<HIDP_BUTTON_CAPS>(count);
      if (!buttons) return false;
      if (HidP_GetButtonCaps(HidP_Feature, buttons.get(), &count, data.get()) !=
          HIDP_STATUS_SUCCESS)
        return false;
      for (USHORT i = 0; i < count; ++i) ids.push_back(buttons[i].ReportID);
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
    std::uint8_t* bounce = read_.prepare(length, cancelWaitMs);
    if (bounce == nullptr) return result;
    FileTransfer reads(handle_.get(), FileTransfer::Direction::Read);
    DWORD bytes = 0;
    DWORD error = 0;
    switch (read_.run(reads, static_cast<DWORD>(length), waitMs, cancelWaitMs, bytes, error)) {
      case TransferOutcome::Done:
        break;
      case TransferOutcome::TimedOut:
        result.outcome = InputReadResult::Outcome::TimedOut;
        return result;
      case TransferOutcome::Failed:
        return result;
    }
    if (bytes > length) bytes = static_cast<DWORD>(length);
    std::memcpy(buffer, bounce, bytes);
    result.outcome = InputReadResult::Outcome::Completed;
    result.bytes = bytes;
    return result;
  }

  bool writeOutput(const std::uint8_t* buffer, std::size_t length,
                   std::uint32_t timeoutMs) override {
    if (!overlapped_ || length == 0) return false;
    std::uint8_t* bounce = write_.prepare(length, kWriteCancelWaitMs);
    if (bounce == nullptr) return false;
    std::memcpy(bounce, buffer, length);
    FileTransfer writes(handle_.get(), FileTransfer::Direction::Write);
    DWORD bytes = 0;
    DWORD error = 0;
    return write_.run(writes, static_cast<DWORD>(length), timeoutMs, kWriteCancelWaitMs, bytes,
                      error) == TransferOutcome::Done;
  }

 private:
  // Declared first, so closed last: a transfer still in the driver's hands is handed to the
  // thread pool before the file closes (closing it then cancels that transfer too).
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
    // DWORD storage keeps the record aligned for its leading DWORD.
    std::unique_ptr<DWORD[]> storage =
        allocateArray<DWORD>((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    if (!storage) continue;
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (SetupDiGetDeviceInterfaceDetailW(list.get(), &interface, detail, size, nullptr, nullptr))
      paths.push_back(toUtf8(detail->DevicePath));
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
  std::unique_ptr<HidDevice> device(new (std::nothrow) Win32HidDevice(handle, overlapped));
  if (!device) CloseHandle(handle);
  return device;
}

}  // namespace tw::win32
