// The soak's histories: a seed means one history, the panel gets the bytes the history meant,
// and the waits span milliseconds to hours so that a minute covers a day.
#include <gtest/gtest.h>

#include <set>

#include "panel/base64.h"
#include "panel/http_text.h"
#include "soak/soak_history.h"

namespace tw::soak {
namespace {

TEST(SoakHistory, ASeedIsOneHistoryAndSeedsDiffer) {
  const History first = makeHistory(42);
  const History again = makeHistory(42);
  ASSERT_EQ(describeHistory(first, first.steps.size()), describeHistory(again, again.steps.size()));
  EXPECT_NE(describeHistory(first, 1000), describeHistory(makeHistory(43), 1000));
}

TEST(SoakHistory, EveryHistoryEndsByQuittingAndWaitsSpanMillisecondsToHours) {
  std::uint64_t shortest = UINT64_MAX, longest = 0, total = 0, steps = 0;
  std::set<std::string> verbs;
  for (std::uint64_t seed = 1; seed <= 200; ++seed) {
    const History history = makeHistory(seed, 120);
    ASSERT_FALSE(history.steps.empty());
    EXPECT_EQ(history.steps.back().action, "handover yes");
    for (const Step& step : history.steps) {
      shortest = std::min(shortest, step.waitMs);
      longest = std::max(longest, step.waitMs);
      total += step.waitMs;
      ++steps;
      verbs.insert(step.action.substr(0, step.action.find(' ')));
    }
  }
  EXPECT_LE(shortest, 10u);
  EXPECT_GE(longest, 3'600'000u);
  // About a hundred steps of a day's waiting: the pace one real minute has to keep.
  EXPECT_GT(total / steps, 3u * 60 * 1000);
  for (const char* verb : {"plug", "unplug", "press", "board", "fault", "soakfault", "publish",
                           "host", "fw", "panel", "stream", "choose", "handover", "pair"}) {
    EXPECT_TRUE(verbs.count(verb)) << verb;
  }
}

TEST(SoakHistory, FormValuesCarryTheBytesThroughThePanelsDecoding) {
  for (std::size_t length : {0u, 1u, 2u, 3u, 47u, 63u}) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(0xF8 + i * 37);
    std::string decodedText;
    ASSERT_TRUE(formValue("id=2&data=" + formBase64(bytes), "data", decodedText, 1400));
    std::uint8_t out[kMaxDecodedBytes];
    const int decoded = base64Decode(decodedText, out);
    ASSERT_EQ(decoded, static_cast<int>(length));
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + decoded), bytes) << length;
  }
}

TEST(SoakHistory, WaitsAreDescribedInTheirUnits) {
  EXPECT_EQ(describeWait(1234), "1.234 s");
  EXPECT_EQ(describeWait(61'500), "1 min 1.500 s");
  EXPECT_EQ(describeWait(3 * 3'600'000 + 120'000), "3 h 2 min 0.000 s");
}

}  // namespace
}  // namespace tw::soak
