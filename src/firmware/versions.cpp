#include "firmware/versions.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace tw {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads a run of digits starting at `at`. Digits only count while the value is at most 99999999,
// so the result never exceeds 999999999; the rest of the run is passed over.
std::uint32_t readNumber(const char* text, std::size_t& at) {
  std::uint32_t value = 0;
  while (isDigit(text[at])) {
    if (value <= 99999999u) value = value * 10 + static_cast<std::uint32_t>(text[at] - '0');
    ++at;
  }
  return value;
}

// The suffix as it takes part in ordering: one leading "-" dropped.
const char* orderingSuffix(std::string_view suffix) {
  const char* s = suffix.data();
  if (*s == '-') ++s;
  return s;
}

bool endsSuffix(char c) {
  return c == '\0' || c == '+';
}

int sign(std::int64_t d) {
  return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

}  // namespace

FirmwareVersion parseVersion(const char* text) {
  FirmwareVersion version;
  if (text == nullptr) text = "";
  std::size_t at = 0;
  while (text[at] == ' ') ++at;
  if (text[at] == 'v' || text[at] == 'V') ++at;
  std::uint32_t* parts[3] = {&version.major, &version.minor, &version.patch};
  if (isDigit(text[at])) {
    for (;;) {
      *parts[version.parts++] = readNumber(text, at);
      if (text[at] != '.' || !isDigit(text[at + 1])) break;  // a dot without a digit is suffix
      if (version.parts == 3) {
        ++at;  // "1.2.3.4" keeps "4" as its suffix
        break;
      }
      ++at;
    }
  }
  version.suffix = std::string_view(text + at);
  return version;
}

int compareVersions(const char* a, const char* b) {
  const FirmwareVersion x = parseVersion(a);
  const FirmwareVersion y = parseVersion(b);
  if (x.major != y.major) return x.major < y.major ? -1 : 1;
  if (x.minor != y.minor) return x.minor < y.minor ? -1 : 1;
  if (x.patch != y.patch) return x.patch < y.patch ? -1 : 1;

  const char* s = orderingSuffix(x.suffix);
  const char* t = orderingSuffix(y.suffix);
  const bool releaseS = endsSuffix(*s);
  const bool releaseT = endsSuffix(*t);
  if (releaseS || releaseT) return releaseS == releaseT ? 0 : (releaseS ? 1 : -1);

  std::size_t i = 0, j = 0;
  for (;;) {
    const bool endS = endsSuffix(s[i]);
    const bool endT = endsSuffix(t[j]);
    if (endS || endT) return endS == endT ? 0 : (endS ? -1 : 1);
    if (isDigit(s[i]) && isDigit(t[j])) {
      const std::uint32_t m = readNumber(s, i);
      const std::uint32_t n = readNumber(t, j);
      if (m != n) return m < n ? -1 : 1;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const unsigned char d = static_cast<unsigned char>(t[j]);
    if (c != d) return sign(static_cast<int>(c) - static_cast<int>(d));
    ++i;
    ++j;
  }
}

bool isUsableVersion(const char* text) {
  return text != nullptr && parseVersion(text).parts >= 2;
}

std::uint32_t packedVersion(std::string_view text) {
  unsigned major = 0, minor = 0, patch = 0;
  std::string terminated(text);
  std::sscanf(terminated.c_str(), "%u.%u.%u", &major, &minor, &patch);
  return major * 1000000u + minor * 1000u + patch;
}

}  // namespace tw
