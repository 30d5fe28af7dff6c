#include "firmware/release_list_fetch.h"

#include "firmware/https_get.h"

namespace tw {

int fetchReleaseList(HttpsPort& https, const std::atomic<bool>* stopFlag, ReleaseList& out,
                     char* error, std::size_t errorCapacity) {
  FetchedBytes data;
  std::size_t length = 0;
  if (!httpsGet(https, stopFlag, RELEASE_LIST_PATH, RELEASE_LIST_MAX_BYTES, data, length, nullptr,
                error, errorCapacity)) {
    return 0;
  }
  const std::size_t capacity =
      errorCapacity < HTTPS_ERROR_CAPACITY ? errorCapacity : HTTPS_ERROR_CAPACITY;
  return parseReleaseList(reinterpret_cast<const char*>(data.get()), length, out, error, capacity);
}

}  // namespace tw
