#include "firmware/program_info.h"

#include "firmware/firmware_image.h"

namespace tw {
namespace {

constexpr std::uint32_t kHeaderArea = 1024;
constexpr int kMaxCopyEntries = 10;
constexpr std::uint32_t kMaxEntryPointers = 256;
constexpr std::size_t kStringWindow = 64;

std::uint32_t word(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

std::uint16_t halfWord(const std::uint8_t* p) {
  return std::uint16_t(p[0] | (p[1] << 8));
}

bool inFlash(std::uint32_t address) {
  return address >= kFlashStart && address <= kFlashLast;
}

// The copy table tells where data that runs from RAM sits in flash; pointers in the info block
// may name the RAM copy.
struct CopyTable {
  std::uint32_t source[kMaxCopyEntries];
  std::uint32_t start[kMaxCopyEntries];
  std::uint32_t end[kMaxCopyEntries];
  int count = 0;
};

enum class Where { Flash, Translated, Nowhere };

// Resolves `address` to the flash address that holds its bytes. A translation to 0 and an
// untranslated address outside flash both give Nowhere.
Where locate(const CopyTable& table, std::uint32_t address, std::uint32_t& flashAddress) {
  for (int i = 0; i < table.count; ++i) {
    if (address >= table.start[i] && address < table.end[i]) {
      flashAddress = table.source[i] + (address - table.start[i]);
      return flashAddress == 0 ? Where::Nowhere : Where::Translated;
    }
  }
  if (!inFlash(address)) return Where::Nowhere;
  flashAddress = address;
  return Where::Flash;
}

void clearText(char* text, std::size_t capacity) {
  if (text != nullptr && capacity > 0) text[0] = '\0';
}

// True when a zero-terminated string was found at `address` (and copied, as far as it fits).
bool readString(FlashReader read, void* context, const CopyTable& table, std::uint32_t address,
                char* out, std::size_t capacity) {
  std::uint32_t flashAddress = 0;
  if (locate(table, address, flashAddress) == Where::Nowhere) return false;
  std::uint8_t bytes[kStringWindow];
  if (!read(context, flashAddress, bytes, sizeof bytes)) return false;
  std::size_t length = 0;
  while (length < sizeof bytes && bytes[length] != 0) ++length;
  if (length == sizeof bytes) return false;
  if (out == nullptr || capacity == 0) return true;
  std::size_t copied = 0;
  for (; copied < length && copied + 1 < capacity; ++copied) {
    std::uint8_t c = bytes[copied];
    out[copied] = (c >= 0x20 && c <= 0x7e) ? char(c) : '?';
  }
  out[copied] = '\0';
  return true;
}

}  // namespace

int readProgramInfo(FlashReader read, void* context, char* program, std::size_t programCapacity,
                    char* version, std::size_t versionCapacity) {
  clearText(program, programCapacity);
  clearText(version, versionCapacity);
  if (read == nullptr) return -1;

  std::uint8_t head[kHeaderArea];
  if (!read(context, kFlashStart, head, sizeof head)) return -1;

  int headerAt = -1;
  for (int i = 0; i + 4 < int(kHeaderArea / 4); ++i) {
    const std::uint8_t* w = head + 4 * i;
    std::uint32_t first = word(w + 4), last = word(w + 8);
    if (word(w) == kInfoMarkerStart && word(w + 16) == kInfoMarkerEnd && first < last &&
        first % 4 == 0 && last % 4 == 0) {
      headerAt = i;
      break;
    }
  }
  if (headerAt < 0) return 0;
  const std::uint8_t* header = head + 4 * headerAt;
  std::uint32_t pointersStart = word(header + 4);
  std::uint32_t pointersEnd = word(header + 8);
  std::uint32_t copyTableAt = word(header + 12);

  CopyTable table;
  if (inFlash(copyTableAt)) {
    for (std::uint32_t at = copyTableAt; table.count < kMaxCopyEntries; at += 12) {
      std::uint8_t entry[12];
      if (!read(context, at, entry, sizeof entry)) break;
      std::uint32_t source = word(entry);
      if (source == 0) break;
      table.source[table.count] = source;
      table.start[table.count] = word(entry + 4);
      table.end[table.count] = word(entry + 8);
      ++table.count;
    }
  }

  std::uint32_t arrayAt = 0;
  if (locate(table, pointersStart, arrayAt) == Where::Nowhere) return 1;
  std::uint32_t pointerCount = (pointersEnd - pointersStart) / 4;
  if (pointerCount > kMaxEntryPointers) pointerCount = kMaxEntryPointers;
  std::uint8_t pointers[kMaxEntryPointers * 4];
  if (!read(context, arrayAt, pointers, pointerCount * 4)) return 1;

  bool haveProgram = false, haveVersion = false;
  for (std::uint32_t i = 0; i < pointerCount && !(haveProgram && haveVersion); ++i) {
    std::uint32_t entryAt = 0;
    if (locate(table, word(pointers + 4 * i), entryAt) == Where::Nowhere) continue;
    std::uint8_t entry[12];
    if (!read(context, entryAt, entry, sizeof entry)) continue;
    if (halfWord(entry) != kInfoTypeIdAndString || halfWord(entry + 2) != kInfoTagRaspberryPi) {
      continue;
    }
    std::uint32_t id = word(entry + 4), text = word(entry + 8);
    if (id == kInfoIdProgramName && !haveProgram) {
      haveProgram = readString(read, context, table, text, program, programCapacity);
    } else if (id == kInfoIdProgramVersion && !haveVersion) {
      haveVersion = readString(read, context, table, text, version, versionCapacity);
    }
  }
  return 1;
}

}  // namespace tw
