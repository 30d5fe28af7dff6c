// The fallback when the direct write fails: copying the UF2 file onto the board's RP2350 drive,
// which the boot ROM flashes and then restarts from. The board restarts as soon as the last block
// lands, so a last chunk that fails, or a drive that is gone, means the copy took. When no copy is
// possible either, the job ends with the sentence that fits what happened to the board.
#include <algorithm>

#include "common/text.h"
#include "flash/install_work.h"
#include "flash/rp2350_drive.h"

namespace tw {
namespace {

constexpr std::uint32_t kChunkBytes = 32768;
constexpr std::uint32_t kGonePollMs = 250;
constexpr std::uint32_t kGoneWaitMs = 30000;

// Nothing reached the drive.
StageResult noCopyPossible(const DriveCopy& copy) {
  const char* sentence;
  if (copy.before.imageChanged) {
    sentence = "The firmware only got partway onto the dongle.";
  } else if (copy.before.settingsErasing) {
    sentence =
        "The firmware on the dongle is whole, but its settings couldn't be cleared. Press Try "
        "again, or hold the dongle's button for two seconds to forget paired controllers.";
  } else if (copy.boardBusy) {
    sentence =
        "Another program is using the dongle's update connection, so nothing was changed. Close "
        "it and press Try again.";
  } else {
    sentence = "The dongle didn't take the update, so nothing on it was changed.";
  }
  return StageResult::failed(sentence, copy.before.result.tech);
}

StageResult copyFailed(const DriveCopy& copy, const std::string& driveError) {
  return StageResult::failed(
      "The dongle didn't take the firmware, and copying it onto its RP2350 drive didn't work "
      "either.",
      formatText(JOB_TEXT_CAPACITY, "%s; drive copy: %s", copy.before.result.tech.c_str(),
                 driveError.c_str()));
}

// Writes the file in chunks; an empty text when the board has it, else the drive error.
std::string writeUf2(FirmwareJobContext& job, FileSystem& files, const DriveCopy& copy,
                     char letter) {
  std::uint32_t error = 0;
  std::unique_ptr<FileWriter> file =
      files.createFile(std::string(1, letter) + ":\\TARNWICK.UF2", error);
  if (!file) {
    return formatText(JOB_TEXT_CAPACITY, "couldn't write to drive %c: (Windows error %lu)", letter,
                      static_cast<unsigned long>(error));
  }
  const std::size_t size = copy.fileSize;
  std::size_t done = 0;
  while (done < size) {
    const std::uint32_t chunk =
        static_cast<std::uint32_t>(std::min<std::size_t>(kChunkBytes, size - done));
    std::uint32_t written = 0;
    const bool ok = file->write(copy.file + done, chunk, written, error);
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
    job.setProgress(JobPhase::None, static_cast<int>(20 + 60 * done / size),
                    "Copying firmware\xE2\x80\xA6 %lu%%",
                    static_cast<unsigned long>(done * 100 / size));
  }
  // The board may restart while the last bytes are flushed; what it took is what counts.
  file->flush(error);
  file->close(error);
  return {};
}

}  // namespace

DriveCopied copyToDrive(FirmwareJobContext& job, FileSystem& files, const DriveCopy& copy) {
  DriveCopied copied;
  std::string drive = copy.drive;
  if (drive.empty()) findRp2350Drive(files, drive);
  if (drive.empty() || !isRp2350Drive(files, drive[0])) {
    copied.result = noCopyPossible(copy);
    return copied;
  }
  const char letter = drive[0];

  job.setDetail(
      "The direct write didn't work, so this app is copying the firmware onto the RP2350 drive "
      "instead.");
  job.setProgress(JobPhase::Copy, 20, "Copying firmware to the RP2350 drive\xE2\x80\xA6");
  const std::string driveError = writeUf2(job, files, copy, letter);
  if (!driveError.empty()) {
    copied.result = copyFailed(copy, driveError);
    return copied;
  }

  job.setProgress(JobPhase::Restart, 85, "Waiting for the dongle to restart\xE2\x80\xA6");
  for (std::uint32_t waited = 0; waited < kGoneWaitMs; waited += kGonePollMs) {
    if (!isRp2350Drive(files, letter)) {
      // The image cannot reach the settings area, so settings erased before the direct write
      // failed stay erased.
      copied.settingsCleared = copy.repair && copy.before.settingsErased;
      if (copy.repair && !copied.settingsCleared) {
        copied.repairAdvice =
            "The firmware is reinstalled, but its settings couldn't be cleared this way. Hold the "
            "dongle's button for two seconds to forget paired controllers.";
      }
      job.setDetail("%s", copied.repairAdvice.c_str());
      return copied;
    }
    job.clock().sleepMs(kGonePollMs);
  }
  copied.result = copyFailed(copy, "the RP2350 drive is still there, so the copy didn't take");
  return copied;
}

}  // namespace tw
