// The functions of hid.dll the adapters call, answering for the world's HID devices through the
// handles the program opened on their pipes.
//
// Contract, from Microsoft's documentation of each function:
// - HidD_GetAttributes: fills HIDD_ATTRIBUTES (Size, VendorID, ProductID, VersionNumber).
// - HidD_GetPreparsedData / HidD_FreePreparsedData: the data belongs to the caller until freed,
//   once, by HidD_FreePreparsedData; any other pointer is not preparsed data.
// - HidP_GetCaps: HIDP_STATUS_INVALID_PREPARSED_DATA for a pointer that is not preparsed data.
// - HidP_GetValueCaps / HidP_GetButtonCaps: *Length holds the array's capacity on entry and the
//   count on return; HIDP_STATUS_INVALID_REPORT_TYPE for a wrong type.
// - HidD_GetFeature / HidD_SetFeature: byte 0 of the buffer is the report ID, nonzero in a
//   collection that uses report IDs (the world's devices all do); the buffer is at least
//   FeatureReportByteLength long. A removed device fails with
//   ERROR_DEVICE_NOT_CONNECTED.
#include <windows.h>

// The HID class driver headers of MinGW-w64 declare C functions without extern "C".
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device_pipes.h"
#include "device_world.h"

namespace tw::devices {
namespace {

constexpr std::uint32_t kPreparsedMagic = 0x54574850;  // "TWHP"

struct Preparsed {
  std::uint32_t magic = kPreparsedMagic;
  HidCaps caps;
  std::vector<std::uint8_t> featureIds;
};

std::mutex preparsedMutex;
std::set<Preparsed*> livePreparsed;

Preparsed* preparsed(PHIDP_PREPARSED_DATA data, const char* function) {
  auto* candidate = reinterpret_cast<Preparsed*>(data);
  std::lock_guard<std::mutex> lock(preparsedMutex);
  if (livePreparsed.count(candidate) == 0) {
    complain(function, "not preparsed data from HidD_GetPreparsedData (or freed already)");
    return nullptr;
  }
  return candidate;
}

// The world's device behind a handle the program opened, for one call. A handle that is not one
// of ours is our bug; a device that has gone answers as a removed device does.
std::unique_ptr<HidDevice> deviceOf(HANDLE handle, const char* function) {
  const std::string path = worldPathOf(handle);
  if (path.empty()) {
    complain(function, "the handle is not an open HID device");
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::unique_ptr<HidDevice> device;
  if (!deviceGone(handle)) device = world().hid().open(path, HidAccess::None, false);
  if (!device) SetLastError(ERROR_DEVICE_NOT_CONNECTED);
  return device;
}

// The device for a feature report call whose buffer keeps the documented rules.
std::unique_ptr<HidDevice> featureDevice(HANDLE handle, const void* buffer, ULONG length,
                                         const char* function) {
  auto device = deviceOf(handle, function);
  if (!device) return nullptr;
  if (length == 0 || static_cast<const std::uint8_t*>(buffer)[0] == 0) {
    complain(function, "byte 0 must hold the report ID, and these devices number their reports");
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HidCaps caps;
  if (device->getCaps(caps) && length < caps.featureReportByteLength) {
    complain(function, "a buffer of " + std::to_string(length) +
                           " bytes; the feature report needs " +
                           std::to_string(caps.featureReportByteLength));
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return device;
}

}  // namespace
}  // namespace tw::devices

using namespace tw::devices;

extern "C" {

__declspec(dllexport) void WINAPI HidD_GetHidGuid(LPGUID guid) {
  *guid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

__declspec(dllexport) BOOLEAN WINAPI
    HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  auto device = deviceOf(handle, "HidD_GetAttributes");
  tw::HidAttributes got;
  if (!device || !device->getAttributes(got)) return FALSE;
  attributes->Size = sizeof *attributes;
  attributes->VendorID = got.vendorId;
  attributes->ProductID = got.productId;
  attributes->VersionNumber = got.versionNumber;
  return TRUE;
}

__declspec(dllexport) BOOLEAN WINAPI
    HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* data) {
  auto device = deviceOf(handle, "HidD_GetPreparsedData");
  auto made = std::make_unique<Preparsed>();
  if (!device || !device->getCaps(made->caps) || !device->getFeatureReportIds(made->featureIds))
    return FALSE;
  std::lock_guard<std::mutex> lock(preparsedMutex);
  livePreparsed.insert(made.get());
  *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(made.release());
  return TRUE;
}

__declspec(dllexport) BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  Preparsed* freed = preparsed(data, "HidD_FreePreparsedData");
  if (freed == nullptr) return FALSE;
  {
    std::lock_guard<std::mutex> lock(preparsedMutex);
    livePreparsed.erase(freed);
  }
  delete freed;
  return TRUE;
}

__declspec(dllexport) NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
  Preparsed* parsed = preparsed(data, "HidP_GetCaps");
  if (parsed == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  *caps = HIDP_CAPS{};
  caps->Usage = parsed->caps.usage;
  caps->UsagePage = parsed->caps.usagePage;
  caps->InputReportByteLength = parsed->caps.inputReportByteLength;
  caps->OutputReportByteLength = parsed->caps.outputReportByteLength;
  caps->FeatureReportByteLength = parsed->caps.featureReportByteLength;
  // The world's feature reports are value items, one per report ID.
  caps->NumberFeatureValueCaps = static_cast<USHORT>(parsed->featureIds.size());
  return HIDP_STATUS_SUCCESS;
}

__declspec(dllexport) NTSTATUS WINAPI
    HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS values, PUSHORT length,
                      PHIDP_PREPARSED_DATA data) {
  Preparsed* parsed = preparsed(data, "HidP_GetValueCaps");
  if (parsed == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  if (type != HidP_Input && type != HidP_Output && type != HidP_Feature)
    return HIDP_STATUS_INVALID_REPORT_TYPE;
  if (type != HidP_Feature) {
    *length = 0;
    return HIDP_STATUS_USAGE_NOT_FOUND;
  }
  const USHORT total = static_cast<USHORT>(parsed->featureIds.size());
  const USHORT filled = std::min(*length, total);
  for (USHORT i = 0; i < filled; ++i) {
    values[i] = HIDP_VALUE_CAPS{};
    values[i].UsagePage = 0xff00;
    values[i].ReportID = parsed->featureIds[i];
    values[i].ReportCount = 1;
    values[i].BitSize = 8;
  }
  *length = filled;
  return filled < total ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

__declspec(dllexport) NTSTATUS WINAPI
    HidP_GetButtonCaps(HIDP_REPORT_TYPE type, PHIDP_BUTTON_CAPS, PUSHORT length,
                       PHIDP_PREPARSED_DATA data) {
  Preparsed* parsed = preparsed(data, "HidP_GetButtonCaps");
  if (parsed == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  if (type != HidP_Input && type != HidP_Output && type != HidP_Feature)
    return HIDP_STATUS_INVALID_REPORT_TYPE;
  *length = 0;  // HidP_GetCaps counts no button items
  return HIDP_STATUS_USAGE_NOT_FOUND;
}

__declspec(dllexport) BOOLEAN WINAPI HidD_GetFeature(HANDLE handle, PVOID buffer, ULONG length) {
  auto device = featureDevice(handle, buffer, length, "HidD_GetFeature");
  if (!device) return FALSE;
  if (!device->getFeature(static_cast<std::uint8_t*>(buffer), length)) {
    SetLastError(ERROR_GEN_FAILURE);  // the device stalled the request
    return FALSE;
  }
  return TRUE;
}

__declspec(dllexport) BOOLEAN WINAPI HidD_SetFeature(HANDLE handle, PVOID buffer, ULONG length) {
  auto device = featureDevice(handle, buffer, length, "HidD_SetFeature");
  if (!device) return FALSE;
  if (!device->setFeature(static_cast<const std::uint8_t*>(buffer), length)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
