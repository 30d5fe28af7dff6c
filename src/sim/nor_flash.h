// A QSPI NOR flash chip as the board carries it: erasing a 4 KB sector sets every bit of it,
// programming a page can only clear bits (so programming over data that was not erased leaves
// the AND of both), and nothing else changes it. Offsets are within the chip; mapping the XIP
// window onto them is the boot ROM's business. Erased sectors take no memory, so a World with a
// 4 MB chip stays cheap.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tw::sim {

inline constexpr std::uint32_t kFlashBase = 0x10000000;  // where the chip appears through XIP
inline constexpr std::uint32_t kFlashSectorSize = 4096;
inline constexpr std::uint32_t kFlashPageSize = 256;
inline constexpr std::uint32_t kDefaultFlashSize = 4 * 1024 * 1024;

class NorFlash {
 public:
  explicit NorFlash(std::uint32_t size = kDefaultFlashSize);
  NorFlash(const NorFlash&) = delete;
  NorFlash& operator=(const NorFlash&) = delete;

  std::uint32_t size() const { return size_; }

  // Offsets beyond the chip wrap around: the chip ignores the address bits it does not have.
  void eraseSector(std::uint32_t offset);
  void eraseAll();
  // Programs up to one page; like the chip's page program, bytes past the end of the page wrap
  // to its start.
  void programPage(std::uint32_t offset, const std::uint8_t* data, std::size_t length);
  void read(std::uint32_t offset, std::uint8_t* out, std::size_t length) const;
  std::vector<std::uint8_t> read(std::uint32_t offset, std::size_t length) const;
  bool sectorErased(std::uint32_t offset) const;
  // Counts every erase and program, so a watcher can tell cheaply whether anything changed.
  std::uint64_t changes() const;

 private:
  using Sector = std::array<std::uint8_t, kFlashSectorSize>;
  std::uint32_t wrap(std::uint32_t offset) const { return offset % size_; }

  std::uint32_t size_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Sector>> sectors_;  // null: erased
  std::uint64_t changes_ = 0;
};

}  // namespace tw::sim
