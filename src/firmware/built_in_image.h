// The firmware image built into the program: the fallback when nothing newer can be downloaded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/resources.h"

#if defined(TW_PRODUCT_FIRMWARE)
// What the program was built with. A product build writes the constants (kBuiltInImageVersion,
// kBuiltInImageProgram, kBuiltInImageSize, kBuiltInImageSha256) from the firmware file it was
// given: its SHA-256 checked against the published one, its version and program name read with this
// system's own reader.
#include "built_in_image_product.h"
#endif

namespace tw {

#if !defined(TW_PRODUCT_FIRMWARE)
// What test builds are built with: a generated stand-in, not firmware (its image definition
// declares a data image, so no board would run it). The build regenerates it and stops when its
// digest no longer matches the one here.
constexpr char kBuiltInImageVersion[] = "0.9.3";
constexpr char kBuiltInImageProgram[] = "korrinlink";
constexpr std::size_t kBuiltInImageSize = 2594816;  // 5068 UF2 blocks
constexpr char kBuiltInImageSha256[] =
    "9a54cbcc620ddb1e2a9dd7f80a2668b89d37df68d732f35f71db69a004a5f47e";
#endif

// The numbers are those the image's state has always been reported with.
enum class BuiltInState : std::int8_t { Unusable = -1, NotExamined = 0, Verified = 1 };

// The image as found at start-up. Held by the firmware state, which publishes it under its lock;
// the bytes are read-only once it is Verified.
struct BuiltInImage {
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  BuiltInState builtInState = BuiltInState::NotExamined;  // Unusable: missing or failed
};

// Finds the image among the program's resources and checks its size and digest. Returns the
// state it also writes to `image`: Verified with bytes and size set, or Unusable with them cleared.
BuiltInState loadBuiltInImage(Resources& resources, BuiltInImage& image);

}  // namespace tw
