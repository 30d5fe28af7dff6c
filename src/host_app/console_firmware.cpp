#include "host_app/console_firmware.h"

#include <mutex>

namespace tw::host {

void ConsoleAwareFirmware::firmwareStart(WindowId window) {
  console_.setTrayWindow(window);
  FirmwareSubsystem::firmwareStart(window);
}

bool ConsoleAwareFirmware::jobTrayText(std::string& line) {
  std::string step;
  {
    std::lock_guard<std::mutex> lock(state().lock);
    const FirmwareJob& job = state().job;
    if ((job.active || job.result != JobResult::None) && !job.msg.empty()) {
      step = std::string(phaseWord(job.phase)) + ": " + job.msg +
             (job.detail.empty() ? "" : " (" + job.detail + ")");
    }
  }
  if (!step.empty() && step != lastStep_) {
    lastStep_ = step;
    console_.printLine("[fw] " + step);
  }
  return FirmwareSubsystem::jobTrayText(line);
}

}  // namespace tw::host
