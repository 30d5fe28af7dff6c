// One HTTPS GET from the update host, with the limits and the wording the firmware side needs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/https.h"

namespace tw {

struct FreeBytes {
  void operator()(unsigned char* bytes) const noexcept { std::free(bytes); }
};
// Fetched bytes, owned by the caller.
using FetchedBytes = std::unique_ptr<unsigned char[], FreeBytes>;

// (bytes received so far, Content-Length or 0 when the server gave none).
using HttpsProgress = std::function<void(std::uint64_t received, std::uint64_t total)>;

inline constexpr char HTTPS_USER_AGENT[] = "TarnwickBridge/1.2.0";
inline constexpr std::size_t HTTPS_ERROR_CAPACITY = 200;

// GET https://UpdateHost<path>, the path in UTF-8. Returns 1 with the body in `outData` /
// `outLength`, or 0 with a message of at most 199 bytes in `error` (which is emptied first).
// Redirects are not followed, only status 200 is accepted, and the body may not exceed `maxBytes`.
// `stopFlag` (optional) is looked at before the body and after every read. Every handle is closed
// before returning.
int httpsGet(HttpsPort& port, const std::atomic<bool>* stopFlag, std::string_view path,
             std::size_t maxBytes, FetchedBytes& outData, std::size_t& outLength,
             const HttpsProgress& progress, char* error, std::size_t errorCapacity);

}  // namespace tw
