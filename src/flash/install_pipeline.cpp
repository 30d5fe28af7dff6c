#include "flash/install_pipeline.h"

namespace tw {

FirmwareJobEnding InstallPipeline::runFirmwareJob(FirmwareJobContext& job,
                                                  const FirmwareRequest& request) {
  InstallWork work(job, ports_, request);
  FirmwareJobEnding ending = runStages(work);
  ending.wroteBoard = work.wroteBoard();
  return ending;
}

FirmwareJobEnding InstallPipeline::runStages(InstallWork& work) {
  FirmwareJobContext& job = work.job;
  work.from = job.store().read([](const FirmwareState& state) { return state.job.from; });
  if (!work.isRestart()) {
    if (auto ending = chooseImage(work)) return *ending;
  }
  // A cancel that arrived during a download takes effect here.
  if (auto ending = bringToUpdateMode(work)) return *ending;
  bool restartOnly = false;
  if (auto ending = inspectBoard(work, restartOnly)) return *ending;
  if (restartOnly) {
    if (auto ending = restartBoard(work)) return *ending;
  } else {
    bool failed = false;
    if (auto ending = writeOverPicoboot(work, failed)) return *ending;
    if (failed) {
      if (auto ending = copyToDrive(work)) return *ending;
    }
  }
  return waitForDongle(work);
}

}  // namespace tw
