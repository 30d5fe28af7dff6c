// Writing the image over PICOBOOT. Only the sectors that differ are erased and written, in runs of
// up to one 64 KB block. The boot sector is erased first and written last, so that until the very
// end the board would restart into update mode rather than into half an image; every sector is
// then read back. When anything fails after the image began to change, the boot sector is erased
// again (as far as the board still answers) for the same reason, and exclusive access is given
// back so that the RP2350 drive can take the file instead.
#include <algorithm>
#include <cstring>
#include <new>

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
  explicit FlashWriteSession(InstallWork& work) : work_(work), job_(work.job) {}
  ~FlashWriteSession() { closePicoboot(device_); }

  // Nullopt with `failed` clear when the board was written and restarted.
  std::optional<FirmwareJobEnding> run(bool& failed) {
    failed = true;
    if (work_.path.empty()) {
      work_.tech = "Windows didn't offer this app the dongle's USB update interface";
      return std::nullopt;
    }
    if (!openPicoboot(work_.ports.picoboot, device_, work_.path)) {
      char why[kFailureTextCapacity];
      describeFailure(device_, why, sizeof why);
      work_.tech =
          formatText(JOB_TEXT_CAPACITY, "couldn't open the dongle's update interface (%s)", why);
      return std::nullopt;
    }
    if (!allocate()) {
      work_.tech = "out of memory";
      giveBack();
      return std::nullopt;
    }
    if (!resetInterface(device_) || !exclusiveAccess(device_, kPicobootExclusive) ||
        !exitXip(device_)) {
      return picobootFailure();
    }
    if (!work_.confirm) {
      std::optional<FirmwareJobEnding> refusal;
      if (!checkBoardAgain(refusal)) return picobootFailure();
      if (refusal) {
        giveBack();
        failed = false;
        return refusal;
      }
    }
    if (!compare()) return picobootFailure();
    if (work_.needsWriteCount > 0 && !write()) return picobootFailure();
    if (work_.isRepair() && !clearSettings()) return picobootFailure();
    if ((work_.isRepair() || work_.wroteSomething) && !verify()) return picobootFailure();
    restart();
    failed = false;
    return std::nullopt;
  }

 private:
  bool allocate() {
    work_.sectors = work_.image.size / kFlashSectorSize;
    work_.touched.reset(new (std::nothrow) std::uint8_t[work_.sectors]());
    work_.needsWrite.reset(new (std::nothrow) std::uint8_t[work_.sectors]());
    work_.buffer.reset(new (std::nothrow) std::uint8_t[kFlashBlockSize]);
    return work_.touched && work_.needsWrite && work_.buffer;
  }

  std::uint32_t sectorAddress(std::uint32_t sector) const {
    return work_.image.base + sector * kFlashSectorSize;
  }
  const std::uint8_t* imageSector(std::uint32_t sector) const {
    return work_.image.data.get() + std::size_t(sector) * kFlashSectorSize;
  }

  // The same board, looked at once more now that nobody else can reach it: a board that was
  // swapped or changed since it was probed must not be overwritten unasked.
  bool checkBoardAgain(std::optional<FirmwareJobEnding>& refusal) {
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
      refusal = FirmwareJobEnding::failed(
          formatText(JOB_TEXT_CAPACITY,
                     "This board runs \xE2\x80\x9C%s\xE2\x80\x9D, not Tarnwick firmware, so this "
                     "app left it alone.",
                     recorded.c_str()),
          {}, true);
    } else {
      std::uint8_t* first = work_.buffer.get();
      if (!readFlash(device_, kFlashStart, first, kFlashSectorSize)) return false;
      const bool blank =
          std::all_of(first, first + kFlashSectorSize, [](std::uint8_t b) { return b == 0xFF; });
      if (blank || std::memcmp(first, work_.image.data.get(), kFlashSectorSize) == 0) return true;
      refusal = FirmwareJobEnding::failed(
          "This board has firmware this app doesn't recognise, so this app left it alone.", {},
          true);
    }
    job_.recordForeignBoard(recorded);
    return true;
  }

  // Calls `step` for each 64 KB block of flash that holds touched sectors, with the first and last
  // of them; stops at the first false.
  template <typename Step>
  bool eachBlock(Step step) {
    for (std::uint32_t start = 0; start < work_.sectors; start += kSectorsPerBlock) {
      const std::uint32_t end = std::min(start + kSectorsPerBlock, work_.sectors);
      std::uint32_t first = end;
      std::uint32_t last = start;
      for (std::uint32_t s = start; s < end; ++s) {
        if (!work_.touched[s]) continue;
        first = std::min(first, s);
        last = s;
      }
      if (first < end && !step(first, last)) return false;
    }
    return true;
  }

  std::uint32_t touchedBetween(std::uint32_t first, std::uint32_t last) const {
    std::uint32_t count = 0;
    for (std::uint32_t s = first; s <= last; ++s) count += work_.touched[s];
    return count;
  }

  bool readSpan(std::uint32_t first, std::uint32_t last) {
    return readFlash(device_, sectorAddress(first), work_.buffer.get(),
                     (last - first + 1) * kFlashSectorSize);
  }

  bool compare() {
    for (std::uint32_t s = 0; s < work_.sectors; ++s) {
      work_.touched[s] = sectorHasData(work_.image, sectorAddress(s)) ? 1 : 0;
      work_.touchedCount += work_.touched[s];
    }
    job_.setProgress(JobPhase::Write, 15, "Checking what\xE2\x80\x99s on the dongle\xE2\x80\xA6");
    const std::uint32_t touched = std::max<std::uint32_t>(work_.touchedCount, 1);
    std::uint32_t compared = 0;
    return eachBlock([&](std::uint32_t first, std::uint32_t last) {
      if (!readSpan(first, last)) return false;
      for (std::uint32_t s = first; s <= last; ++s) {
        if (!work_.touched[s]) continue;
        const std::uint8_t* onBoard = work_.buffer.get() + (s - first) * kFlashSectorSize;
        if (s == 0) std::memcpy(bootSectorBefore_, onBoard, kFlashSectorSize);
        if (std::memcmp(onBoard, imageSector(s), kFlashSectorSize) != 0) {
          work_.needsWrite[s] = 1;
          ++work_.needsWriteCount;
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
      work_.wroteSomething = true;
      return true;
    }
    const std::string tech = failureText();
    std::uint8_t now[kFlashSectorSize];
    work_.wroteSomething = !readFlash(device_, kFlashStart, now, sizeof now) ||
                           std::memcmp(now, bootSectorBefore_, sizeof now) != 0;
    imageChanging_ = work_.wroteSomething;
    work_.tech = tech;
    return false;
  }

  bool write() {
    job_.setProgress(JobPhase::Write, 25, "Writing firmware\xE2\x80\xA6 0%%");
    const bool bootLast = work_.touched[0] != 0;
    if (bootLast) {
      if (!work_.needsWrite[0]) {
        work_.needsWrite[0] = 1;
        ++work_.needsWriteCount;
      }
      if (!eraseBootSector()) return false;
    }
    std::uint32_t written = 0;
    for (std::uint32_t s = bootLast ? 1 : 0; s < work_.sectors; ++s) {
      if (!work_.needsWrite[s]) continue;
      std::uint32_t count = 1;
      while (s + count < work_.sectors && work_.needsWrite[s + count] && count < kSectorsPerBlock) {
        ++count;
      }
      imageChanging_ = true;
      work_.wroteSomething = true;
      if (!eraseAndWrite(s, count)) {
        job_.clock().sleepMs(kRetrySleepMs);
        if (!eraseAndWrite(s, count)) return false;
      }
      written += count;
      const unsigned percent = 100 * written / work_.needsWriteCount;
      job_.setProgress(JobPhase::None, static_cast<int>(25 + 50 * written / work_.needsWriteCount),
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
    work_.settingsErasing = true;
    work_.settingsErased = eraseFlash(device_, kSettingsAddress, kSettingsSize) ||
                           eraseFlash(device_, kSettingsAddress, kSettingsSize);
    return work_.settingsErased;
  }

  // A sector that read back wrong gets one more erase and write before the job gives up on it.
  bool rewriteSector(std::uint32_t sector) {
    imageChanging_ = true;
    work_.wroteSomething = true;
    if (!eraseAndWrite(sector, 1)) {
      job_.clock().sleepMs(kRetrySleepMs);
      if (!eraseAndWrite(sector, 1)) return false;
    }
    std::uint8_t* back = work_.buffer.get();
    bool read = readFlash(device_, sectorAddress(sector), back, kFlashSectorSize) ||
                readFlash(device_, sectorAddress(sector), back, kFlashSectorSize);
    if (!read || std::memcmp(back, imageSector(sector), kFlashSectorSize) != 0) {
      work_.tech =
          formatText(JOB_TEXT_CAPACITY, "the dongle didn't keep what was written at 0x%08lx",
                     static_cast<unsigned long>(sectorAddress(sector)));
      return false;
    }
    return true;
  }

  bool verify() {
    job_.setProgress(JobPhase::Verify, 78, "Checking the write\xE2\x80\xA6");
    const std::uint32_t touched = std::max<std::uint32_t>(work_.touchedCount, 1);
    std::uint32_t verified = 0;
    const bool keptAll = eachBlock([&](std::uint32_t first, std::uint32_t last) {
      if (!readSpan(first, last) && !readSpan(first, last)) return false;
      std::uint32_t differing[kSectorsPerBlock];
      std::uint32_t differ = 0;
      for (std::uint32_t s = first; s <= last; ++s) {
        const std::uint8_t* onBoard = work_.buffer.get() + (s - first) * kFlashSectorSize;
        if (work_.touched[s] && std::memcmp(onBoard, imageSector(s), kFlashSectorSize) != 0) {
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
    if (work_.isRepair()) {
      std::uint8_t* settings = work_.buffer.get();
      if (!readFlash(device_, kSettingsAddress, settings, kSettingsSize)) return false;
      if (!std::all_of(settings, settings + kSettingsSize,
                       [](std::uint8_t b) { return b == 0xFF; })) {
        work_.tech = "the dongle's settings didn't clear";
        work_.settingsErased = false;
        return false;
      }
    }
    verifiedImage_ = true;
    work_.settingsCleared = work_.isRepair();
    return true;
  }

  void restart() {
    job_.setProgress(JobPhase::Restart, 94, "Restarting the dongle\xE2\x80\xA6");
    work_.rebootFailed = !reboot(device_, kRebootDelayMs);
    closePicoboot(device_);
    work_.touched.reset();
    work_.needsWrite.reset();
    work_.buffer.reset();
    work_.viaPicoboot = true;
    work_.expected = work_.target;
  }

  std::string failureText() {
    char why[kFailureTextCapacity];
    describeFailure(device_, why, sizeof why);
    return formatText(JOB_TEXT_CAPACITY, "USB write to the dongle failed (%s)", why);
  }

  // Keeps the first technical text, leaves the board safe, and hands it to the drive copy.
  std::optional<FirmwareJobEnding> picobootFailure() {
    if (work_.tech.empty()) work_.tech = failureText();
    if (imageChanging_ && !verifiedImage_) {
      // Whatever the flash holds now is not a checked image: keep the board from starting it.
      resetInterface(device_);
      eraseFlash(device_, kFlashStart, kFlashSectorSize);
    }
    giveBack();
    work_.touched.reset();
    work_.needsWrite.reset();
    work_.buffer.reset();
    return std::nullopt;
  }

  // Exclusive access would keep the RP2350 drive locked; the board is closed either way.
  void giveBack() {
    if (device_.usb) {
      resetInterface(device_);
      exclusiveAccess(device_, kPicobootNotExclusive);
    }
    closePicoboot(device_);
  }

  InstallWork& work_;
  FirmwareJobContext& job_;
  PicobootDevice device_;
  std::uint8_t bootSectorBefore_[kFlashSectorSize];
  bool imageChanging_ = false;  // an erase or write of the image's sectors was sent
  bool verifiedImage_ = false;
};

}  // namespace

std::optional<FirmwareJobEnding> writeOverPicoboot(InstallWork& work, bool& failed) {
  FlashWriteSession session(work);
  return session.run(failed);
}

}  // namespace tw
