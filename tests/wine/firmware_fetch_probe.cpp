// Gets a release through the system's own fetch, cache and signature check with the real Windows
// adapters (WinHTTP, the file system, CNG), from an update host named "localhost", trusting the
// development release key:
//   firmware_fetch_probe folder
//     prints "folder <the cache folder>"
//   firmware_fetch_probe fetch <version> <url> <sha256> <size> <sig or ->
//     prints "ok <length> downloaded|cached <sha256 of the bytes>" or "fail <reason>"
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "firmware/fetch_firmware.h"
#include "firmware/firmware_cache.h"
#include "firmware/sha256.h"
#include "platform/win32/cng_signature.h"
#include "platform/win32/utf16.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/winhttp_https.h"
#include "trusted_release_key.h"

namespace {

template <std::size_t N>
void copyText(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::string command = argc > 1 ? tw::win32::toUtf8(argv[1]) : std::string();
  tw::win32::Win32FileSystem files;
  if (command == "folder") {
    std::string folder;
    if (!tw::firmwareCacheFolder(files, folder)) {
      std::puts("fail no cache folder");
      return 1;
    }
    std::printf("folder %s\n", folder.c_str());
    return 0;
  }
  if (command != "fetch" || argc != 7) {
    std::puts("usage: firmware_fetch_probe folder | fetch <version> <url> <sha256> <size> <sig>");
    return 2;
  }
  tw::ReleaseInfo release{};
  copyText(release.version, tw::win32::toUtf8(argv[2]));
  copyText(release.url, tw::win32::toUtf8(argv[3]));
  copyText(release.sha256, tw::win32::toUtf8(argv[4]));
  release.size = static_cast<std::uint32_t>(std::wcstoul(argv[5], nullptr, 10));
  const std::string sig = tw::win32::toUtf8(argv[6]);
  copyText(release.sig, sig == "-" ? std::string() : sig);

  tw::WinHttpPort https;
  tw::CngSignatureVerifier signatures;
  std::atomic<bool> stop{false};
  const tw::FirmwareFetchPorts ports{https, files, signatures, tw::build::kTrustedReleaseKey,
                                     &stop};
  bool downloaded = false;
  tw::FirmwareFetchProgress progress;
  progress.downloading = [&](const tw::ReleaseInfo&) { downloaded = true; };
  tw::FetchedBytes data;
  std::size_t size = 0;
  std::string reason;
  if (!tw::fetchFirmware(ports, release, data, size, reason, progress)) {
    std::printf("fail %s\n", reason.c_str());
    return 1;
  }
  char digest[65];
  tw::sha256Hex(data.get(), size, digest);
  std::printf("ok %lu %s %s\n", static_cast<unsigned long>(size),
              downloaded ? "downloaded" : "cached", digest);
  return 0;
}
