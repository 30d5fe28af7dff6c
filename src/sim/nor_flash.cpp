#include "sim/nor_flash.h"

#include <algorithm>
#include <cstring>

namespace tw::sim {

NorFlash::NorFlash(std::uint32_t size)
    : size_(std::max<std::uint32_t>(kFlashSectorSize, size - size % kFlashSectorSize)),
      sectors_(size_ / kFlashSectorSize) {}

void NorFlash::eraseSector(std::uint32_t offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++changes_;
  sectors_[wrap(offset) / kFlashSectorSize].reset();
}

void NorFlash::eraseAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++changes_;
  for (auto& sector : sectors_) sector.reset();
}

void NorFlash::programPage(std::uint32_t offset, const std::uint8_t* data, std::size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++changes_;
  std::uint32_t at = wrap(offset);
  std::uint32_t pageStart = at - at % kFlashPageSize;
  std::uint32_t inPage = at - pageStart;
  auto& sector = sectors_[pageStart / kFlashSectorSize];
  if (!sector) {
    sector = std::make_unique<Sector>();
    sector->fill(0xFF);
  }
  std::uint8_t* page = sector->data() + pageStart % kFlashSectorSize;
  for (std::size_t i = 0; i < std::min<std::size_t>(length, kFlashPageSize); ++i) {
    page[(inPage + i) % kFlashPageSize] &= data[i];
  }
}

void NorFlash::read(std::uint32_t offset, std::uint8_t* out, std::size_t length) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint32_t at = wrap(offset);
  while (length > 0) {
    std::uint32_t inSector = at % kFlashSectorSize;
    std::size_t n = std::min<std::size_t>(length, kFlashSectorSize - inSector);
    const auto& sector = sectors_[at / kFlashSectorSize];
    if (sector) {
      std::memcpy(out, sector->data() + inSector, n);
    } else {
      std::memset(out, 0xFF, n);
    }
    out += n;
    length -= n;
    at = wrap(static_cast<std::uint32_t>(at + n));
  }
}

std::vector<std::uint8_t> NorFlash::read(std::uint32_t offset, std::size_t length) const {
  std::vector<std::uint8_t> bytes(length);
  read(offset, bytes.data(), length);
  return bytes;
}

bool NorFlash::sectorErased(std::uint32_t offset) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto& sector = sectors_[wrap(offset) / kFlashSectorSize];
  return !sector ||
         std::all_of(sector->begin(), sector->end(), [](std::uint8_t b) { return b == 0xFF; });
}

std::uint64_t NorFlash::changes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return changes_;
}

}  // namespace tw::sim
