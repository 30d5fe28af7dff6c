#include "firmware/fetch_firmware.h"

#include <cstring>

#include "firmware/firmware_cache.h"
#include "firmware/release_signature.h"
#include "firmware/sha256.h"

namespace tw {

std::string downloadPath(const char* url) {
  std::string_view text = url == nullptr ? std::string_view() : std::string_view(url);
  const std::size_t scheme = text.find("://");
  const std::size_t hostStart = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::size_t path = text.find('/', hostStart);
  return path == std::string_view::npos ? std::string("/") : std::string(text.substr(path));
}

bool fetchFirmware(const FirmwareFetchPorts& ports, const ReleaseInfo& release,
                   FetchedBytes& outData, std::size_t& outSize, std::string& reason,
                   const FirmwareFetchProgress& progress) {
  outData.reset();
  outSize = 0;
  reason.clear();

  FirmwareCachePaths cache;
  const bool useCache = firmwareCachePaths(ports.files, release.version, cache);

  FetchedBytes data;
  std::size_t size = 0;
  if (!useCache || !readCachedFirmware(ports.files, cache, release, data, size)) {
    if (progress.downloading) progress.downloading(release);
    char error[HTTPS_ERROR_CAPACITY];
    if (!httpsGet(ports.https, ports.stopFlag, downloadPath(release.url), RELEASE_MAX_SIZE, data,
                  size, progress.received, error, sizeof error)) {
      reason = error;
      return false;
    }
    if (size != release.size) {
      reason = "the download was the wrong size";
      return false;
    }
    char digest[65];
    sha256Hex(data.get(), size, digest);
    if (std::strcmp(digest, release.sha256) != 0) {
      reason = "the download didn't match its published checksum";
      return false;
    }
    if (useCache) storeCachedFirmware(ports.files, cache, data.get(), size);
  }

  if (!checkReleaseSignature(ports.signatures, ports.releaseKey, data.get(), size, release.sig,
                             reason)) {
    return false;
  }
  outData = std::move(data);
  outSize = size;
  return true;
}

}  // namespace tw
