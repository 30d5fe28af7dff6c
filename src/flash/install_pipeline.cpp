#include "flash/install_pipeline.h"

namespace tw {

FirmwareJobEnding InstallPipeline::runFirmwareJob(FirmwareJobContext& job,
                                                  const FirmwareRequest& request) {
  bool wroteBoard = false;
  FirmwareJobEnding ending = runStages(job, request, wroteBoard);
  ending.wroteBoard = wroteBoard;
  return ending;
}

FirmwareJobEnding InstallPipeline::runStages(FirmwareJobContext& job,
                                             const FirmwareRequest& request, bool& wroteBoard) {
  std::string from = job.store().read([](const FirmwareState& state) { return state.job.from; });
  const FirmwareAction action = request.action;
  ChosenImage chosen;
  if (action != FirmwareAction::Restart) {
    chosen = chooseImage(job, ports_, action, from);
    if (chosen.result.stops()) return chosen.result.jobEnding();
  }
  // A cancel that arrived during a download takes effect here.
  const UpdateModeReached reached = bringToUpdateMode(job, ports_, action);
  if (reached.result.stops()) return reached.result.jobEnding();
  const BoardFound board =
      inspectBoard(job, ports_, {action, request.confirm, reached.broughtByJob, chosen.version});
  if (board.result.stops()) return board.result.jobEnding();
  if (!board.version.empty()) from = board.version;

  DongleReturn after;
  after.target = chosen.version;
  after.skippedRelease = chosen.skippedRelease;
  after.skippedWhy = chosen.skippedWhy;
  if (board.plan == BoardPlan::Write) {
    if (auto ending = install(job, request, chosen, board, after, wroteBoard)) return *ending;
  } else {
    const StageResult restarted =
        restartBoard(job, ports_.picoboot, board.path, board.plan == BoardPlan::AlreadyCurrent);
    if (restarted.stops()) return restarted.jobEnding();
    after.how = BoardRestart::RestartOnly;
    after.expected = from;
  }
  return waitForDongle(job, ports_, after);
}

std::optional<FirmwareJobEnding> InstallPipeline::install(FirmwareJobContext& job,
                                                          const FirmwareRequest& request,
                                                          const ChosenImage& chosen,
                                                          const BoardFound& board,
                                                          DongleReturn& after, bool& wroteBoard) {
  const bool repair = request.action == FirmwareAction::Repair;
  after.expected = chosen.version;
  const BoardWritten written =
      writeOverPicoboot(job, ports_.picoboot, {chosen.image, board.path, request.confirm, repair});
  wroteBoard = written.changedBoard();
  switch (written.result.end) {
    case StageEnd::Written:
    case StageEnd::NothingToWrite:
      after.how = BoardRestart::WrittenOverUsb;
      after.rebootFailed = written.rebootFailed;
      after.settingsCleared = written.settingsCleared;
      return std::nullopt;
    case StageEnd::Failed:
      break;  // the drive may still take the file
    default:
      return written.result.jobEnding();
  }
  const DriveCopied copied = copyToDrive(
      job, ports_.files,
      {chosen.file, chosen.fileSize, board.drive, repair, board.read == BoardRead::Busy, written});
  if (copied.result.stops()) return copied.result.jobEnding();
  wroteBoard = true;
  after.how = BoardRestart::CopiedToDrive;
  after.settingsCleared = copied.settingsCleared;
  after.repairAdvice = copied.repairAdvice;
  return std::nullopt;
}

}  // namespace tw
