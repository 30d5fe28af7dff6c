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

// Stage 7: nothing reached the drive.
FirmwareJobEnding noCopyPossible(const InstallWork& work) {
  const char* sentence;
  if (work.wroteSomething) {
    sentence = "The firmware only got partway onto the dongle.";
  } else if (work.settingsErasing) {
    sentence =
        "The firmware on the dongle is whole, but its settings couldn't be cleared. Press Try "
        "again, or hold the dongle's button for two seconds to forget paired controllers.";
  } else if (work.probe == BoardRead::Busy) {
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
  const std::size_t size = work.sourceSize;
  std::size_t done = 0;
  while (done < size) {
    const std::uint32_t chunk =
        static_cast<std::uint32_t>(std::min<std::size_t>(kChunkBytes, size - done));
    std::uint32_t written = 0;
    const bool ok = file->write(work.source + done, chunk, written, error);
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
    work.job.setProgress(JobPhase::None, static_cast<int>(20 + 60 * done / size),
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
  job.setProgress(JobPhase::Copy, 20, "Copying firmware to the RP2350 drive\xE2\x80\xA6");
  const std::string driveError = writeUf2(work, letter);
  if (!driveError.empty()) return copyFailed(work, driveError);

  job.setProgress(JobPhase::Restart, 85, "Waiting for the dongle to restart\xE2\x80\xA6");
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
      job.setDetail("%s", work.repairAdvice.c_str());
      work.expected = work.target;
      return std::nullopt;
    }
    job.clock().sleepMs(kGonePollMs);
  }
  return copyFailed(work, "the RP2350 drive is still there, so the copy didn't take");
}

}  // namespace tw
