// Writes a stand-in RP2350 firmware image as a UF2 file: a vector table, an image definition that
// declares a data image (so no RP2350 would ever run it), the binary-information header and
// entries the way the Pico SDK lays them out, and deterministic filler for the code. The same
// arguments always give the same bytes.
//
//   make_firmware_image --out FILE [--version TEXT] [--program TEXT] [--blocks N]
//                       [--layout flash|copy-table|none] [--absolute-block] [--seed N]
//
// --layout flash       info entries and strings in flash (the usual build)
// --layout copy-table  entry pointers and entries in RAM, found through the copy table
// --layout none        no binary information at all
// --absolute-block     put one RP2350 absolute-address block in front (as picotool does)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/program_info_layout.h"

namespace {

using namespace tw::sim;  // the program information's layout and ids

constexpr std::uint32_t kFlash = 0x10000000;
constexpr std::uint32_t kRam = 0x20000000;

// Picobin block layout, as the RP2350 boot ROM reads it.
constexpr std::uint32_t kBlockStart = 0xffffded3;
constexpr std::uint32_t kBlockEnd = 0xab123579;
constexpr std::uint32_t kItemImageType = 0x42;
constexpr std::uint32_t kItemLast = 0xff;
constexpr std::uint32_t kImageTypeData = 0x0002;  // not EXE (1): nothing the ROM would boot

struct Options {
  std::string out;
  std::string version = "0.9.3";
  std::string program = "korrinlink";
  std::uint32_t blocks = 5068;
  std::string layout = "flash";
  bool absoluteBlock = false;
  std::uint32_t seed = 1;
};

void put32(std::vector<std::uint8_t>& bytes, std::uint32_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(value >> (8 * i));
}

// Lays the flash out; returns its bytes (blocks * 256).
std::vector<std::uint8_t> buildFlash(const Options& options) {
  std::uint32_t flashSize = options.blocks * 256;
  std::vector<std::uint8_t> flash(flashSize);

  // Code and read-only data: filler from a fixed xorshift sequence.
  std::uint32_t state = 0x9e3779b9u ^ options.seed;
  for (auto& byte : flash) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = std::uint8_t(state);
  }

  // Vector table: 16 system and 52 interrupt vectors.
  put32(flash, 0, 0x20082000);      // initial stack pointer
  put32(flash, 4, kFlash + 0x15d);  // reset handler (Thumb)
  for (std::uint32_t v = 2; v < 68; ++v) put32(flash, v * 4, kFlash + 0x141);

  // The info block (strings, entries, pointer array) and the copy table sit near the end, as
  // .rodata and .data do, but never in the last 64 bytes.
  ProgramInfoWriter info(flash, (flashSize - 1024) & ~255u, kFlash);
  std::uint32_t programName = info.addText(options.program);
  std::uint32_t description = info.addText("DualSense link for the Tarnwick Bridge");
  std::uint32_t board = info.addText("tarnwick_bridge");
  std::uint32_t sdk = info.addText("2.1.0");
  std::uint32_t buildDate = info.addText("Mar 14 2025");
  // In the copy-table layout the version string travels with the entries into RAM.
  if (options.layout == "copy-table") info.moveRestToRam(kRam + 0x100);
  std::uint32_t versionText = info.addText(options.version);

  constexpr std::uint16_t kText = kBinaryInfoTypeIdAndString;
  std::vector<ProgramInfoEntry> entries = {
      {kText, kBinaryInfoIdPicoBoard, board},
      {kText, kBinaryInfoIdSdkVersion, sdk},
      {kText, kBinaryInfoIdProgramName, programName},
      {kText, kBinaryInfoIdProgramDescription, description},
      {kText, kBinaryInfoIdProgramVersion, versionText},
      {kText, kBinaryInfoIdProgramBuildDate, buildDate},
      {kBinaryInfoTypeIdAndInt, kBinaryInfoIdBinaryEnd, kFlash + flashSize},
  };
  // Initialised data comes first in the copy table; its RAM range holds nothing the reader needs.
  ProgramInfoHeader header =
      info.finish(entries, {{kFlash + 0x400, kRam + 0x40000, kRam + 0x40020}});
  // Binary info header right after the vector table.
  if (options.layout != "none") writeProgramInfoHeader(flash, 0x110, header);

