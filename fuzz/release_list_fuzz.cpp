// parseReleaseList over arbitrary bytes: whatever it keeps must obey every build rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "firmware/firmware_cache.h"
#include "firmware/release_list.h"
#include "firmware/release_signature.h"
#include "firmware/update_host.h"
#include "firmware/versions.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool lowerHex(const char* text, std::size_t digits) {
  if (std::strlen(text) != digits) return false;
  for (std::size_t i = 0; i < digits; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool terminated(const char* field, std::size_t capacity) {
  return std::memchr(field, '\0', capacity) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tw::ReleaseList list;
  char error[200];
  const int ok =
      tw::parseReleaseList(reinterpret_cast<const char*>(data), size, list, error, sizeof error);
  check(ok == (list.count > 0 ? 1 : 0));
  check(list.count >= 0 && list.count <= tw::RELEASE_LIST_MAX_BUILDS);
  check(ok == 1 || error[0] != '\0');
  check(terminated(list.latest, sizeof list.latest));
  const std::size_t prefix = std::strlen(tw::UpdateFirmwarePrefix);
  for (int i = 0; i < list.count; ++i) {
    const tw::ReleaseInfo& b = list.builds[i];
    check(terminated(b.version, sizeof b.version) && terminated(b.channel, sizeof b.channel) &&
          terminated(b.released, sizeof b.released) && terminated(b.url, sizeof b.url) &&
          terminated(b.notes, sizeof b.notes));
    check(tw::isUsableVersion(b.version));
    for (const char* c = b.version; *c != '\0'; ++c) check(*c >= 0x20 && *c <= 0x7E);
    const std::size_t urlLength = std::strlen(b.url);
    check(urlLength > prefix + 4 && std::strncmp(b.url, tw::UpdateFirmwarePrefix, prefix) == 0);
    check(std::strstr(b.url, "..") == nullptr && std::strcmp(b.url + urlLength - 4, ".uf2") == 0);
    check(lowerHex(b.sha256, 64));
    check(b.sig[0] == '\0' || lowerHex(b.sig, 128));
    // What the download checks later takes from a kept build: its signature and its cache name.
    std::uint8_t signature[64];
    check(tw::parseReleaseSignature(b.sig, signature) == (b.sig[0] != '\0'));
    check(tw::cacheVersionText(b.version).size() <= 63);
    check(b.size >= 512 && b.size <= 16777216 && b.size % 512 == 0);
  }
  const tw::ReleaseInfo* chosen = tw::selectBuild(&list);
  check((chosen != nullptr) == (ok == 1));
  check(chosen == nullptr || (chosen >= list.builds && chosen < list.builds + list.count));
  return 0;
}
