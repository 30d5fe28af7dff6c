#include "firmware/built_in_image.h"

#include <cstring>

#include "firmware/sha256.h"

namespace tw {

BuiltInState loadBuiltInImage(Resources& resources, BuiltInImage& image) {
  image = BuiltInImage{};
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  char digest[65];
  bool good = resources.loadRcData(kResourceBuiltInFirmware, bytes, size) && bytes != nullptr &&
              size == kBuiltInImageSize;
  if (good) {
    sha256Hex(bytes, size, digest);
    good = std::strcmp(digest, kBuiltInImageSha256) == 0;
  }
  if (!good) {
    image.builtInState = BuiltInState::Unusable;
    return image.builtInState;
  }
  image.bytes = bytes;
  image.size = size;
  image.builtInState = BuiltInState::Verified;
  return image.builtInState;
}

}  // namespace tw
