// The board's flash as the soak judges it: the images a job may put there, and whether the
// flash now holds one of them whole, the image it had before, or nothing that would start.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/nor_flash.h"

namespace tw::soak {

// The flash below the settings area: where firmware images live.
std::vector<std::uint8_t> readImageArea(const sim::NorFlash& flash);
std::vector<std::uint8_t> readSettingsArea(const sim::NorFlash& flash);
// The boot ROM finds nothing to start when the first 4 KB are erased.
bool bootSectorErased(const std::vector<std::uint8_t>& imageArea);

// The flat images of every build a job may install, by version: the built-in image and the
// update host's builds of the stand-in firmware.
class ImageCatalogue {
 public:
  // Whether `imageArea` starts with a whole image of `version`.
  bool holdsVersion(const std::vector<std::uint8_t>& imageArea, const std::string& version);
  // Whether it starts with a whole image of any version in `versions`.
  bool holdsAnyOf(const std::vector<std::uint8_t>& imageArea,
                  const std::vector<std::string>& versions);

 private:
  const std::vector<std::vector<std::uint8_t>>& imagesOf(const std::string& version);
  std::map<std::string, std::vector<std::vector<std::uint8_t>>> images_;
};

}  // namespace tw::soak
