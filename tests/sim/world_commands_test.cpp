// The board's words of the world commands: its faults reach the board's own fault plan and its
// counters are told as numbers a script can read; wrong words are refused with the usage.
#include "sim/world_commands.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/dongle_settings.h"
#include "sim/virtual_clock.h"

namespace tw::sim {
namespace {

struct Console {
  VirtualClock clock;
  World world{clock};
  std::string printed;
  WorldCommands::Outcome run(const std::string& line) {
    printed.clear();
    WorldCommands commands(world, [this](const std::string& text) { printed += text; });
    return commands.execute(line);
  }
};

TEST(WorldCommands, BoardFaultsReachTheBoardAndWrongWordsAreRefused) {
  using Outcome = WorldCommands::Outcome;
  struct Case {
    const char* line;
    Outcome outcome;
    const char* operation;  // whose next call then meets `kind` (nullptr: none checked)
    FaultKind kind;
  };
  const Case cases[] = {
      {"fault board command stall", Outcome::Done, "command", FaultKind::Stall},
      {"fault board unplug-at-command fail 1", Outcome::Done, "unplug-at-command", FaultKind::Fail},
      {"fault board read-pipe busy 1 2", Outcome::Done, "read-pipe", FaultKind::Busy},
      {"fault board write-output fail", Outcome::Refused, nullptr, FaultKind::None},
      {"fault board command wobble", Outcome::Refused, nullptr, FaultKind::None},
      {"fault board command fail 0", Outcome::Refused, nullptr, FaultKind::None},
      {"fault board command fail 1 1 extra", Outcome::Refused, nullptr, FaultKind::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Console console;
    EXPECT_EQ(console.run(c.line), c.outcome) << console.printed;
    if (c.operation != nullptr) {
      EXPECT_EQ(console.world.board().faults.next(c.operation), c.kind);
      // The dongle's plan is another one: a board fault never reaches it.
      EXPECT_EQ(console.world.dongle().faults.next(c.operation), FaultKind::None);
    }
  }
}

TEST(WorldCommands, BoardFaultsEndWithOffAndCountersAreNumbers) {
  Console console;
  ASSERT_EQ(console.run("fault board command stall 1 5"), WorldCommands::Outcome::Done);
  ASSERT_EQ(console.run("fault board command off"), WorldCommands::Outcome::Done);
  EXPECT_EQ(console.world.board().faults.next("command"), FaultKind::None);
  ASSERT_EQ(console.run("fault board read-pipe fail"), WorldCommands::Outcome::Done);
  ASSERT_EQ(console.run("fault board off"), WorldCommands::Outcome::Done);
  EXPECT_EQ(console.world.board().faults.next("read-pipe"), FaultKind::None);

  ASSERT_EQ(console.run("board counters"), WorldCommands::Outcome::Done);
  EXPECT_EQ(console.printed,
            "commands 0 erased 0 programmed 0 read 0 resets 0 reboots 0 failed 0 drive 0");
}

TEST(WorldCommands, BoardSettingsTellWhatTheSettingsAreaKeeps) {
  Console console;
  storePairing(console.world.flash(), false);
  struct Step {
    void (*change)(NorFlash&);
    const char* told;
  };
  const Step steps[] = {
      {[](NorFlash&) {}, "saved no paired no"},
      {[](NorFlash& flash) { storePairing(flash, true); }, "saved no paired yes"},
      {[](NorFlash& flash) { storeSavedConfig(flash, factoryDongleConfig()); },
       "saved yes paired yes"},
      {[](NorFlash& flash) { storePairing(flash, false); }, "saved yes paired no"},
  };
  for (const Step& step : steps) {
    step.change(console.world.flash());
    ASSERT_EQ(console.run("board settings"), WorldCommands::Outcome::Done);
    EXPECT_EQ(console.printed, step.told);
  }
}

}  // namespace
}  // namespace tw::sim
