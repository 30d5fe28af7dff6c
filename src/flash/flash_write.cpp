// Writing the image over PICOBOOT. Only the sectors that differ are erased and written, in runs of
// up to one 64 KB block. The boot sector is erased first and written last, so that until the very
// end the board would restart into update mode rather than into half an image; every sector is
// then read back. When anything fails after the image began to change, the boot sector is erased
// again (as far as the board still answers) for the same reason, and exclusive access is given
// back so that the RP2350 drive can take the file instead.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/text.h"
#include "firmware/program_info.h"
#include "flash/board_probe.h"
#include "flash/install_work.h"
#include "flash/our_firmware.h"

namespace tw {
namespace {

constexpr std::uint32_t kRetrySleepMs = 200;
constexpr std::uint32_t kRebootDelayMs = 500;

class FlashWriteSession {
 public:
  FlashWriteSession(FirmwareJobContext& job, const PicobootPorts& picoboot, const BoardWrite& what)
      : job_(job), picoboot_(picoboot), write_(what), image_(what.image) {}
  ~FlashWriteSession() { closePicoboot(device_); }

  BoardWritten run() {
    if (write_.path.empty()) {
      return failed("Windows didn't offer this app the dongle's USB update interface");
    }
    if (!openPicoboot(picoboot_, device_, write_.path)) {
      char why[kFailureTextCapacity];
      describeFailure(device_, why, sizeof why);
      return failed(
          formatText(JOB_TEXT_CAPACITY, "couldn't open the dongle's update interface (%s)", why));
    }
    if (!allocate()) {
      giveBack();
      return failed("out of memory");
    }
    if (!resetInterface(device_) || !exclusiveAccess(device_, kPicobootExclusive) ||
        !exitXip(device_)) {
      return picobootFailure();
    }
    if (!write_.confirm) {
      std::string refusal;
      if (!checkBoardAgain(refusal)) return picobootFailure();
      if (!refusal.empty()) {
        giveBack();
        done_.result = StageResult::refused(refusal);
        return done_;
      }
    }
    if (!compare()) return picobootFailure();
    if (needsWriteCount_ > 0 && !write()) return picobootFailure();
    if (write_.repair && !clearSettings()) return picobootFailure();
    const bool verifies = write_.repair || done_.imageChanged;
    if (verifies && !verify()) return picobootFailure();
    restart();
    done_.result = verifies ? StageResult::written() : StageResult::nothingToWrite();
    return done_;
  }

 private:
  BoardWritten failed(std::string tech) {
    done_.result = StageResult::failed({}, std::move(tech));
    return done_;
  }

  bool allocate() {
    sectors_ = image_.size / kFlashSectorSize;
    touched_.reset(new (std::nothrow) std::uint8_t[sectors_]());
    needsWrite_.reset(new (std::nothrow) std::uint8_t[sectors_]());
    buffer_.reset(new (std::nothrow) std::uint8_t[kFlashBlockSize]);
    return touched_ && needsWrite_ && buffer_;
  }

  std::uint32_t sectorAddress(std::uint32_t sector) const {
    return image_.base + sector * kFlashSectorSize;
  }
  const std::uint8_t* imageSector(std::uint32_t sector) const {
    return image_.data.get() + std::size_t(sector) * kFlashSectorSize;
  }

  // The same board, looked at once more now that nobody else can reach it: a board that was
  // swapped or changed since it was probed must not be overwritten unasked.
  bool checkBoardAgain(std::string& refusal) {
    FlashPageReader reader;
    reader.device = &device_;
    char program[kProbeNameCapacity];
    char version[kProbeNameCapacity];
    const int info =
        readProgramInfo(readFlashCached, &reader, program, sizeof program, version, sizeof version);
    // A scan the board broke off says nothing about whose firmware it holds; the write will find
    // out whether it still answers.
    if (info < 0 || (info == 1 && reader.usbFailed)) return true;
    if (info == 1 && std::strcmp(program, kOurProgramName) == 0) return true;
    std::string recorded;
    if (info == 1) {
      recorded = program[0] != '\0' ? program : "unnamed";
      refusal = formatText(JOB_TEXT_CAPACITY,
                           "This board runs \xE2\x80\x9C%s\xE2\x80\x9D, not Tarnwick firmware, so "
                           "this app left it alone.",
                           recorded.c_str());
    } else {
      std::uint8_t* first = buffer_.get();
      if (!readFlash(device_, kFlashStart, first, kFlashSectorSize)) return false;
      const bool blank =
          std::all_of(first, first + kFlashSectorSize, [](std::uint8_t b) { return b == 0xFF; });
      if (blank || std::memcmp(first, image_.data.get(), kFlashSectorSize) == 0) return true;
      refusal = "This board has firmware this app doesn't recognise, so this app left it alone.";
    }
    job_.recordForeignBoard(recorded);
    return true;
  }

