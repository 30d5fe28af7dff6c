// Small builders for the firmware tests: UF2 files block by block, and a sparse flash that
// answers reads the way a board or an image would.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace tw::test {

inline void put32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(value >> (8 * i));
}

struct Uf2Block {
  std::uint32_t target = 0x10000000;
  std::uint32_t blockNo = 0;
  std::uint32_t numBlocks = 1;
  std::uint32_t family = 0xe48bff59;
  std::uint32_t flags = 0x2000;
  std::uint32_t payloadSize = 256;
  std::uint32_t magic0 = 0x0a324655, magic1 = 0x9e5d5157, magicEnd = 0x0ab16f30;
  std::uint8_t fill = 0x5a;
};

inline void appendBlock(std::vector<std::uint8_t>& file, const Uf2Block& block,
                        const std::uint8_t* payload = nullptr) {
  std::size_t at = file.size();
  file.resize(at + 512, 0);
  std::uint8_t* p = file.data() + at;
  std::uint32_t words[8] = {block.magic0,      block.magic1,  block.flags,     block.target,
                            block.payloadSize, block.blockNo, block.numBlocks, block.family};
  for (int i = 0; i < 8; ++i) put32(p + 4 * i, words[i]);
  if (payload != nullptr) {
    std::memcpy(p + 32, payload, 256);
  } else {
    std::memset(p + 32, block.fill, 256);
  }
  put32(p + 508, block.magicEnd);
}

// A well-formed file of `count` consecutive blocks from `target`.
inline std::vector<std::uint8_t> consecutiveBlocks(std::uint32_t count,
                                                   std::uint32_t target = 0x10000000) {
  std::vector<std::uint8_t> file;
  for (std::uint32_t i = 0; i < count; ++i) {
    Uf2Block block;
    block.target = target + i * 256;
    block.blockNo = i;
    block.numBlocks = count;
    block.fill = std::uint8_t(i);
    appendBlock(file, block);
  }
  return file;
}

// A UF2 file carrying `flash` (a multiple of 256 bytes) from 0x10000000.
inline std::vector<std::uint8_t> uf2FromFlash(const std::vector<std::uint8_t>& flash) {
  std::vector<std::uint8_t> file;
  std::uint32_t count = std::uint32_t(flash.size() / 256);
  for (std::uint32_t i = 0; i < count; ++i) {
    Uf2Block block;
    block.target = 0x10000000 + i * 256;
    block.blockNo = i;
    block.numBlocks = count;
    appendBlock(file, block, flash.data() + i * 256);
  }
  return file;
}

// Flash regions at fixed addresses; a read succeeds only inside one region, and reads can be
// made to fail at chosen addresses. Counts reads, since a board is read over USB.
class SparseFlash {
 public:
  std::vector<std::uint8_t>& region(std::uint32_t address, std::size_t size,
                                    std::uint8_t fill = 0xff) {
    regions_.push_back(Region{address, std::vector<std::uint8_t>(size, fill)});
    return regions_.back().bytes;
  }
  void set32(std::uint32_t address, std::uint32_t value) {
    std::uint8_t bytes[4];
    put32(bytes, value);
    set(address, bytes, 4);
  }
  void setText(std::uint32_t address, const std::string& text) {
    set(address, text.c_str(), text.size() + 1);
  }
  void set(std::uint32_t address, const void* bytes, std::size_t length) {
    for (Region& r : regions_) {
      if (address >= r.address && address - r.address + length <= r.bytes.size()) {
        std::memcpy(r.bytes.data() + (address - r.address), bytes, length);
        return;
      }
    }
    std::abort();  // a test wrote outside its own regions
  }
  void failReadsAt(std::uint32_t address) { failing_.push_back(address); }

  static bool read(void* context, std::uint32_t address, void* buffer, std::size_t length) {
    auto* self = static_cast<SparseFlash*>(context);
    ++self->reads;
    for (std::uint32_t failing : self->failing_) {
      if (failing == address) return false;
    }
    for (const Region& r : self->regions_) {
      if (address >= r.address && std::uint64_t(address - r.address) + length <= r.bytes.size()) {
        std::memcpy(buffer, r.bytes.data() + (address - r.address), length);
        return true;
      }
    }
    return false;
  }

  int reads = 0;

 private:
  struct Region {
    std::uint32_t address;
    std::vector<std::uint8_t> bytes;
  };
  std::deque<Region> regions_;  // references from region() stay valid
  std::vector<std::uint32_t> failing_;
};

}  // namespace tw::test
