// The mass-storage drive a boot ROM shows in update mode: a removable volume with its label and
// two read-only files (INDEX.HTM, INFO_UF2.TXT), onto which a UF2 file can be copied. The drive
// hands every complete 512-byte sector of a written file to the chip behind it, which decides
// what the sector means; the drive itself only knows files and Windows errors. It is a small
// self-contained object so that the simulated file system can mount it under a drive letter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/board_timing.h"
#include "sim/faults.h"

namespace tw::sim {

// Windows error numbers of file operations on the drive.
inline constexpr std::uint32_t kDriveErrorFileNotFound = 2;
inline constexpr std::uint32_t kDriveErrorWriteProtect = 19;
inline constexpr std::uint32_t kDriveErrorNotReady = 21;
inline constexpr std::uint32_t kDriveErrorWriteFault = 29;
// A block whose completion never came: Windows gives up on the write.
inline constexpr std::uint32_t kDriveErrorTimeout = 121;

inline constexpr std::size_t kDriveSectorSize = 512;

// The chip behind a drive.
class Uf2DriveChip {
 public:
  virtual ~Uf2DriveChip() = default;
  // The volume exists (the host has given it a drive letter).
  virtual bool driveAttached() = 0;
  // False while the medium is ejected.
  virtual bool driveMediaPresent() = 0;
  // One 512-byte sector of a file the host writes, at `nowMs`; false with a Windows error when
  // the drive refuses it. `costUs` receives the time it takes.
  virtual bool writeDriveSector(const std::uint8_t* sector, std::uint64_t nowMs,
                                std::uint64_t& costUs, std::uint32_t& error) = 0;
  // The host flushes the file: waits until the chip has finished every block handed to it. False
  // with a Windows error when a block's completion will never come.
  virtual bool finishDriveWrites(std::uint32_t& error) {
    (void)error;
    return true;
  }
  // Chip time of the block still being written, if any: Windows' write returns once the block is
  // handed over, and the host waits for the rest with its next block or its flush.
  virtual std::uint64_t driveWorkInFlightUs() { return 0; }
  // The board leaves the bus (a fault on demand: the drive vanishes in the middle of a copy).
  virtual void dropOffBus() = 0;
  // Counts the drive's arrivals: a volume that went and came back is another volume, and a file
  // opened on the one before is no longer writable.
  virtual std::uint64_t driveArrival() { return 0; }
  virtual CostMeter& meter() = 0;
};

class Uf2Drive : public std::enable_shared_from_this<Uf2Drive> {
 public:
  struct Profile {
    std::string label;
    std::string infoUf2;  // INFO_UF2.TXT
    std::string indexHtm;
  };
  static Profile rp2350();
  static Profile rp2040();

  struct File {
    std::string name;
    std::vector<std::uint8_t> bytes;
  };

  // A file being written, from CreateFileW to CloseHandle.
  class Writer {
   public:
    explicit Writer(std::shared_ptr<Uf2Drive> drive)
        : drive_(std::move(drive)), arrival_(drive_->arrival()) {}
    // WriteFile: the bytes follow the ones written before.
    bool write(const std::uint8_t* data, std::size_t size, std::size_t& written,
               std::uint32_t& error);
    // CloseHandle after FlushFileBuffers; a trailing part of a sector is dropped.
    bool close(std::uint32_t& error);

   private:
    bool usable(std::uint32_t& error);
    std::shared_ptr<Uf2Drive> drive_;
    const std::uint64_t arrival_;  // of the volume the file was opened on
    std::vector<std::uint8_t> partial_;
    std::uint64_t owedUs_ = 0;  // chip time of the last block handed over, not yet waited for
  };

  Uf2Drive(Profile profile, std::weak_ptr<Uf2DriveChip> chip)
      : profile_(std::move(profile)), chip_(std::move(chip)) {}

  const std::string& label() const { return profile_.label; }
  bool removable() const { return true; }
  bool attached();
  bool mediaPresent();
  std::uint64_t arrival();
  // The files in the root, as a directory listing shows them; none without a medium.
  std::vector<File> files();
  bool readFile(const std::string& name, std::vector<std::uint8_t>& bytes, std::uint32_t& error);
  // Creates (or replaces) a file for writing; nullptr with a Windows error when it cannot.
  std::unique_ptr<Writer> create(const std::string& name, std::uint32_t& error);

  // "drive-write" (each Writer::write call): Fail makes the write fail with ERROR_WRITE_FAULT;
  // Stall makes the board drop off the bus before the write, which then fails as not ready;
  // Busy takes the bytes without handing them to the chip, as a hung board would.
  FaultPlan faults;

 private:
  friend class Writer;
  bool usable(std::uint32_t& error);

  Profile profile_;
  std::weak_ptr<Uf2DriveChip> chip_;
};

}  // namespace tw::sim
