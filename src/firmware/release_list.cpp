#include "firmware/release_list.h"

#include <cstring>

#include "firmware/json_reader.h"
#include "firmware/update_host.h"
#include "firmware/versions.h"

namespace tw {
namespace {

void setError(char* error, std::size_t capacity, const char* message) {
  if (error == nullptr || capacity == 0) return;
  std::size_t n = std::strlen(message);
  if (n > capacity - 1) n = capacity - 1;
  std::memcpy(error, message, n);
  error[n] = '\0';
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// True when `text` is exactly `digits` hexadecimal digits; they are lowered in place.
bool lowerHex(char* text, std::size_t digits) {
  if (std::strlen(text) != digits) return false;
  for (std::size_t i = 0; i < digits; ++i) {
    if (!isHexDigit(text[i])) return false;
  }
  for (std::size_t i = 0; i < digits; ++i) {
    if (text[i] >= 'A' && text[i] <= 'F') text[i] = static_cast<char>(text[i] - 'A' + 'a');
  }
  return true;
}

bool isUrlNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '/' || c == '_';
}

bool isAcceptedUrl(const char* url) {
  const std::size_t prefixLength = std::strlen(UpdateFirmwarePrefix);
  const std::size_t length = std::strlen(url);
  if (length <= prefixLength + 4) return false;  // at least one character of name before ".uf2"
  if (std::strncmp(url, UpdateFirmwarePrefix, prefixLength) != 0) return false;
  if (std::strstr(url, "..") != nullptr) return false;
  for (std::size_t i = prefixLength; i < length; ++i) {
    if (!isUrlNameByte(url[i])) return false;
  }
  return std::strcmp(url + length - 4, ".uf2") == 0;
}

// Reads a member that must fit its buffer whole: a checksum, signature or address cut to its
// buffer would name something other than what the list published. `out` has `capacity` bytes;
// false when the value was longer than capacity - 1.
//
// The value is decoded with room to spare rather than through jsonGetString's cut: that cut moves
// back to a character boundary and drops a character that does not fit, so a value with one
// byte too many (a stray continuation byte, a character or escape at the end) would come out of
// it short enough to look whole. With eight bytes to spare, the decoder leaves something out (a
// byte or a character of up to four) only once the text has grown past the capacity. A "\u0000"
// would end the decoded text early, so it makes the value unusable too.
bool getWholeString(const char* text, const JsonToken* tokens, int count, int object,
                    const char* key, char* out, std::size_t capacity) {
  out[0] = '\0';
  const int value = jsonFindKey(text, tokens, count, object, key);
  if (value < 0 || tokens[value].type != JSON_STRING) return true;  // missing: empty
  constexpr std::size_t kSpare = 8;
  char wide[sizeof(ReleaseInfo::url) + kSpare];
  if (capacity + kSpare > sizeof wide) return false;
  if (!jsonUnescape(text, tokens, count, value, wide, capacity + kSpare)) return false;
  const std::size_t length = std::strlen(wide);
  if (length > capacity - 1) return false;
  const char* raw = text + tokens[value].start;
  const std::size_t rawLength = static_cast<std::size_t>(tokens[value].end - tokens[value].start);
  for (std::size_t i = 0; i + 6 <= rawLength; ++i) {
    if (raw[i] != '\\') continue;
    if (std::memcmp(raw + i, "\\u0000", 6) == 0) return false;
    ++i;  // the escaped character is no escape of its own
  }
  // As jsonGetString would have it: control characters read as spaces.
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(wide[i]);
    out[i] = (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
  }
  out[length] = '\0';
  return true;
}

// Fills `build` from the object at `object`; false when the build must be dropped.
bool readBuild(const char* text, const JsonToken* tokens, int count, int object,
               ReleaseInfo& build) {
  std::memset(&build, 0, sizeof build);
  jsonGetString(text, tokens, count, object, "version", build.version, sizeof build.version);
  jsonGetString(text, tokens, count, object, "channel", build.channel, sizeof build.channel);
  jsonGetString(text, tokens, count, object, "released", build.released, sizeof build.released);
  const bool urlWhole =
      getWholeString(text, tokens, count, object, "url", build.url, sizeof build.url);
  const bool shaWhole =
      getWholeString(text, tokens, count, object, "sha256", build.sha256, sizeof build.sha256);
  const bool sigWhole =
      getWholeString(text, tokens, count, object, "sig", build.sig, sizeof build.sig);
  jsonGetString(text, tokens, count, object, "notes", build.notes, sizeof build.notes);
  const int sizeToken = jsonFindKey(text, tokens, count, object, "size");
  const double size = sizeToken < 0 ? 0.0 : jsonGetNumber(text, tokens, count, sizeToken);

  // A malformed signature only costs the signature: the download check reports it later.
  if (!sigWhole || (build.sig[0] != '\0' && !lowerHex(build.sig, 128))) build.sig[0] = '\0';

  if (parseVersion(build.version).parts < 2) return false;
  if (!urlWhole || !isAcceptedUrl(build.url)) return false;
  if (!shaWhole || !lowerHex(build.sha256, 64)) return false;
  // Written this way round so that a NaN is refused too.
  if (!(size >= RELEASE_MIN_SIZE && size <= RELEASE_MAX_SIZE)) return false;
  const std::uint32_t whole = static_cast<std::uint32_t>(size);
  if (whole % 512 != 0) return false;
  build.size = whole;

  for (char* c = build.version; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20 || static_cast<unsigned char>(*c) > 0x7E) *c = '?';
  }
  return true;
}

}  // namespace