  // Calls `step` for each 64 KB block of flash that holds touched sectors, with the first and last
  // of them; stops at the first false.
  template <typename Step>
  bool eachBlock(Step step) {
    for (std::uint32_t start = 0; start < sectors_; start += kSectorsPerBlock) {
      const std::uint32_t end = std::min(start + kSectorsPerBlock, sectors_);
      std::uint32_t first = end;
      std::uint32_t last = start;
      for (std::uint32_t s = start; s < end; ++s) {
        if (!touched_[s]) continue;
        first = std::min(first, s);
        last = s;
      }
      if (first < end && !step(first, last)) return false;
    }
    return true;
  }

  std::uint32_t touchedBetween(std::uint32_t first, std::uint32_t last) const {
    std::uint32_t count = 0;
    for (std::uint32_t s = first; s <= last; ++s) count += touched_[s];
    return count;
  }

  bool readSpan(std::uint32_t first, std::uint32_t last) {
    return readFlash(device_, sectorAddress(first), buffer_.get(),
                     (last - first + 1) * kFlashSectorSize);
  }

  bool compare() {
    for (std::uint32_t s = 0; s < sectors_; ++s) {
      touched_[s] = sectorHasData(image_, sectorAddress(s)) ? 1 : 0;
      touchedCount_ += touched_[s];
    }
    job_.setProgress(JobPhase::Write, 15, "Checking what\xE2\x80\x99s on the dongle\xE2\x80\xA6");
    const std::uint32_t touched = std::max<std::uint32_t>(touchedCount_, 1);
    std::uint32_t compared = 0;
    return eachBlock([&](std::uint32_t first, std::uint32_t last) {
      if (!readSpan(first, last)) return false;
      for (std::uint32_t s = first; s <= last; ++s) {
        if (!touched_[s]) continue;
        const std::uint8_t* onBoard = buffer_.get() + (s - first) * kFlashSectorSize;
        if (s == 0) std::memcpy(bootSectorBefore_, onBoard, kFlashSectorSize);
        if (std::memcmp(onBoard, imageSector(s), kFlashSectorSize) != 0) {
          needsWrite_[s] = 1;
          ++needsWriteCount_;
        }
      }
      compared += touchedBetween(first, last);
      job_.setProgress(JobPhase::None, static_cast<int>(15 + 10 * compared / touched));
      return true;
    });
  }

  bool eraseAndWrite(std::uint32_t first, std::uint32_t count) {
    return eraseFlash(device_, sectorAddress(first), count * kFlashSectorSize) &&
           writeFlash(device_, sectorAddress(first), imageSector(first), count * kFlashSectorSize);
  }

  // The boot sector goes first: while it is erased the board cannot start whatever the rest of
  // the flash holds. Both attempts failing may still have changed it; a read tells.
  bool eraseBootSector() {
    imageChanging_ = true;
    if (eraseFlash(device_, kFlashStart, kFlashSectorSize) ||
        eraseFlash(device_, kFlashStart, kFlashSectorSize)) {
      done_.imageChanged = true;
      return true;
    }
    const std::string tech = failureText();
    std::uint8_t now[kFlashSectorSize];
    done_.imageChanged = !readFlash(device_, kFlashStart, now, sizeof now) ||
                         std::memcmp(now, bootSectorBefore_, sizeof now) != 0;
    imageChanging_ = done_.imageChanged;
    tech_ = tech;
    return false;
  }

  bool write() {
    job_.setProgress(JobPhase::Write, 25, "Writing firmware\xE2\x80\xA6 0%%");
    const bool bootLast = touched_[0] != 0;
    if (bootLast) {
      if (!needsWrite_[0]) {
        needsWrite_[0] = 1;
        ++needsWriteCount_;
      }
      if (!eraseBootSector()) return false;
    }
    std::uint32_t written = 0;
    for (std::uint32_t s = bootLast ? 1 : 0; s < sectors_; ++s) {
      if (!needsWrite_[s]) continue;
      std::uint32_t count = 1;
      while (s + count < sectors_ && needsWrite_[s + count] && count < kSectorsPerBlock) {
        ++count;
      }
      imageChanging_ = true;
      done_.imageChanged = true;
      if (!eraseAndWrite(s, count)) {
        job_.clock().sleepMs(kRetrySleepMs);
        if (!eraseAndWrite(s, count)) return false;
      }
      written += count;
      const unsigned percent = 100 * written / needsWriteCount_;
      job_.setProgress(JobPhase::None, static_cast<int>(25 + 50 * written / needsWriteCount_),
                       "Writing firmware\xE2\x80\xA6 %u%%", percent);
      s += count - 1;
    }
    if (bootLast) {
      bool done = writeFlash(device_, kFlashStart, imageSector(0), kFlashSectorSize);
      for (int retry = 0; !done && retry < 2; ++retry) {
        job_.clock().sleepMs(kRetrySleepMs);
        done = eraseAndWrite(0, 1);
      }
      if (!done) return false;
    }
    job_.setProgress(JobPhase::None, 75, "Writing firmware\xE2\x80\xA6 100%%");
    return true;
  }

  bool clearSettings() {
    job_.setProgress(JobPhase::None, 76, "Clearing settings and paired controllers\xE2\x80\xA6");
    // The settings are not the image: a failure here leaves the firmware as whole as it was.
    done_.settingsErasing = true;
    done_.settingsErased = eraseFlash(device_, kSettingsAddress, kSettingsSize) ||
                           eraseFlash(device_, kSettingsAddress, kSettingsSize);
    return done_.settingsErased;
  }

