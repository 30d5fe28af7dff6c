#include "sim/firmware_builder.h"

#include <algorithm>
#include <cstring>

#include "sim/flash_image_info.h"
#include "sim/program_info_layout.h"

namespace tw::sim {
namespace {

constexpr std::uint32_t kRamCopy = 0x20000400;  // where the entries live while the program runs
constexpr std::uint32_t kInfoHeader = 0x110;    // right after the 68-word vector table
constexpr std::uint32_t kImageDef = 0x124;

void put32(std::vector<std::uint8_t>& bytes, std::uint32_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> makeFirmwareImage(const FirmwareRecipe& recipe) {
  std::uint32_t size = std::max<std::uint32_t>(recipe.size, 4096);
  size = (size + kFlashPageSize - 1) & ~(kFlashPageSize - 1);
  std::vector<std::uint8_t> image(size);
  std::uint32_t x = 0x2545f491u ^ (recipe.seed * 0x9e3779b9u);
  for (auto& byte : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x >> 11);
  }

  put32(image, 0, 0x20082000);          // stack top
  put32(image, 4, kFlashBase + 0x201);  // reset handler, Thumb
  for (std::uint32_t v = 2; v < 68; ++v) put32(image, 4 * v, kFlashBase + 0x1f9);

  if (recipe.bootable) {
    // Executable, Arm, secure, RP2350; the only block, its link pointing at itself.
    put32(image, kImageDef, kBlockMarkerStart);
    put32(image, kImageDef + 4, 0x10210142);
    put32(image, kImageDef + 8, 0x000001ff);
    put32(image, kImageDef + 12, 0);
    put32(image, kImageDef + 16, kBlockMarkerEnd);
  } else {
    std::fill(image.begin() + kImageDef, image.begin() + kImageDef + 20, 0);
  }
  if (!recipe.binaryInfo) {
    std::fill(image.begin() + kInfoHeader, image.begin() + kInfoHeader + 20, 0);
    return image;
  }

  // The texts, entries, pointer array and copy table sit in the last kilobyte; the version and
  // what follows it travel to RAM when the entries live there.
  ProgramInfoWriter info(image, size - 1024, kFlashBase);
  std::vector<ProgramInfoEntry> entries;
  entries.push_back(
      {kBinaryInfoTypeIdAndString, kBinaryInfoIdPicoBoard, info.addText("tarnwick_bridge")});
  if (!recipe.program.empty()) {
    entries.push_back(
        {kBinaryInfoTypeIdAndString, kBinaryInfoIdProgramName, info.addText(recipe.program)});
  }
  if (recipe.entriesInRam) info.moveRestToRam(kRamCopy);
  if (!recipe.version.empty()) {
    entries.push_back(
        {kBinaryInfoTypeIdAndString, kBinaryInfoIdProgramVersion, info.addText(recipe.version)});
  }
  writeProgramInfoHeader(image, kInfoHeader, info.finish(entries));
  return image;
}

std::vector<std::uint8_t> makeUf2(const std::vector<std::uint8_t>& image, std::uint32_t base,
                                  std::uint32_t family) {
  std::uint32_t blocks = static_cast<std::uint32_t>((image.size() + 255) / 256);
  std::vector<std::uint8_t> file(std::size_t(blocks) * 512, 0);
  for (std::uint32_t i = 0; i < blocks; ++i) {
    std::vector<std::uint8_t> block(512, 0);
    std::uint32_t header[8] = {
        kUf2MagicStart0, kUf2MagicStart1, kUf2FlagFamilyPresent, base + 256 * i, 256, i,
        blocks,          family};
    for (int w = 0; w < 8; ++w) put32(block, 4 * w, header[w]);
    std::size_t n = std::min<std::size_t>(256, image.size() - std::size_t(i) * 256);
    std::memcpy(block.data() + 32, image.data() + std::size_t(i) * 256, n);
    put32(block, 508, kUf2MagicEnd);
    std::copy(block.begin(), block.end(), file.begin() + std::size_t(i) * 512);
  }
  return file;
}

void writeImage(NorFlash& flash, const std::vector<std::uint8_t>& image, std::uint32_t base) {
  std::uint32_t offset = base - kFlashBase;
  for (std::uint32_t at = 0; at < image.size(); at += kFlashSectorSize) {
    flash.eraseSector(offset + at);
  }
  std::vector<std::uint8_t> page(kFlashPageSize);
  for (std::uint32_t at = 0; at < image.size(); at += kFlashPageSize) {
    std::size_t n = std::min<std::size_t>(kFlashPageSize, image.size() - at);
    std::fill(page.begin(), page.end(), 0xFF);
    std::memcpy(page.data(), image.data() + at, n);
    flash.programPage(offset + at, page.data(), page.size());
  }
}

std::uint32_t writeUf2(NorFlash& flash, const std::vector<std::uint8_t>& uf2) {
  Uf2Download download(Uf2Rules::rp2350());
  std::uint32_t written = 0;
  for (std::size_t at = 0; at + 512 <= uf2.size(); at += 512) {
    Uf2Download::Page page;
    if (download.accept(uf2.data() + at, page) == Uf2Download::Outcome::Ignored) continue;
    std::uint32_t offset = page.address - kFlashBase;
    if (offset >= 0x01000000) continue;  // nothing on the second chip select
    if (page.eraseFirst) flash.eraseSector(offset);
    flash.programPage(offset, page.data, kFlashPageSize);
    ++written;
  }
  return written;
}

std::vector<std::uint8_t> makeReleaseUf2(const std::string& version) {
  constexpr std::uint32_t kReleaseBlocks = 5068;  // the built-in image's size
  FirmwareRecipe recipe;
  recipe.version = version;
  recipe.size = kReleaseBlocks * 256;
  recipe.seed = 7;
  return makeUf2(makeFirmwareImage(recipe));
}

}  // namespace tw::sim
