// The built-in firmware image as read-only data of the Linux program (Tarnwick.exe carries it as
// resource 200 instead).
#pragma once

#include <cstddef>

extern const unsigned char builtInFirmwareImage[];
extern const std::size_t builtInFirmwareImageSize;
