// Gets a release's UF2 file for installing: from the per-user cache when a good copy is there,
// else downloaded from the update host, checked against the release list, stored in the cache,
// and accepted only with a valid release signature.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "firmware/https_get.h"
#include "firmware/release_list.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/https.h"

namespace tw {

struct FirmwareFetchPorts {
  HttpsPort& https;
  FileSystem& files;
  SignatureVerifier& signatures;
  const std::uint8_t* releaseKey;  // the 72-byte "ECS1" blob the program trusts
  const std::atomic<bool>* stopFlag = nullptr;
};

// What the firmware job shows while a file is downloaded.
struct FirmwareFetchProgress {
  // A download is about to start (no call when the cached copy is used).
  std::function<void(const ReleaseInfo& release)> downloading;
  // Bytes received so far, and the Content-Length or 0.
  HttpsProgress received;
};

inline constexpr std::size_t FIRMWARE_REASON_CAPACITY = 200;

// True with the file's bytes (owned by the caller) and length; false with a reason of at most
// 199 bytes: the download's own message, "the download was the wrong size", "the download didn't
// match its published checksum", "it arrived without a Tarnwick signature" or "it isn't signed by
// Tarnwick". Runs without the firmware lock.
bool fetchFirmware(const FirmwareFetchPorts& ports, const ReleaseInfo& release,
                   FetchedBytes& outData, std::size_t& outSize, std::string& reason,
                   const FirmwareFetchProgress& progress = {});

// The request path of a download address: what follows its scheme and host name.
std::string downloadPath(const char* url);

}  // namespace tw
