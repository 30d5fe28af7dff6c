#include "firmware/firmware_image.h"

#include <cstring>

namespace tw {

void freeFirmwareImage(FirmwareImage* image) {
  if (image == nullptr) return;
  *image = FirmwareImage{};
}

bool sectorHasData(const FirmwareImage& image, std::uint32_t address) {
  if (!image.pageWritten || address < image.base) return false;
  std::uint64_t offset = std::uint64_t(address) - image.base;
  if (offset >= image.size) return false;
  std::uint64_t firstPage = offset / kFlashPageSize;
  std::uint64_t pages = image.size / kFlashPageSize;
  for (std::uint64_t page = firstPage; page < firstPage + kFlashSectorSize / kFlashPageSize;
       ++page) {
    if (page < pages && image.pageWritten[page]) return true;
  }
  return false;
}

bool readImageBytes(const FirmwareImage& image, std::uint32_t address, void* buffer,
                    std::size_t length) {
  if (!image.data || address < image.base) return false;
  std::uint64_t offset = std::uint64_t(address) - image.base;
  if (offset > image.size || length > image.size - offset) return false;
  if (length > 0) std::memcpy(buffer, image.data.get() + offset, length);
  return true;
}

bool readImageBytesCallback(void* image, std::uint32_t address, void* buffer, std::size_t length) {
  return readImageBytes(*static_cast<const FirmwareImage*>(image), address, buffer, length);
}

}  // namespace tw
