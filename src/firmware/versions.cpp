#include "firmware/versions.h"

#include <cstdio>
#include <string>

namespace tw {

std::uint32_t packedVersion(std::string_view text) {
  unsigned major = 0, minor = 0, patch = 0;
  std::string terminated(text);
  std::sscanf(terminated.c_str(), "%u.%u.%u", &major, &minor, &patch);
  return major * 1000000u + minor * 1000u + patch;
}

}  // namespace tw
