// The per-user firmware cache: one good copy of the last release downloaded, under the local
// application data folder, so that a second attempt needs no download.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "firmware/https_get.h"
#include "firmware/release_list.h"
#include "platform/file_system.h"

namespace tw {

// Windows paths of the cache stay within MAX_PATH: 259 UTF-16 units and the terminator.
inline constexpr std::size_t FIRMWARE_CACHE_PATH_UNITS = 260;
inline constexpr std::size_t FIRMWARE_CACHE_VERSION_CHARS = 63;

// A release's version as it appears in a cache file name: every character other than A to Z,
// a to z, 0 to 9, "-" and "." dropped, at most 63 kept. "1.2.0 beta" gives "1.2.0beta".
std::string cacheVersionText(const char* version);

// "<local application data>\Tarnwick Bridge\firmware"; false when that folder cannot be had or
// the path would not fit.
bool firmwareCacheFolder(FileSystem& files, std::string& folder);

struct FirmwareCachePaths {
  std::string folder;    // firmwareCacheFolder
  std::string fileName;  // "tarnwick-bridge-<cache version text>.uf2"
  std::string file;      // folder\fileName
  std::string partFile;  // file + ".part", written first and renamed over `file`
};

// The cache's paths for `version`; false when the cache is not to be used for it (no folder, a
// version with nothing left for the name, or paths too long).
bool firmwareCachePaths(FileSystem& files, const char* version, FirmwareCachePaths& out);

// The cached copy, only when it is the published file: 1 to 16777216 bytes, read whole, of the
// release's size and with its SHA-256.
bool readCachedFirmware(FileSystem& files, const FirmwareCachePaths& paths,
                        const ReleaseInfo& release, FetchedBytes& data, std::size_t& length);

// Writes `data` to the ".part" file and renames it over the cache file, then deletes every other
// cache file and stale ".part" file in the folder. Failures are silent (a copy that could not be
// stored is simply downloaded again next time); false tells a test that nothing was stored.
bool storeCachedFirmware(FileSystem& files, const FirmwareCachePaths& paths,
                         const std::uint8_t* data, std::size_t size);

}  // namespace tw
