// Small helpers that keep the system's fixed-capacity texts within their limits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tw {

// The longest prefix of `text` of at most `maxBytes` bytes that does not split a UTF-8 sequence.
std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);

// Length of the well-formed UTF-8 character that starts at text[at], or 0 when the bytes there
// are not one: a stray continuation byte, a lead byte without all of its continuation bytes, an
// overlong form, a surrogate or a code point beyond U+10FFFF. JSON writers replace such bytes.
std::size_t wellFormedUtf8Length(std::string_view text, std::size_t at);

// Cuts `text` to a buffer of `capacity` bytes including the terminator (capacity - 1 bytes of
// text), never splitting a UTF-8 sequence.
std::string cutUtf8(std::string_view text, std::size_t capacity);

// Windows keeps tray tips, menu items and balloons in UTF-16 buffers; a limit given in
// characters counts UTF-16 code units. Returns the longest prefix of at most `maxUnits` units.
std::string cutToUtf16Units(std::string_view text, std::size_t maxUnits);

// Number of UTF-16 code units `text` takes once converted.
std::size_t utf16Length(std::string_view text);

// printf into a std::string cut to `capacity` bytes including the terminator, UTF-8-aware.
std::string formatText(std::size_t capacity, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// ASCII-only case-insensitive comparison, for device paths and file names.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace tw
