#include "tray_watch.h"

#include <windows.h>

#include <shellapi.h>

#include <cstring>
#include <map>
#include <mutex>

#include "platform/win32/utf16.h"

namespace tw::devices {
namespace {

using NotifyFunction = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW);
using LoadImageFunction = HANDLE(WINAPI*)(HINSTANCE, LPCWSTR, UINT, int, int, UINT);

NotifyFunction realNotify = nullptr;
LoadImageFunction realLoadImage = nullptr;
std::mutex watchMutex;
std::map<HICON, int> iconNumbers;  // icons the program loaded from its resources
int shownIcon = 0;                 // 0: no icon shown
std::string shownTip;
std::string balloons;

std::string field(const wchar_t* text, std::size_t capacity) {
  return win32::toUtf8(std::wstring(text, wcsnlen(text, capacity)));
}

HANDLE WINAPI watchedLoadImage(HINSTANCE module, LPCWSTR name, UINT type, int width, int height,
                               UINT flags) {
  HANDLE image = realLoadImage(module, name, type, width, height, flags);
  if (image != nullptr && type == IMAGE_ICON && IS_INTRESOURCE(name)) {
    std::lock_guard<std::mutex> lock(watchMutex);
    iconNumbers[static_cast<HICON>(image)] = static_cast<int>(reinterpret_cast<ULONG_PTR>(name));
  }
  return image;
}

BOOL WINAPI watchedNotify(DWORD message, PNOTIFYICONDATAW data) {
  {
    std::lock_guard<std::mutex> lock(watchMutex);
    if (message == NIM_DELETE) {
      shownIcon = 0;
      shownTip.clear();
    } else if (message == NIM_ADD || message == NIM_MODIFY) {
      if (data->uFlags & NIF_ICON) {
        auto found = iconNumbers.find(data->hIcon);
        shownIcon = found != iconNumbers.end() ? found->second : -1;
      }
      if (data->uFlags & NIF_TIP) shownTip = field(data->szTip, 128);
      if ((data->uFlags & NIF_INFO) && data->szInfo[0] != L'\0') {
        if (!balloons.empty()) balloons += " / ";
        balloons += field(data->szInfoTitle, 64) + ": " + field(data->szInfo, 256);
      }
    }
  }
  return realNotify(message, data);
}

// Replaces the main module's import of `function` from `dll`; returns what it pointed to.
void* patchImport(const char* dll, const char* function, void* replacement) {
  auto* base = reinterpret_cast<std::uint8_t*>(GetModuleHandleW(nullptr));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return nullptr;
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       entry->Name != 0; ++entry) {
    if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD old = 0;
      VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
      void* previous = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
      return previous;
    }
  }
  return nullptr;
}

}  // namespace

void watchTray() {
  static bool done = false;
  if (done) return;
  done = true;
  realLoadImage = reinterpret_cast<LoadImageFunction>(
      patchImport("USER32.dll", "LoadImageW", reinterpret_cast<void*>(&watchedLoadImage)));
  if (realLoadImage == nullptr) realLoadImage = &LoadImageW;
  realNotify = reinterpret_cast<NotifyFunction>(
      patchImport("SHELL32.dll", "Shell_NotifyIconW", reinterpret_cast<void*>(&watchedNotify)));
  if (realNotify == nullptr) realNotify = &Shell_NotifyIconW;
}

std::string trayShown() {
  std::lock_guard<std::mutex> lock(watchMutex);
  if (shownIcon == 0) return "hidden";
  return "icon " + std::to_string(shownIcon) + " | " + shownTip;
}

std::string trayBalloons() {
  std::lock_guard<std::mutex> lock(watchMutex);
  return balloons;
}

}  // namespace tw::devices
