// The device-interface functions of setupapi.dll and the two configuration-manager calls the
// adapters use, answering for the world's HID and USB interfaces. Lists of any other kind, and
// every other export, are Wine's own (setupapi_wine.dll).
//
// Contract, from Microsoft's documentation of each function:
// - SetupDiGetClassDevsW: with DIGCF_DEVICEINTERFACE the class GUID names an interface class;
//   a NULL GUID needs DIGCF_ALLCLASSES. Fails with INVALID_HANDLE_VALUE.
// - SetupDiEnumDeviceInterfaces: DeviceInterfaceData->cbSize must be
//   sizeof(SP_DEVICE_INTERFACE_DATA) (else ERROR_INVALID_USER_BUFFER); past the last member it
//   fails with ERROR_NO_MORE_ITEMS.
// - SetupDiGetDeviceInterfaceDetailW: called first with no buffer and size 0 to learn the
//   required size (fails with ERROR_INSUFFICIENT_BUFFER); a buffer needs cbSize =
//   sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) (else ERROR_INVALID_USER_BUFFER), a NULL buffer
//   with a nonzero size is ERROR_INVALID_USER_BUFFER. The optional SP_DEVINFO_DATA needs its
//   cbSize set too.
// - SetupDiDestroyDeviceInfoList: the list must be one SetupDiGetClassDevs made, destroyed once.
// - CM_Get_Parent, CM_Get_Device_IDW: ulFlags must be zero (CR_INVALID_FLAG); the ID's buffer
//   length is in characters, with room for the terminator, else CR_BUFFER_SMALL.
// Defining these says we implement the functions rather than import them.
#define _SETUPAPI_
#define _CFGMGR32_
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device_pipes.h"
#include "device_world.h"
#include "hid_connection.h"
#include "platform/win32/utf16.h"

namespace tw::devices {
namespace {

constexpr GUID kHidGuid = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr std::uint32_t kListMagic = 0x54574c53;  // "TWLS"
// Our device nodes, far from the small numbers Wine gives its own.
constexpr DEVINST kFirstNode = 0x7e000000;
constexpr std::size_t kMaxUsbEntries = 64;

struct InterfaceList {
  std::uint32_t magic = kListMagic;
  GUID classGuid{};
  std::vector<std::string> paths;  // as the program sees them: pipe paths
  std::vector<DEVINST> nodes;
};

std::mutex tableMutex;
std::set<InterfaceList*> liveLists;
std::map<DEVINST, DEVINST> parents;        // interface node -> parent node
std::map<DEVINST, std::string> deviceIds;  // node -> device ID
DEVINST nextNode = kFirstNode;

template <typename F>
F wineFunction(const char* name) {
  static HMODULE wine = LoadLibraryW(L"setupapi_wine.dll");
  return wine ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(wine, name))) : nullptr;
}

std::string guidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

InterfaceList* ours(HDEVINFO set) {
  auto* list = static_cast<InterfaceList*>(set);
  std::lock_guard<std::mutex> lock(tableMutex);
  return liveLists.count(list) != 0 ? list : nullptr;
}

DEVINST newNode(const std::string& deviceId) {
  DEVINST node = nextNode++;
  deviceIds[node] = deviceId;
  return node;
}

// The world's interfaces of the class, each with a pipe listening for the program's open.
bool listWorld(const GUID& classGuid, InterfaceList& list) {
  sim::World& w = world();
  if (IsEqualGUID(classGuid, kHidGuid)) {
    noteHidListing();
    std::vector<std::string> paths;
    if (!w.hid().listInterfaces(paths)) return false;
    const std::string vanishing = takeVanishRequest() ? w.donglePath() : std::string();
    if (!vanishing.empty()) {
      w.unplugDongle();
      waitUntilClosed(vanishing, 1000);
    }
    for (const std::string& path : paths) {
      if (path != vanishing) serveHidInterface(path);
      std::lock_guard<std::mutex> lock(tableMutex);
      list.paths.push_back(pipePathFor(path));
      list.nodes.push_back(newNode(path));
    }
    return true;
  }
  std::vector<UsbInterfaceEntry> entries;
  if (!w.usb().listInterfaces(guidText(classGuid), kMaxUsbEntries, entries)) return false;
  for (const UsbInterfaceEntry& entry : entries) {
    serveUsbInterface(entry.path);
    std::lock_guard<std::mutex> lock(tableMutex);
    list.paths.push_back(pipePathFor(entry.path));
    DEVINST node = newNode(entry.path);
    parents[node] = newNode(entry.parentId);
    list.nodes.push_back(node);
  }
  return true;
}

}  // namespace
}  // namespace tw::devices

using namespace tw::devices;

