#include "platform/win32/utf16.h"

#include <windows.h>

namespace tw::win32 {

std::wstring toUtf16(std::string_view text) {
  if (text.empty()) return {};
  const int units =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) return {};
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), units);
  return out;
}

std::string toUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes,
                      nullptr, nullptr);
  return out;
}

void copyToField(wchar_t* field, std::size_t capacity, std::string_view text) {
  if (capacity == 0) return;
  const std::wstring wide = toUtf16(text);
  std::size_t units = wide.size() < capacity - 1 ? wide.size() : capacity - 1;
  // A lone high surrogate at the cut would leave half a character behind.
  if (units > 0 && units < wide.size() && wide[units - 1] >= 0xD800 && wide[units - 1] <= 0xDBFF)
    --units;
  wide.copy(field, units);
  field[units] = L'\0';
}

}  // namespace tw::win32
