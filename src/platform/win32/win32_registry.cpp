#include "platform/win32/win32_registry.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <vector>

#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

HKEY rootOf(RegistryHive hive) {
  return hive == RegistryHive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// An empty name stands for the key's default value, which the calls take as null.
const wchar_t* valueName(const std::wstring& name) {
  return name.empty() ? nullptr : name.c_str();
}

bool failWith(LSTATUS status, std::uint32_t& error) {
  error = static_cast<std::uint32_t>(status);
  return false;
}

}  // namespace

bool Win32Registry::readDefaultText(RegistryHive hive, const std::string& subkey,
                                    std::size_t maxBytes, std::string& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(rootOf(hive), toUtf16(subkey).c_str(), 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
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

bool Win32Registry::associatedExecutable(const std::string& association, const std::string& verb,
                                         std::size_t maxChars, std::string& path) {
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

bool Win32Registry::readText(RegistryHive hive, const std::string& subkey, const std::string& name,
                             std::size_t maxBytes, std::string& value, std::uint32_t& error) {
  const std::wstring wideName = toUtf16(name);
  std::vector<wchar_t> buffer(maxBytes / sizeof(wchar_t) + 1, L'\0');
  DWORD size = static_cast<DWORD>(maxBytes);
  // RRF_RT_REG_SZ refuses other types and makes sure the text comes back terminated.
  const LSTATUS status = RegGetValueW(rootOf(hive), toUtf16(subkey).c_str(), valueName(wideName),
                                      RRF_RT_REG_SZ, nullptr, buffer.data(), &size);
  if (status != ERROR_SUCCESS) return failWith(status, error);
  value = toUtf8(buffer.data());
  return true;
}

bool Win32Registry::writeText(RegistryHive hive, const std::string& subkey, const std::string& name,
                              const std::string& value, std::uint32_t& error) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(rootOf(hive), toUtf16(subkey).c_str(), 0, nullptr, 0,
                                   KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return failWith(status, error);
  const std::wstring wideName = toUtf16(name);
  const std::wstring text = toUtf16(value);
  // The stored size counts the terminator.
  status = RegSetValueExW(key, valueName(wideName), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return failWith(status, error);
  return true;
}

bool Win32Registry::deleteValue(RegistryHive hive, const std::string& subkey,
                                const std::string& name, std::uint32_t& error) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(rootOf(hive), toUtf16(subkey).c_str(), 0, KEY_SET_VALUE, &key);
  if (status != ERROR_SUCCESS) return failWith(status, error);
  const std::wstring wideName = toUtf16(name);
  status = RegDeleteValueW(key, valueName(wideName));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return failWith(status, error);
  return true;
}

}  // namespace tw::win32
