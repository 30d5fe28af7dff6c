// Plays one history on the whole Linux program, wired as `tarnwick` is, on one virtual clock,
// and checks the invariants after every step.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "soak/soak_history.h"

namespace tw::soak {

struct RunOutcome {
  std::vector<std::string> failures;  // empty: every invariant held
  std::size_t failedStep = 0;         // the step after which the first failure was seen
  std::size_t stepsRun = 0;
  std::uint64_t simulatedMs = 0;
  std::uint64_t jobsJudged = 0;
  std::uint64_t streamEvents = 0;
  std::string consoleTail;  // the program's last console lines
};

// Where a running history is, for a watchdog on another thread.
struct Progress {
  std::atomic<std::uint64_t> beats{0};
  std::atomic<std::size_t> step{0};
};

RunOutcome runHistory(const History& history, Progress* progress = nullptr);

// The report of a failed run: seed, step, what broke, the history so far and how to replay it.
std::string describeFailure(const History& history, const RunOutcome& outcome);

}  // namespace tw::soak
