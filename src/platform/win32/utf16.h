// UTF-8 inside the program, UTF-16 at the Windows boundary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tw::win32 {

// Invalid input bytes or units become U+FFFD; an empty result on empty input only.
std::wstring toUtf16(std::string_view text);
std::string toUtf8(std::wstring_view text);

// Copies `text` into a fixed UTF-16 field of `capacity` units (terminator included), cut to
// capacity - 1 units without splitting a surrogate pair. Always terminates when capacity > 0.
void copyToField(wchar_t* field, std::size_t capacity, std::string_view text);

}  // namespace tw::win32
