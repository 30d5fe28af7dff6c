// The Pico SDK's binary information as a program carries it: a 20-byte header in the first
// kilobyte pointing at an array of entry pointers, the entries (an id with a text or a number),
// their texts, and the copy table through which entries that live in RAM once the program runs
// are found. The one writer of this layout, for the simulated world's images and for the built-in
// stand-in the build generates; it needs nothing but the standard library, so the build can
// compile it into a tool with the host's compiler.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tw::sim {

inline constexpr std::uint32_t kBinaryInfoMarkerStart = 0x7188ebf2;
inline constexpr std::uint32_t kBinaryInfoMarkerEnd = 0xe71aa390;
inline constexpr std::uint16_t kBinaryInfoTypeIdAndInt = 5;
inline constexpr std::uint16_t kBinaryInfoTypeIdAndString = 6;
inline constexpr std::uint16_t kBinaryInfoTagRaspberryPi = 0x5052;  // "RP"

inline constexpr std::uint32_t kBinaryInfoIdProgramName = 0x02031c86;
inline constexpr std::uint32_t kBinaryInfoIdProgramVersion = 0x11a9bc3a;
inline constexpr std::uint32_t kBinaryInfoIdProgramDescription = 0xb6a07c19;
inline constexpr std::uint32_t kBinaryInfoIdProgramBuildDate = 0x9da22254;
inline constexpr std::uint32_t kBinaryInfoIdBinaryEnd = 0x68f465de;
inline constexpr std::uint32_t kBinaryInfoIdPicoBoard = 0xb63cffbb;
inline constexpr std::uint32_t kBinaryInfoIdSdkVersion = 0x5360b3ab;

struct ProgramInfoEntry {
  std::uint16_t type;  // kBinaryInfoTypeIdAndString or kBinaryInfoTypeIdAndInt
  std::uint32_t id;
  std::uint32_t value;  // the text's address as the program sees it, or the number
};

// One row of the copy table: bytes from `source` in flash land at `destination` up to `end`.
struct CopyTableRow {
  std::uint32_t source;
  std::uint32_t destination;
  std::uint32_t end;
};

// What the header points at, as the program sees it.
struct ProgramInfoHeader {
  std::uint32_t pointers;
  std::uint32_t pointersEnd;
  std::uint32_t copyTable;
};

// Lays the information out upwards from one offset of a flash image: texts first, then the
// entries, their pointer array and the copy table. Padding after a text keeps whatever the image
// held there. The caller sees that the image has room for what it places.
class ProgramInfoWriter {
 public:
  // `image` starts at `flashBase`; the layout begins at offset `at`.
  ProgramInfoWriter(std::vector<std::uint8_t>& image, std::uint32_t at, std::uint32_t flashBase);

  // Places a NUL-terminated text at the next free spot, then moves on to a word boundary; the
  // address the program finds it at.
  std::uint32_t addText(std::string_view text);
  // Everything placed from here on (texts, entries, pointer array) is copied to `ramAddress` when
  // the program starts, and is found there.
  void moveRestToRam(std::uint32_t ramAddress);
  // Writes the entries in order, their pointer array, and the copy table: `rows`, then the row
  // that moves the rest to RAM when asked for, then the terminating row of zeros.
  ProgramInfoHeader finish(const std::vector<ProgramInfoEntry>& entries,
                           const std::vector<CopyTableRow>& rows = {});

 private:
  std::uint32_t address(std::uint32_t offset) const;

  std::vector<std::uint8_t>& image_;
  std::uint32_t at_;
  std::uint32_t flashBase_;
  bool toRam_ = false;
  std::uint32_t ramFrom_ = 0;  // offset of the first byte copied to RAM
  std::uint32_t ramAddress_ = 0;
};

// The 20-byte header with its two markers, at offset `at` of the image.
void writeProgramInfoHeader(std::vector<std::uint8_t>& image, std::uint32_t at,
                            const ProgramInfoHeader& header);

}  // namespace tw::sim
