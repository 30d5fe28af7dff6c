// The fallback when the direct write fails: copying the UF2 file onto the board's RP2350 drive,
// which the boot ROM flashes and then restarts from. The board restarts as soon as the last block
// lands, so a last chunk that fails, or a drive that is gone, means the copy took. When no copy is
// possible either, the job ends with the sentence that fits what happened to the board.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "common/text.h"
#include "flash/install_work.h"
#include "flash/rp2350_drive.h"

namespace tw {
namespace {

constexpr std::uint32_t kChunkBytes = 32768;
constexpr std::uint32_t kGonePollMs = 250;
constexpr std::uint32_t kGoneWaitMs = 30000;

// The UF2 block as the boot ROM reads it (little-endian words).
constexpr std::size_t kBlockSize = 512;
constexpr std::size_t kTargetAt = 12, kPayloadSizeAt = 16, kBlockNoAt = 20, kNumBlocksAt = 24;
constexpr std::size_t kDataAt = 32;
constexpr std::uint32_t kMagic0 = 0x0a324655, kMagic1 = 0x9e5d5157, kMagicEnd = 0x0ab16f30;
constexpr std::uint32_t kFlagNotMainFlash = 0x1;
constexpr std::uint32_t kBootSectorStart = 0x10000000, kBootSectorEnd = 0x10001000;

std::uint32_t word(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
void putWord(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
bool writesBootSector(const std::uint8_t* block) {
  const std::uint32_t target = word(block + kTargetAt);
  return !(word(block + 8) & kFlagNotMainFlash) && target >= kBootSectorStart &&
         target < kBootSectorEnd;
}

// The boot ROM writes each block as it lands and starts whatever its boot sector names, so the
// file's own order (boot sector first) would leave a board that starts half an image when a
// copy breaks off. Sent in this order instead, such a board starts nothing: one more block that
// blanks the boot sector, then every other block, then the boot sector's own. Null when the file
// is not plain UF2 blocks with a boot sector, or memory is short: then it goes as it is.
std::unique_ptr<std::uint8_t[]> bootSectorLast(const std::uint8_t* uf2, std::size_t size) {
  if (size == 0 || size % kBlockSize != 0) return nullptr;
  const std::size_t blocks = size / kBlockSize;
  std::size_t bootBlocks = 0, firstBoot = 0;
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::uint8_t* block = uf2 + i * kBlockSize;
    if (word(block) != kMagic0 || word(block + 4) != kMagic1 ||
        word(block + kBlockSize - 4) != kMagicEnd) {
      return nullptr;
    }
    if (writesBootSector(block) && bootBlocks++ == 0) firstBoot = i;
  }
  if (bootBlocks == 0) return nullptr;
  std::unique_ptr<std::uint8_t[]> ordered(new (std::nothrow) std::uint8_t[size + kBlockSize]);
  if (!ordered) return nullptr;
  std::uint8_t* out = ordered.get();
  // The blanking block: the first boot-sector block's header over a page of erased bytes.
  std::memcpy(out, uf2 + firstBoot * kBlockSize, kBlockSize);
  putWord(out + kTargetAt, kBootSectorStart);
  putWord(out + kPayloadSizeAt, 256);
  std::memset(out + kDataAt, 0xFF, 256);
  std::size_t next = 1;
  for (bool bootPass : {false, true}) {
    for (std::size_t i = 0; i < blocks; ++i) {
      const std::uint8_t* block = uf2 + i * kBlockSize;
      if (writesBootSector(block) == bootPass) {
        std::memcpy(out + next++ * kBlockSize, block, kBlockSize);
      }
    }
  }
  for (std::size_t i = 0; i <= blocks; ++i) {
    putWord(out + i * kBlockSize + kBlockNoAt, static_cast<std::uint32_t>(i));
    putWord(out + i * kBlockSize + kNumBlocksAt, static_cast<std::uint32_t>(blocks + 1));
  }
  return ordered;
}

// Stage 7: nothing reached the drive.
FirmwareJobEnding noCopyPossible(const InstallWork& work) {
  const char* sentence;
  if (work.wroteSomething) {
    sentence = "The firmware only got partway onto the dongle.";
  } else if (work.settingsErasing) {
    sentence =
        "The firmware on the dongle is whole, but its settings couldn't be cleared. Press Try "
        "again, or hold the dongle's button for two seconds to forget paired controllers.";
  } else if (work.probe == -2) {
    sentence =
        "Another program is using the dongle's update connection, so nothing was changed. Close "
        "it and press Try again.";
  } else {
    sentence = "The dongle didn't take the update, so nothing on it was changed.";
  }
  return FirmwareJobEnding::failed(sentence, work.tech);
}

FirmwareJobEnding copyFailed(const InstallWork& work, const std::string& driveError) {
  return FirmwareJobEnding::failed(
      "The dongle didn't take the firmware, and copying it onto its RP2350 drive didn't work "
      "either.",
      formatText(JOB_TEXT_CAPACITY, "%s; drive copy: %s", work.tech.c_str(), driveError.c_str()));
}

// Writes the file in chunks; an empty text when the board has it, else the drive error.
std::string writeUf2(InstallWork& work, char letter) {
  FileSystem& files = work.ports.files;
  std::uint32_t error = 0;
  std::unique_ptr<FileWriter> file =
      files.createFile(std::string(1, letter) + ":\\TARNWICK.UF2", error);
  if (!file) {
    return formatText(JOB_TEXT_CAPACITY, "couldn't write to drive %c: (Windows error %lu)", letter,
                      static_cast<unsigned long>(error));
  }
  const std::unique_ptr<std::uint8_t[]> ordered = bootSectorLast(work.source, work.sourceSize);
  const std::uint8_t* source = ordered ? ordered.get() : work.source;
  const std::size_t size = ordered ? work.sourceSize + kBlockSize : work.sourceSize;
  std::size_t done = 0;
  while (done < size) {
    const std::uint32_t chunk =
        static_cast<std::uint32_t>(std::min<std::size_t>(kChunkBytes, size - done));
    std::uint32_t written = 0;
    const bool ok = file->write(source + done, chunk, written, error);
    if (!ok || written != chunk) {
      std::uint32_t ignored = 0;
      file->close(ignored);
      // The board restarts once the last block lands, so the drive going away then is the copy
      // taking. Gone any earlier, it did not get the whole file.
      if (done + chunk >= size) return {};
      return formatText(JOB_TEXT_CAPACITY, "the copy stopped at %lu%% (Windows error %lu)",
                        static_cast<unsigned long>(done * 100 / size),
                        static_cast<unsigned long>(error));
    }
    done += chunk;
    work.job.setProgress(nullptr, static_cast<int>(20 + 60 * done / size),
                         "Copying firmware\xE2\x80\xA6 %lu%%",
                         static_cast<unsigned long>(done * 100 / size));
  }
  // The board may restart while the last bytes are flushed; what it took is what counts.
  file->flush(error);
  file->close(error);
  return {};
}

}  // namespace

std::optional<FirmwareJobEnding> copyToDrive(InstallWork& work) {
  FileSystem& files = work.ports.files;
  std::string drive = work.drive;
  if (drive.empty()) findRp2350Drive(files, drive);
  if (drive.empty() || !isRp2350Drive(files, drive[0])) return noCopyPossible(work);
  const char letter = drive[0];

  FirmwareJobContext& job = work.job;
  job.setDetail(
      "The direct write didn't work, so this app is copying the firmware onto the RP2350 drive "
      "instead.");
  job.setProgress(phase::COPY, 20, "Copying firmware to the RP2350 drive\xE2\x80\xA6");
  const std::string driveError = writeUf2(work, letter);
  if (!driveError.empty()) return copyFailed(work, driveError);

  job.setProgress(phase::RESTART, 85, "Waiting for the dongle to restart\xE2\x80\xA6");
  for (std::uint32_t waited = 0; waited < kGoneWaitMs; waited += kGonePollMs) {
    if (!isRp2350Drive(files, letter)) {
      work.viaPicoboot = false;
      work.copiedToDrive = true;
      // The image cannot reach the settings area, so settings erased before the direct write
      // failed stay erased.
      if (work.isRepair() && work.settingsErased) work.settingsCleared = true;
      if (work.isRepair() && !work.settingsCleared) {
        work.repairAdvice =
            "The firmware is reinstalled, but its settings couldn't be cleared this way. Hold the "
            "dongle's button for two seconds to forget paired controllers.";
      }
      job.update([&work](FirmwareState& state) { state.job.detail = work.repairAdvice; });
      work.expected = work.target;
      return std::nullopt;
    }
    job.clock().sleepMs(kGonePollMs);
  }
  return copyFailed(work, "the RP2350 drive is still there, so the copy didn't take");
}

}  // namespace tw
