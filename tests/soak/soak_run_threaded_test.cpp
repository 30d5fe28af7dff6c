// A few short histories of the whole program, as ./test.sh's soak stage runs many: every
// invariant holds, time passes virtually, and nothing is left running.
#include <gtest/gtest.h>

#include "soak/soak_driver.h"

namespace tw::soak {
namespace {

TEST(SoakRunThreaded, ShortHistoriesKeepEveryInvariant) {
  for (std::uint64_t seed : {3u, 17u}) {
    const History history = makeHistory(seed, 12);
    const RunOutcome outcome = runHistory(history);
    EXPECT_TRUE(outcome.failures.empty()) << describeFailure(history, outcome);
    EXPECT_GT(outcome.stepsRun, 0u);
    EXPECT_GT(outcome.simulatedMs, 0u);
  }
}

}  // namespace
}  // namespace tw::soak
