// checkUf2 over arbitrary files. Besides not crashing, a success must describe itself
// consistently: every written page lies in the image, and the image stays in flash.
#include <cstdlib>
#include <cstring>

#include "firmware/uf2_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw::FirmwareImage image;
  char message[200];
  if (tw::checkUf2(data, size, image, message, sizeof message) != 1) {
    if (image.data || image.size != 0 || std::strlen(message) == 0) std::abort();
    return 0;
  }
  if (image.base % 4096 != 0 || image.size % 4096 != 0 || image.size == 0) std::abort();
  if (image.base < 0x10000000 || std::uint64_t(image.base) + image.size > 0x11000000) std::abort();
  if (image.dataBlocks + image.skippedBlocks != image.totalBlocks) std::abort();
  std::uint32_t written = 0;
  for (std::uint32_t page = 0; page < image.size / 256; ++page) written += image.pageWritten[page];
  if (written != image.dataBlocks) std::abort();
  for (std::uint32_t at = image.base; at < image.base + image.size; at += 4096) {
    (void)tw::sectorHasData(image, at);
  }
  if (std::strlen(image.program) > 63 || std::strlen(image.version) > 63) std::abort();
  return 0;
}