  // The image definition block, linking to itself. It declares a data image, not an executable
  // one: these bytes are a stand-in, not firmware, and a real RP2350 must never run them. When the
  // boot ROM looks for something to boot it passes over every image definition whose image type
  // is not EXE (picobin image type 2 is DATA), so a board given this image finds nothing to boot
  // and stays in update mode. Only the vector table and the info header come before it, so it is
  // the first block the ROM finds in the first 4 KB, and the ROM follows only that block's loop,
  // which holds nothing else: whatever the filler after it happens to hold is never looked at.
  put32(flash, 0x124, kBlockStart);
  put32(flash, 0x128, kItemImageType | 1u << 8 | kImageTypeData << 16);  // one-word item
  put32(flash, 0x12c, kItemLast | 1u << 8);  // the items before it: one word
  put32(flash, 0x130, 0x00000000);           // link: back to this block
  put32(flash, 0x134, kBlockEnd);
  return flash;
}

void appendBlock(std::vector<std::uint8_t>& file, std::uint32_t flags, std::uint32_t target,
                 std::uint32_t number, std::uint32_t count, std::uint32_t family,
                 const std::uint8_t* payload) {
  std::size_t at = file.size();
  file.resize(at + 512, 0);
  std::uint32_t header[8] = {0x0a324655, 0x9e5d5157, flags, target, 256, number, count, family};
  for (int i = 0; i < 8; ++i) put32(file, std::uint32_t(at + 4 * i), header[i]);
  std::memcpy(file.data() + at + 32, payload, 256);
  put32(file, std::uint32_t(at + 508), 0x0ab16f30);
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--absolute-block") {
      options.absoluteBlock = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    if (arg == "--out") {
      options.out = value;
    } else if (arg == "--version") {
      options.version = value;
    } else if (arg == "--program") {
      options.program = value;
    } else if (arg == "--layout") {
      options.layout = value;
    } else if (arg == "--blocks") {
      options.blocks = std::uint32_t(std::strtoul(value.c_str(), nullptr, 10));
    } else if (arg == "--seed") {
      options.seed = std::uint32_t(std::strtoul(value.c_str(), nullptr, 10));
    } else {
      return false;
    }
  }
  bool knownLayout =
      options.layout == "flash" || options.layout == "copy-table" || options.layout == "none";
  // 8 blocks leave room for the header and the info block; the texts must fit a 64-byte read.
  return !options.out.empty() && knownLayout && options.blocks >= 8 && options.blocks <= 65535 &&
         options.version.size() <= 63 && options.program.size() <= 63;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: make_firmware_image --out FILE [--version TEXT] [--program TEXT] "
                 "[--blocks 8..65535] [--layout flash|copy-table|none] [--absolute-block] "
                 "[--seed N]\n");
    return 2;
  }
  std::vector<std::uint8_t> flash = buildFlash(options);
  std::vector<std::uint8_t> file;
  file.reserve((options.blocks + 1) * 512);
  if (options.absoluteBlock) {
    std::uint8_t filler[256];
    std::memset(filler, 0xef, sizeof filler);
    appendBlock(file, 0x2000, 0x10ffff00, 0, 1, 0xe48bff57, filler);
  }
  for (std::uint32_t i = 0; i < options.blocks; ++i) {
    appendBlock(file, 0x2000, kFlash + i * 256, i, options.blocks, 0xe48bff59,
                flash.data() + i * 256);
  }
  std::FILE* out = std::fopen(options.out.c_str(), "wb");
  if (out == nullptr) {
    std::perror(options.out.c_str());
    return 1;
  }
  bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  written = std::fclose(out) == 0 && written;
  if (!written) {
    std::fprintf(stderr, "%s: write failed\n", options.out.c_str());
    std::remove(options.out.c_str());
    return 1;
  }
  return 0;
}
