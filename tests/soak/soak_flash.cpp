#include "soak/soak_flash.h"

#include <algorithm>
#include <cstring>

#include "built_in_firmware.h"
#include "sim/dongle_settings.h"
#include "sim/firmware_builder.h"

namespace tw::soak {
namespace {

constexpr std::uint32_t kImageAreaSize = sim::kSettingsAreaAddress - sim::kFlashBase;
constexpr char kBuiltInVersion[] = "0.9.3";

// What a UF2 file leaves in a flash of its own, up to its last byte that is not erased (what
// lies past an image in its last sector is no part of it).
std::vector<std::uint8_t> flatten(const std::vector<std::uint8_t>& uf2) {
  sim::NorFlash scratch;
  sim::writeUf2(scratch, uf2);
  std::vector<std::uint8_t> image = scratch.read(0, kImageAreaSize);
  while (!image.empty() && image.back() == 0xFF) image.pop_back();
  return image;
}

bool startsWith(const std::vector<std::uint8_t>& area, const std::vector<std::uint8_t>& image) {
  return !image.empty() && area.size() >= image.size() &&
         std::memcmp(area.data(), image.data(), image.size()) == 0;
}

}  // namespace

std::vector<std::uint8_t> readImageArea(const sim::NorFlash& flash) {
  return flash.read(0, kImageAreaSize);
}

std::vector<std::uint8_t> readSettingsArea(const sim::NorFlash& flash) {
  return flash.read(kImageAreaSize, sim::kSettingsAreaSize);
}

bool bootSectorErased(const std::vector<std::uint8_t>& imageArea) {
  const std::size_t sector = std::min<std::size_t>(imageArea.size(), sim::kFlashSectorSize);
  return std::all_of(imageArea.begin(), imageArea.begin() + static_cast<std::ptrdiff_t>(sector),
                     [](std::uint8_t b) { return b == 0xFF; });
}

const std::vector<std::vector<std::uint8_t>>& ImageCatalogue::imagesOf(const std::string& version) {
  auto found = images_.find(version);
  if (found != images_.end()) return found->second;
  std::vector<std::vector<std::uint8_t>> images;
  images.push_back(flatten(sim::makeReleaseUf2(version)));
  if (version == kBuiltInVersion) {
    images.push_back(flatten(std::vector<std::uint8_t>(
        builtInFirmwareImage, builtInFirmwareImage + builtInFirmwareImageSize)));
  }
  return images_.emplace(version, std::move(images)).first->second;
}

bool ImageCatalogue::holdsVersion(const std::vector<std::uint8_t>& imageArea,
                                  const std::string& version) {
  if (version.empty()) return false;
  for (const auto& image : imagesOf(version)) {
    if (startsWith(imageArea, image)) return true;
  }
  return false;
}

bool ImageCatalogue::holdsAnyOf(const std::vector<std::uint8_t>& imageArea,
                                const std::vector<std::string>& versions) {
  for (const std::string& version : versions) {
    if (holdsVersion(imageArea, version)) return true;
  }
  return false;
}

}  // namespace tw::soak