extern "C" {

__declspec(dllexport) HDEVINFO WINAPI
    SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags) {
  using Real = HDEVINFO(WINAPI*)(const GUID*, PCWSTR, HWND, DWORD);
  if (!active() || !(flags & DIGCF_DEVICEINTERFACE) || classGuid == nullptr ||
      (flags & DIGCF_ALLCLASSES)) {
    if ((flags & DIGCF_DEVICEINTERFACE) && classGuid == nullptr && !(flags & DIGCF_ALLCLASSES))
      complain("SetupDiGetClassDevsW", "a NULL interface class needs DIGCF_ALLCLASSES");
    Real real = wineFunction<Real>("SetupDiGetClassDevsW");
    return real ? real(classGuid, enumerator, parent, flags) : INVALID_HANDLE_VALUE;
  }
  if (!(flags & DIGCF_PRESENT))
    complain("SetupDiGetClassDevsW",
             "listing interfaces without DIGCF_PRESENT includes removed ones");
  auto* list = new InterfaceList;
  list->classGuid = *classGuid;
  if (!listWorld(*classGuid, *list)) {
    delete list;
    SetLastError(ERROR_INVALID_DATA);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> lock(tableMutex);
  liveLists.insert(list);
  return list;
}

__declspec(dllexport) BOOL WINAPI
    SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* classGuid,
                                DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
  InterfaceList* list = ours(set);
  if (list == nullptr) {
    using Real =
        BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
    Real real = wineFunction<Real>("SetupDiEnumDeviceInterfaces");
    return real ? real(set, info, classGuid, index, data) : FALSE;
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    complain("SetupDiEnumDeviceInterfaces", "DeviceInterfaceData->cbSize is not set");
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (classGuid == nullptr || !IsEqualGUID(*classGuid, list->classGuid)) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  if (index >= list->paths.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->InterfaceClassGuid = list->classGuid;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = index + 1;  // which member, for the detail call
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                     PDWORD requiredSize, PSP_DEVINFO_DATA info) {
  InterfaceList* list = ours(set);
  if (list == nullptr) {
    using Real = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                               PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD, PDWORD, PSP_DEVINFO_DATA);
    Real real = wineFunction<Real>("SetupDiGetDeviceInterfaceDetailW");
    return real ? real(set, data, detail, detailSize, requiredSize, info) : FALSE;
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
      data->Reserved > list->paths.size()) {
    complain("SetupDiGetDeviceInterfaceDetailW", "the interface data is not one this list gave");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::size_t member = data->Reserved - 1;
  const std::wstring path = tw::win32::toUtf16(list->paths[member]);
  const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                          (path.size() + 1) * sizeof(wchar_t));
  if (requiredSize != nullptr) *requiredSize = needed;
  if (detail == nullptr) {
    if (detailSize != 0) {
      complain("SetupDiGetDeviceInterfaceDetailW", "no buffer but a nonzero size");
      SetLastError(ERROR_INVALID_USER_BUFFER);
    } else {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
    }
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    complain("SetupDiGetDeviceInterfaceDetailW",
             "DeviceInterfaceDetailData->cbSize must be sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W), "
             "not the buffer's size");
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (detailSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (info != nullptr) {
    if (info->cbSize != sizeof(SP_DEVINFO_DATA)) {
      complain("SetupDiGetDeviceInterfaceDetailW", "DeviceInfoData->cbSize is not set");
      SetLastError(ERROR_INVALID_USER_BUFFER);
      return FALSE;
    }
    info->ClassGuid = list->classGuid;
    info->DevInst = list->nodes[member];
    info->Reserved = 0;
  }
  std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  InterfaceList* list = ours(set);
  if (list == nullptr) {
    using Real = BOOL(WINAPI*)(HDEVINFO);
    Real real = wineFunction<Real>("SetupDiDestroyDeviceInfoList");
    return real ? real(set) : FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    liveLists.erase(list);
  }
  delete list;
  return TRUE;
}

__declspec(dllexport) CONFIGRET WINAPI CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags) {
  if (node < kFirstNode) {
    using Real = CONFIGRET(WINAPI*)(PDEVINST, DEVINST, ULONG);
    Real real = wineFunction<Real>("CM_Get_Parent");
    return real ? real(parent, node, flags) : CR_FAILURE;
  }
  if (flags != 0) {
    complain("CM_Get_Parent", "ulFlags must be zero");
    return CR_INVALID_FLAG;
  }
  if (parent == nullptr) return CR_INVALID_POINTER;
  std::lock_guard<std::mutex> lock(tableMutex);
  auto found = parents.find(node);
  if (found == parents.end()) return CR_NO_SUCH_DEVNODE;
  *parent = found->second;
  return CR_SUCCESS;
}

__declspec(dllexport) CONFIGRET WINAPI
    CM_Get_Device_IDW(DEVINST node, PWSTR buffer, ULONG length, ULONG flags) {
  if (node < kFirstNode) {
    using Real = CONFIGRET(WINAPI*)(DEVINST, PWSTR, ULONG, ULONG);
    Real real = wineFunction<Real>("CM_Get_Device_IDW");
    return real ? real(node, buffer, length, flags) : CR_FAILURE;
  }
  if (flags != 0) {
    complain("CM_Get_Device_IDW", "ulFlags must be zero");
    return CR_INVALID_FLAG;
  }
  if (buffer == nullptr) return CR_INVALID_POINTER;
  std::wstring id;
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    auto found = deviceIds.find(node);
    if (found == deviceIds.end()) return CR_NO_SUCH_DEVNODE;
    id = tw::win32::toUtf16(found->second);
  }
  // As much as fits, terminated only when the whole ID does.
  const std::size_t copied = std::min<std::size_t>(id.size(), length);
  std::memcpy(buffer, id.data(), copied * sizeof(wchar_t));
  if (id.size() + 1 > length) return CR_BUFFER_SMALL;
  buffer[id.size()] = L'\0';
  return CR_SUCCESS;
}

}  // extern "C"
