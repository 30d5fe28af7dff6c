// How a boot ROM takes a UF2 file that is being copied onto its drive, one 512-byte sector at a
// time as the host writes them: which sectors are UF2 blocks it accepts, which transfer they
// belong to (a change of block count or family starts a new one), which page each one writes,
// when a 4 KB sector must be erased first (the first time one of its pages arrives), and when
// the file is complete (every block number seen once). It never compares: it always writes.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace tw::sim {

inline constexpr std::uint32_t kUf2MagicStart0 = 0x0a324655;
inline constexpr std::uint32_t kUf2MagicStart1 = 0x9e5d5157;
inline constexpr std::uint32_t kUf2MagicEnd = 0x0ab16f30;
inline constexpr std::uint32_t kUf2FlagNotMainFlash = 0x00000001;
inline constexpr std::uint32_t kUf2FlagFamilyPresent = 0x00002000;
inline constexpr std::uint32_t kFamilyRp2040 = 0xe48bff56;
inline constexpr std::uint32_t kFamilyAbsolute = 0xe48bff57;
inline constexpr std::uint32_t kFamilyData = 0xe48bff58;
inline constexpr std::uint32_t kFamilyRp2350ArmSecure = 0xe48bff59;
inline constexpr std::uint32_t kFamilyRp2350RiscV = 0xe48bff5a;

struct Uf2Rules {
  std::vector<std::uint32_t> families;  // accepted family ids
  bool familyRequired = true;           // a block without the family flag is ignored
  std::uint32_t flashEnd = 0x12000000;  // first address past the flash window
  std::uint32_t sectorSize = 4096;

  // An RP2350 without a partition table.
  static Uf2Rules rp2350();
  static Uf2Rules rp2040();
};

class Uf2Download {
 public:
  enum class Outcome {
    Ignored,    // not a block of this chip's current transfer, or a repeated block
    Write,      // write `page` (erasing its sector first when `eraseFirst`)
    WriteLast,  // the same, and with it every block of the file has landed
  };
  struct Page {
    std::uint32_t address = 0;
    bool eraseFirst = false;
    const std::uint8_t* data = nullptr;  // 256 bytes inside the sector given to accept()
  };

  explicit Uf2Download(Uf2Rules rules) : rules_(std::move(rules)) {}

  Outcome accept(const std::uint8_t* sector, Page& page);
  // Forgets the transfer (a reset of the chip, or exclusive access taken over USB).
  void reset();

 private:
  Uf2Rules rules_;
  std::uint32_t numBlocks_ = 0;  // 0: no transfer
  std::uint32_t family_ = 0;
  std::uint32_t validCount_ = 0;
  std::vector<bool> valid_;
  std::vector<bool> erased_;
};

}  // namespace tw::sim
