// The install pipeline: what a firmware job does for each of the five actions, from choosing the
// image to the dongle coming back on it.
#pragma once

#include "flash/firmware_job_context.h"
#include "flash/install_work.h"

namespace tw {

class InstallPipeline : public FirmwareJobBody {
 public:
  explicit InstallPipeline(InstallPorts ports) : ports_(std::move(ports)) {}
  FirmwareJobEnding runFirmwareJob(FirmwareJobContext& job,
                                   const FirmwareRequest& request) override;

 private:
  FirmwareJobEnding runStages(InstallWork& work);

  InstallPorts ports_;
};

}  // namespace tw
