// The vendor's release list: its validation into a ReleaseList and the choice of the build to
// offer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

inline constexpr int RELEASE_LIST_MAX_BUILDS = 12;
inline constexpr int RELEASE_LIST_MAX_TOKENS = 768;
inline constexpr std::uint32_t RELEASE_MIN_SIZE = 512;
inline constexpr std::uint32_t RELEASE_MAX_SIZE = 16777216;

// One build of the release list; every text is zero-terminated within its buffer.
struct ReleaseInfo {
  char version[48];    // printable ASCII
  char channel[16];    // e.g. "stable"; may be empty
  char released[16];   // release date, kept as given
  char url[256];       // under UpdateFirmwarePrefix, ending in ".uf2"
  char sha256[65];     // 64 lowercase hexadecimal digits
  char sig[129];       // 128 lowercase hexadecimal digits, or empty
  std::uint32_t size;  // 512 to 16777216, a multiple of 512
  char notes[480];     // UTF-8
};

// The usable builds of a release list, in its order. A plain value, copied whole.
struct ReleaseList {
  char latest[48];  // the list's "latest", empty when absent
  std::int32_t count;
  ReleaseInfo builds[RELEASE_LIST_MAX_BUILDS];
};

// Validates a release list document into `out` (cleared first). Returns 1 when at least one
// usable build was kept; else 0 with a message in `error` when one is given. Builds that break a
// rule are left out; only structural faults fail the whole list. No heap use.
int parseReleaseList(const char* data, std::size_t length, ReleaseList& out, char* error,
                     std::size_t errorCapacity);

// The build to offer: the one named by "latest", else the first "stable" one, else the first.
// Null when there is none. Versions are not compared.
const ReleaseInfo* selectBuild(const ReleaseList* list);

}  // namespace tw
