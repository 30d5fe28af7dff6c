#include "platform/win32/win32_resources.h"

#include <windows.h>

namespace tw {

bool Win32Resources::loadRcData(int id, const std::uint8_t*& bytes, std::size_t& size) {
  // Resources of an image are mapped with it; nothing here needs releasing.
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(self, found);
  if (loaded == nullptr) return false;
  const void* locked = LockResource(loaded);
  DWORD length = SizeofResource(self, found);
  if (locked == nullptr) return false;
  bytes = static_cast<const std::uint8_t*>(locked);
  size = length;
  return true;
}

}  // namespace tw
