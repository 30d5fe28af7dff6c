#include "firmware/firmware_cache.h"

#include <cstring>
#include <vector>

#include "common/text.h"
#include "firmware/sha256.h"

namespace tw {
namespace {

constexpr char kCacheSubfolder[] = "\\Tarnwick Bridge\\firmware";
constexpr char kFilePrefix[] = "tarnwick-bridge-";
constexpr char kCleanUpPattern[] = "\\tarnwick-bridge-*.uf2*";
// Writes go out in pieces the FileWriter port can count.
constexpr std::size_t kWriteChunk = 1u << 20;

bool fitsPath(const std::string& path) {
  return utf16Length(path) < FIRMWARE_CACHE_PATH_UNITS;
}

bool keptInCacheName(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.';
}

// Every byte of `data` written to `writer`; a write that fails or comes up short stops it.
bool writeAll(FileWriter& writer, const std::uint8_t* data, std::size_t size) {
  std::uint32_t error = 0;
  for (std::size_t at = 0; at < size;) {
    const std::size_t left = size - at;
    const auto chunk = static_cast<std::uint32_t>(left < kWriteChunk ? left : kWriteChunk);
    std::uint32_t written = 0;
    if (!writer.write(data + at, chunk, written, error) || written != chunk) return false;
    at += chunk;
  }
  return true;
}

void deleteOtherCacheFiles(FileSystem& files, const FirmwareCachePaths& paths) {
  std::vector<FolderEntry> entries;
  std::uint32_t error = 0;
  // A listing that fails part-way still names what it found before.
  files.listFolder(paths.folder + kCleanUpPattern, entries, error);
  for (const FolderEntry& entry : entries) {
    if (entry.directory || equalsIgnoreCase(entry.name, paths.fileName)) continue;
    files.deleteFile(paths.folder + "\\" + entry.name, error);
  }
}

}  // namespace

std::string cacheVersionText(const char* version) {
  std::string text;
  if (version == nullptr) return text;
  for (const char* p = version; *p != '\0' && text.size() < FIRMWARE_CACHE_VERSION_CHARS; ++p) {
    if (keptInCacheName(*p)) text += *p;
  }
  return text;
}

bool firmwareCacheFolder(FileSystem& files, std::string& folder) {
  std::string base;
  std::uint32_t error = 0;
  if (!files.localAppDataFolder(base, error) || base.empty()) return false;
  folder = base + kCacheSubfolder;
  return fitsPath(folder);
}

bool firmwareCachePaths(FileSystem& files, const char* version, FirmwareCachePaths& out) {
  const std::string versionText = cacheVersionText(version);
  if (versionText.empty() || !firmwareCacheFolder(files, out.folder)) return false;
  out.fileName = kFilePrefix + versionText + ".uf2";
  out.file = out.folder + "\\" + out.fileName;
  out.partFile = out.file + ".part";
  return fitsPath(out.partFile);
}

bool readCachedFirmware(FileSystem& files, const FirmwareCachePaths& paths,
                        const ReleaseInfo& release, FetchedBytes& data, std::size_t& length) {
  FileBytes bytes;
  std::size_t size = 0;
  std::uint32_t error = 0;
  if (!files.readFile(paths.file, RELEASE_MAX_SIZE, bytes, size, error)) return false;
  if (size < 1 || size > RELEASE_MAX_SIZE || size != release.size) return false;
  char digest[65];
  sha256Hex(bytes.get(), size, digest);
  if (std::strcmp(digest, release.sha256) != 0) return false;
  data.reset(bytes.release());
  length = size;
  return true;
}

bool storeCachedFirmware(FileSystem& files, const FirmwareCachePaths& paths,
                         const std::uint8_t* data, std::size_t size) {
  std::uint32_t error = 0;
  // A folder already there is what we want; any other failure shows when the file is made.
  files.createFolder(paths.folder, error);
  std::unique_ptr<FileWriter> writer = files.createFile(paths.partFile, error);
  if (!writer) return false;
  bool written = writeAll(*writer, data, size);
  // A file that did not close cleanly may not hold what was written.
  if (!writer->close(error)) written = false;
  writer.reset();
  if (!written || !files.renameOver(paths.partFile, paths.file, error)) {
    files.deleteFile(paths.partFile, error);
    return false;
  }
  deleteOtherCacheFiles(files, paths);
  return true;
}

}  // namespace tw
