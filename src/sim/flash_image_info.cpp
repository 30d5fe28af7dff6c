#include "sim/flash_image_info.h"

#include <algorithm>
#include <cstring>

namespace tw::sim {
namespace {

constexpr std::uint32_t kBootSearch = kBlockSearchWindow;
constexpr std::uint32_t kInfoSearch = 1024;  // where the SDK puts the info header
constexpr std::uint32_t kFlashWindow = 0x01000000;
constexpr std::size_t kCopyEntriesMax = 10;
constexpr std::size_t kPointersMax = 256;
constexpr std::size_t kStringMax = 64;

std::uint32_t word(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

bool inFlash(std::uint32_t address) {
  return address >= kFlashBase && address - kFlashBase < kFlashWindow;
}

class InfoReader {
 public:
  explicit InfoReader(const FlashReader& read) : read_(read) {}

  void run(const std::uint8_t* first, FlashImageInfo& info) {
    for (std::uint32_t i = 0; i + 4 < kInfoSearch / 4; ++i) {
      const std::uint8_t* header = first + 4 * i;
      if (word(header) != kBinaryInfoMarkerStart || word(header + 16) != kBinaryInfoMarkerEnd) {
        continue;
      }
      std::uint32_t start = word(header + 4);
      std::uint32_t end = word(header + 8);
      if (start >= end || (start | end) & 3) continue;
      info.binaryInfo = true;
      readCopyTable(word(header + 12));
      readEntries(start, end, info);
      return;
    }
  }

 private:
  struct Copy {
    std::uint32_t source, start, end;
  };

  void readCopyTable(std::uint32_t at) {
    if (!inFlash(at)) return;
    while (copies_.size() < kCopyEntriesMax) {
      std::uint8_t entry[12];
      if (!read_(at, entry, sizeof entry) || word(entry) == 0) return;
      copies_.push_back(Copy{word(entry), word(entry + 4), word(entry + 8)});
      at += sizeof entry;
    }
  }

  // Where an address the running program uses lies in flash; 0 when it does not.
  std::uint32_t locate(std::uint32_t address) const {
    for (const Copy& copy : copies_) {
      if (address >= copy.start && address < copy.end) return copy.source + (address - copy.start);
    }
    return inFlash(address) ? address : 0;
  }

  void readEntries(std::uint32_t start, std::uint32_t end, FlashImageInfo& info) {
    std::uint32_t at = locate(start);
    std::size_t count = std::min<std::size_t>((end - start) / 4, kPointersMax);
    std::vector<std::uint8_t> pointers(count * 4);
    if (at == 0 || !read_(at, pointers.data(), pointers.size())) return;
    bool haveProgram = false, haveVersion = false;
    for (std::size_t i = 0; i < count; ++i) {
      std::uint32_t entryAt = locate(word(pointers.data() + 4 * i));
      std::uint8_t entry[12];
      if (entryAt == 0 || !read_(entryAt, entry, sizeof entry)) continue;
      std::uint16_t type = static_cast<std::uint16_t>(entry[0] | entry[1] << 8);
      std::uint16_t tag = static_cast<std::uint16_t>(entry[2] | entry[3] << 8);
      if (type != kBinaryInfoTypeIdAndString || tag != kBinaryInfoTagRaspberryPi) continue;
      std::uint32_t id = word(entry + 4);
      if (id == kBinaryInfoIdProgramName && !haveProgram) {
        haveProgram = readString(word(entry + 8), info.program);
      } else if (id == kBinaryInfoIdProgramVersion && !haveVersion) {
        haveVersion = readString(word(entry + 8), info.version);
      }
    }
  }

  bool readString(std::uint32_t address, std::string& out) {
    std::uint32_t at = locate(address);
    std::uint8_t text[kStringMax];
    if (at == 0 || !read_(at, text, sizeof text)) return false;
    std::uint8_t* zero = std::find(text, text + sizeof text, 0);
    if (zero == text + sizeof text) return false;
    out.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(zero - text));
    return true;
  }

  const FlashReader& read_;
  std::vector<Copy> copies_;
};

}  // namespace

FlashImageInfo inspectFlashImage(const FlashReader& read) {
  FlashImageInfo info;
  std::vector<std::uint8_t> first(kBootSearch);
  if (!read(kFlashBase, first.data(), first.size())) return info;
  info.bootSectorErased =
      std::all_of(first.begin(), first.end(), [](std::uint8_t b) { return b == 0xFF; });
  const BlockLoop loop = findBlockLoop(read, kFlashBase);
  // A loop with a partition table is partition boot, which these boards are not set up for.
  info.bootable = loop.imageDef && !loop.partitionTable && startsOnRp2350(loop.imageTypeFlags);
  InfoReader(read).run(first.data(), info);
  return info;
}

FlashImageInfo inspectFlash(const NorFlash& flash) {
  return inspectFlashImage([&flash](std::uint32_t address, std::uint8_t* out, std::size_t length) {
    if (!inFlash(address) || length > kFlashWindow - (address - kFlashBase)) return false;
    flash.read(address - kFlashBase, out, length);
    return true;
  });
}

FlashImageInfo inspectImage(const std::vector<std::uint8_t>& image, std::uint32_t base) {
  return inspectFlashImage(
      [&image, base](std::uint32_t address, std::uint8_t* out, std::size_t length) {
        if (address < base || address - base > image.size() ||
            length > image.size() - (address - base)) {
          return false;
        }
        std::memcpy(out, image.data() + (address - base), length);
        return true;
      });
}

}  // namespace tw::sim
