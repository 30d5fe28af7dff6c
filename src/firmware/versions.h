// Version texts: reading, ordering and the packed integer form used between instances of the
// program. Versions travel as text; the numeric reading is made when it is needed.
#pragma once

#include <cstdint>
#include <string_view>

namespace tw {

// The numeric reading of a version text such as "v1.2.3-rc1".
struct FirmwareVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
  int parts = 0;                 // numbers read, 0 to 3; missing ones count as 0
  std::string_view suffix = {};  // what follows the numbers ("-rc1"), pointing into the text
};

// Leading spaces and one "v" or "V" are skipped; up to three dot-separated numbers are read, each
// kept to at most nine digits. A null text reads as empty.
FirmwareVersion parseVersion(const char* text);

// -1, 0 or 1. Numbers first; then a release (empty suffix or one starting with "+") is newer than
// any pre-release, and two pre-release suffixes compare with their digit runs as numbers.
int compareVersions(const char* a, const char* b);

// True when the text has at least two numeric parts.
bool isUsableVersion(const char* text);

// Reads "%u.%u.%u" (numbers that are not read stay 0) and packs major * 1000000 + minor * 1000 +
// patch; "1.2.0" packs to 1002000.
std::uint32_t packedVersion(std::string_view text);

}  // namespace tw