  // A sector that read back wrong gets one more erase and write before the job gives up on it.
  bool rewriteSector(std::uint32_t sector) {
    imageChanging_ = true;
    done_.imageChanged = true;
    if (!eraseAndWrite(sector, 1)) {
      job_.clock().sleepMs(kRetrySleepMs);
      if (!eraseAndWrite(sector, 1)) return false;
    }
    std::uint8_t* back = buffer_.get();
    bool read = readFlash(device_, sectorAddress(sector), back, kFlashSectorSize) ||
                readFlash(device_, sectorAddress(sector), back, kFlashSectorSize);
    if (!read || std::memcmp(back, imageSector(sector), kFlashSectorSize) != 0) {
      tech_ = formatText(JOB_TEXT_CAPACITY, "the dongle didn't keep what was written at 0x%08lx",
                         static_cast<unsigned long>(sectorAddress(sector)));
      return false;
    }
    return true;
  }

  bool verify() {
    job_.setProgress(JobPhase::Verify, 78, "Checking the write\xE2\x80\xA6");
    const std::uint32_t touched = std::max<std::uint32_t>(touchedCount_, 1);
    std::uint32_t verified = 0;
    const bool keptAll = eachBlock([&](std::uint32_t first, std::uint32_t last) {
      if (!readSpan(first, last) && !readSpan(first, last)) return false;
      std::uint32_t differing[kSectorsPerBlock];
      std::uint32_t differ = 0;
      for (std::uint32_t s = first; s <= last; ++s) {
        const std::uint8_t* onBoard = buffer_.get() + (s - first) * kFlashSectorSize;
        if (touched_[s] && std::memcmp(onBoard, imageSector(s), kFlashSectorSize) != 0) {
          differing[differ++] = s;
        }
      }
      for (std::uint32_t i = 0; i < differ; ++i) {
        if (!rewriteSector(differing[i])) return false;
      }
      verified += touchedBetween(first, last);
      job_.setProgress(JobPhase::None, static_cast<int>(78 + 14 * verified / touched));
      return true;
    });
    if (!keptAll) return false;
    if (write_.repair) {
      std::uint8_t* settings = buffer_.get();
      if (!readFlash(device_, kSettingsAddress, settings, kSettingsSize)) return false;
      if (!std::all_of(settings, settings + kSettingsSize,
                       [](std::uint8_t b) { return b == 0xFF; })) {
        tech_ = "the dongle's settings didn't clear";
        done_.settingsErased = false;
        return false;
      }
    }
    verifiedImage_ = true;
    done_.settingsCleared = write_.repair;
    return true;
  }

  void restart() {
    job_.setProgress(JobPhase::Restart, 94, "Restarting the dongle\xE2\x80\xA6");
    done_.rebootFailed = !reboot(device_, kRebootDelayMs);
    closePicoboot(device_);
  }

  std::string failureText() {
    char why[kFailureTextCapacity];
    describeFailure(device_, why, sizeof why);
    return formatText(JOB_TEXT_CAPACITY, "USB write to the dongle failed (%s)", why);
  }

  // Keeps the first technical text, leaves the board safe, and hands it to the drive copy.
  BoardWritten picobootFailure() {
    if (tech_.empty()) tech_ = failureText();
    if (imageChanging_ && !verifiedImage_) {
      // Whatever the flash holds now is not a checked image: keep the board from starting it.
      resetInterface(device_);
      eraseFlash(device_, kFlashStart, kFlashSectorSize);
    }
    giveBack();
    return failed(tech_);
  }

  // Exclusive access would keep the RP2350 drive locked; the board is closed either way.
  void giveBack() {
    if (device_.usb) {
      resetInterface(device_);
      exclusiveAccess(device_, kPicobootNotExclusive);
    }
    closePicoboot(device_);
  }

  FirmwareJobContext& job_;
  const PicobootPorts& picoboot_;
  const BoardWrite& write_;
  const FirmwareImage& image_;
  BoardWritten done_;
  std::string tech_;  // the first failure's technical text

  // Per sector of the image: touched by the image, and found to differ from the board.
  std::unique_ptr<std::uint8_t[]> touched_;
  std::unique_ptr<std::uint8_t[]> needsWrite_;
  std::unique_ptr<std::uint8_t[]> buffer_;  // one 64 KB block of flash
  std::uint32_t sectors_ = 0;
  std::uint32_t touchedCount_ = 0;
  std::uint32_t needsWriteCount_ = 0;

  PicobootDevice device_;
  std::uint8_t bootSectorBefore_[kFlashSectorSize];
  bool imageChanging_ = false;  // an erase or write of the image's sectors was sent
  bool verifiedImage_ = false;
};

}  // namespace

BoardWritten writeOverPicoboot(FirmwareJobContext& job, const PicobootPorts& picoboot,
                               const BoardWrite& write) {
  FlashWriteSession session(job, picoboot, write);
  return session.run();
}

}  // namespace tw
