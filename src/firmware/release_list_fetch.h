// The release list as the update host publishes it now.
#pragma once

#include <atomic>
#include <cstddef>

#include "firmware/release_list.h"
#include "platform/https.h"

namespace tw {

inline constexpr char RELEASE_LIST_PATH[] = "/firmware/manifest.json";
inline constexpr std::size_t RELEASE_LIST_MAX_BYTES = 262144;

// Fetches "/firmware/manifest.json" (at most 262144 bytes) and validates it into `out`. Returns 1,
// or 0 with the fetch's or the validation's message (at most 199 bytes) in `error`. The fetched
// bytes are gone when it returns.
int fetchReleaseList(HttpsPort& https, const std::atomic<bool>* stopFlag, ReleaseList& out,
                     char* error, std::size_t errorCapacity);

}  // namespace tw
