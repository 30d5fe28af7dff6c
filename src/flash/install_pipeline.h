// The install pipeline: what a firmware job does for each of the five actions, from choosing the
// image to the dongle coming back on it.
#pragma once

#include <optional>

#include "flash/firmware_job_context.h"
#include "flash/install_work.h"

namespace tw {

class InstallPipeline : public FirmwareJobBody {
 public:
  explicit InstallPipeline(InstallPorts ports) : ports_(std::move(ports)) {}
  FirmwareJobEnding runFirmwareJob(FirmwareJobContext& job,
                                   const FirmwareRequest& request) override;

 private:
  // Runs the stages in turn; `wroteBoard` tells whether the board's flash may have changed.
  FirmwareJobEnding runStages(FirmwareJobContext& job, const FirmwareRequest& request,
                              bool& wroteBoard);
  // Installs `chosen` on the board found, over PICOBOOT or else through its drive; fills `after`
  // for the wait that follows, or says how the job ended.
  std::optional<FirmwareJobEnding> install(FirmwareJobContext& job, const FirmwareRequest& request,
                                           const ChosenImage& chosen, const BoardFound& board,
                                           DongleReturn& after, bool& wroteBoard);

  InstallPorts ports_;
};

}  // namespace tw
