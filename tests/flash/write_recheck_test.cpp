// The write stage's own look at the board once it holds exclusive access, for a board that was
// swapped or changed since it was probed, and its read-back: a sector that did not keep what was
// written is written once more, and one that still does not keep it ends the write.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "flash/write_bench.h"

namespace tw {
namespace {

using test::WriteBench;

void putImage(WriteBench& b, const sim::FirmwareRecipe& recipe) {
  sim::writeImage(b.world.flash(), sim::makeFirmwareImage(recipe));
}

struct RecheckCase {
  const char* name;
  std::function<void(WriteBench&)> board;
  bool confirm;
  const char* refusal;  // nullptr: the board is written
};

TEST(WriteRecheck, ABoardThatTurnsOutNotToBeOursIsLeftAloneUnlessThePersonAgreed) {
  const char* blinkRefusal =
      "This board runs \xE2\x80\x9C"
      "blink\xE2\x80\x9D, not Tarnwick firmware, so this app left it alone.";
  const std::vector<RecheckCase> cases = {
      {"ours, one sector behind", [](WriteBench& b) { b.boardHoldsImageBut({3}); }, false, nullptr},
      {"blank", [](WriteBench&) {}, false, nullptr},
      {"another program",
       [](WriteBench& b) {
         putImage(b, {"blink", "2.0"});
       },
       false, blinkRefusal},
      {"a program without a name",
       [](WriteBench& b) {
         sim::FirmwareRecipe recipe;
         recipe.program = "";
         putImage(b, recipe);
       },
       false,
       "This board runs \xE2\x80\x9Cunnamed\xE2\x80\x9D, not Tarnwick firmware, so this app left "
       "it "
       "alone."},
      {"firmware that declares nothing",
       [](WriteBench& b) {
         sim::FirmwareRecipe recipe;
         recipe.binaryInfo = false;
         recipe.seed = 9;
         putImage(b, recipe);
       },
       false, "This board has firmware this app doesn't recognise, so this app left it alone."},
      {"another program the person agreed to replace",
       [](WriteBench& b) {
         putImage(b, {"blink", "2.0"});
       },
       true, nullptr},
  };
  for (const RecheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBench bench;
    c.board(bench);
    const std::vector<std::uint8_t> before = bench.world.flash().read(0, bench.image.size());
    bool failed = true;
    std::optional<FirmwareJobEnding> ending = bench.write(failed, c.confirm);
    EXPECT_FALSE(failed) << bench.tech;
    const sim::BoardCounters counters = bench.world.board().counters();
    if (c.refusal != nullptr) {
      // Exclusive access is given back, so the drive can be used again.
      EXPECT_EQ(bench.world.board().exclusiveAccess(), 0);
      ASSERT_TRUE(ending.has_value());
      EXPECT_EQ(ending->result, FirmwareJobEnding::Result::Failed);
      EXPECT_EQ(ending->error, c.refusal);
      EXPECT_TRUE(ending->refused);
      EXPECT_TRUE(counters.flashLog.empty());
      EXPECT_EQ(bench.world.flash().read(0, bench.image.size()), before);
    } else {
      EXPECT_FALSE(ending.has_value());
      EXPECT_EQ(bench.world.flash().read(0, bench.image.size()), bench.image);
    }
  }
}

struct ReadBackCase {
  const char* name;
  bool alwaysLost;  // every program of sector 5's first page is lost, not only the first
  bool written;
};

TEST(WriteRecheck, ASectorThatReadsBackWrongIsWrittenOnceMore) {
  const ReadBackCase cases[] = {
      {"kept the second time", false, true},
      {"never kept", true, false},
  };
  for (const ReadBackCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBench bench;
    sim::FaultPlan& faults = bench.world.board().flashFaults();
    if (c.alwaysLost) {
      faults.always("program@10005000", sim::FaultKind::Fail);
    } else {
      faults.inject("program@10005000", sim::FaultKind::Fail);
    }
    bool failed = true;
    EXPECT_FALSE(bench.write(failed).has_value());
    EXPECT_EQ(failed, !c.written) << bench.tech;
    // Written with its run, then once more by the read-back.
    std::uint32_t sector5Erases = 0;
    for (const sim::FlashOperation& op : bench.world.board().counters().flashLog) {
      sector5Erases += op.kind == sim::FlashOperation::Kind::Erase &&
                       op.address == kFlashStart + 5 * kFlashSectorSize;
    }
    EXPECT_EQ(sector5Erases, 2u);
    if (c.written) {
      EXPECT_EQ(bench.world.flash().read(0, bench.image.size()), bench.image);
    } else {
      EXPECT_EQ(bench.tech, "the dongle didn't keep what was written at 0x10005000");
      // A board that did not take the image must not start what it holds.
      EXPECT_EQ(bench.world.flash().read(0, 4096), std::vector<std::uint8_t>(4096, 0xFF));
    }
  }
}

}  // namespace
}  // namespace tw
