#include "sim/uf2_download.h"

#include <algorithm>

namespace tw::sim {
namespace {

constexpr std::uint32_t kFlashStart = 0x10000000;
constexpr std::uint32_t kPayload = 256;

std::uint32_t field(const std::uint8_t* sector, int index) {
  const std::uint8_t* p = sector + 4 * index;
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

}  // namespace

Uf2Rules Uf2Rules::rp2350() {
  return Uf2Rules{{kFamilyAbsolute, kFamilyData, kFamilyRp2350ArmSecure, kFamilyRp2350RiscV},
                  true,
                  0x12000000,
                  4096};
}

Uf2Rules Uf2Rules::rp2040() {
  return Uf2Rules{{kFamilyRp2040}, false, 0x11000000, 4096};
}

void Uf2Download::reset() {
  numBlocks_ = 0;
  family_ = 0;
  validCount_ = 0;
  valid_.clear();
  erased_.clear();
}

Uf2Download::Outcome Uf2Download::accept(const std::uint8_t* sector, Page& page) {
  if (field(sector, 0) != kUf2MagicStart0 || field(sector, 1) != kUf2MagicStart1 ||
      field(sector, 127) != kUf2MagicEnd) {
    return Outcome::Ignored;
  }
  std::uint32_t flags = field(sector, 2);
  std::uint32_t target = field(sector, 3);
  std::uint32_t payloadSize = field(sector, 4);
  std::uint32_t blockNo = field(sector, 5);
  std::uint32_t numBlocks = field(sector, 6);
  bool hasFamily = (flags & kUf2FlagFamilyPresent) != 0;
  std::uint32_t family = hasFamily ? field(sector, 7) : 0;
  if ((rules_.familyRequired && !hasFamily) || (flags & kUf2FlagNotMainFlash) ||
      payloadSize != kPayload) {
    return Outcome::Ignored;
  }
  // Blocks for RAM are not modelled: only flash downloads.
  bool flash = target >= kFlashStart && target + (kPayload - 1) < rules_.flashEnd &&
               target + (kPayload - 1) >= target;

  if (numBlocks != numBlocks_ || family != family_) {
    bool accepted = std::find(rules_.families.begin(), rules_.families.end(), family) !=
                        rules_.families.end() ||
                    (!hasFamily && !rules_.familyRequired);
    if (!accepted || !flash) return Outcome::Ignored;
    reset();
    std::uint32_t maxBlocks = (rules_.flashEnd - kFlashStart) / kPayload;
    if (numBlocks > maxBlocks) return Outcome::Ignored;
    numBlocks_ = numBlocks;
    family_ = family;
    valid_.assign(numBlocks, false);
    erased_.assign((rules_.flashEnd - kFlashStart) / rules_.sectorSize, false);
  }
  if (!flash || blockNo >= numBlocks_ || (target & (kPayload - 1)) != 0) return Outcome::Ignored;
  if (valid_[blockNo]) return Outcome::Ignored;  // only the first copy of a block is written
  valid_[blockNo] = true;
  ++validCount_;
  std::uint32_t sectorIndex = (target - kFlashStart) / rules_.sectorSize;
  page.address = target;
  page.eraseFirst = !erased_[sectorIndex];
  erased_[sectorIndex] = true;
  page.data = sector + 32;
  return validCount_ == numBlocks_ ? Outcome::WriteLast : Outcome::Write;
}

}  // namespace tw::sim
