// How an install stage ended. Each stage says it in these words and the pipeline alone decides
// what follows: the next stage, the drive copy, or the job's ending.
#pragma once

#include <string>

#include "flash/firmware_job.h"

namespace tw {

enum class StageEnd {
  Done,            // the stage did its part; the next one runs
  Written,         // the board was written, read back whole and restarted
  NothingToWrite,  // the board already held the image and was restarted
  Refused,         // the board holds firmware nobody asked to replace; it was left alone
  Failed,          // the stage could not do its part; `error` and `tech` say why
  Cancelled,       // the person cancelled, or the program is stopping
};

struct StageResult {
  StageEnd end = StageEnd::Done;
  std::string error;  // Refused and Failed: the sentence for the person (empty: none of its own)
  std::string tech;   // Failed: the technical line, for support

  static StageResult done() { return {}; }
  static StageResult written() { return {StageEnd::Written, {}, {}}; }
  static StageResult nothingToWrite() { return {StageEnd::NothingToWrite, {}, {}}; }
  static StageResult refused(std::string error) {
    return {StageEnd::Refused, std::move(error), {}};
  }
  static StageResult failed(std::string error, std::string tech = {}) {
    return {StageEnd::Failed, std::move(error), std::move(tech)};
  }
  static StageResult cancelled() { return {StageEnd::Cancelled, {}, {}}; }

  // Refused, Failed and Cancelled: the job ends here, unless the pipeline has a fallback.
  bool stops() const {
    return end == StageEnd::Refused || end == StageEnd::Failed || end == StageEnd::Cancelled;
  }
  // The job's ending for a stage that stopped it: a refusal is a failure that wrote nothing.
  FirmwareJobEnding jobEnding() const {
    if (end == StageEnd::Cancelled) return FirmwareJobEnding::cancelled();
    return FirmwareJobEnding::failed(error, tech, end == StageEnd::Refused);
  }
};

}  // namespace tw