int parseReleaseList(const char* data, std::size_t length, ReleaseList& out, char* error,
                     std::size_t errorCapacity) {
  std::memset(&out, 0, sizeof out);
  setError(error, errorCapacity, "");
  JsonToken tokens[RELEASE_LIST_MAX_TOKENS];
  const int count = jsonParse(data, length, tokens, RELEASE_LIST_MAX_TOKENS);
  if (count < 1 || tokens[0].type != JSON_OBJECT) {
    setError(error, errorCapacity, "the release list could not be read");
    return 0;
  }
  jsonGetString(data, tokens, count, 0, "latest", out.latest, sizeof out.latest);

  const int builds = jsonFindKey(data, tokens, count, 0, "builds");
  if (builds < 0 || tokens[builds].type != JSON_ARRAY) {
    setError(error, errorCapacity, "the release list has no builds");
    return 0;
  }
  int at = builds + 1;
  for (std::int32_t element = 0; element < tokens[builds].size; ++element) {
    if (at <= builds || at >= count) break;
    if (tokens[at].type == JSON_OBJECT &&
        readBuild(data, tokens, count, at, out.builds[out.count])) {
      if (++out.count == RELEASE_LIST_MAX_BUILDS) return 1;
    }
    at = tokens[at].next;
  }
  if (out.count == 0) {
    // The slot a dropped build was read into holds its leftovers.
    std::memset(&out.builds[0], 0, sizeof out.builds[0]);
    setError(error, errorCapacity, "the release list has no usable builds");
    return 0;
  }
  // Likewise for the slot after the last kept build.
  if (out.count < RELEASE_LIST_MAX_BUILDS) {
    std::memset(&out.builds[out.count], 0, sizeof out.builds[0]);
  }
  return 1;
}

const ReleaseInfo* selectBuild(const ReleaseList* list) {
  if (list == nullptr || list->count < 1) return nullptr;
  const int count = list->count < RELEASE_LIST_MAX_BUILDS ? list->count : RELEASE_LIST_MAX_BUILDS;
  if (list->latest[0] != '\0') {
    for (int i = 0; i < count; ++i) {
      if (std::strcmp(list->builds[i].version, list->latest) == 0) return &list->builds[i];
    }
  }
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(list->builds[i].channel, "stable") == 0) return &list->builds[i];
  }
  return &list->builds[0];
}

}  // namespace tw
