#include "platform/win32/win32_registry_lookup.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <vector>

#include "platform/win32/utf16.h"

namespace tw::win32 {

bool Win32RegistryLookup::readDefaultText(RegistryHive hive, const std::string& subkey,
                                          std::size_t maxBytes, std::string& value) {
  HKEY root = hive == RegistryHive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, toUtf16(subkey).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  const std::size_t units = maxBytes / sizeof(wchar_t);
  std::vector<wchar_t> buffer(units + 1, L'\0');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(units * sizeof(wchar_t));
  const LONG status =
      RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return false;
  // A stored text need not carry its terminator; the spare unit keeps it terminated.
  buffer[std::min<std::size_t>(size / sizeof(wchar_t), units)] = L'\0';
  value = toUtf8(buffer.data());
  return true;
}

bool Win32RegistryLookup::associatedExecutable(const std::string& association,
                                               const std::string& verb, std::size_t maxChars,
                                               std::string& path) {
  std::vector<wchar_t> buffer(maxChars, L'\0');
  DWORD chars = static_cast<DWORD>(maxChars);
  if (AssocQueryStringW(0, ASSOCSTR_EXECUTABLE, toUtf16(association).c_str(), toUtf16(verb).c_str(),
                        buffer.data(), &chars) != S_OK) {
    return false;
  }
  buffer[maxChars - 1] = L'\0';
  path = toUtf8(buffer.data());
  return true;
}

}  // namespace tw::win32
