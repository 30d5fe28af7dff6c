// The firmware store's contract with the tray: which operations count a change and which words
// they send once the lock is released, and when the end of a watcher turn wakes the tray.
#include "flash/firmware_store.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "flash/board_record.h"

namespace tw {
namespace {

struct StoreFixture {
  std::vector<WParam> posts;
  FirmwareStore store{[this](WParam kind) {
    // Told without the lock: reading the state from here must not deadlock.
    (void)store.firmwareSeq();
    posts.push_back(kind);
  }};
};

FirmwareRequest request(FirmwareAction action) {
  return FirmwareRequest{false, action, false, false};
}

TEST(FirmwareStore, EachOperationCountsItsChangeAndTellsTheTray) {
  const std::vector<WParam> changed{FW_CHANGED};
  const std::vector<WParam> changedAndNotice{FW_CHANGED, FW_NOTICE};
  struct Case {
    const char* name;
    std::function<void(FirmwareStore&)> step;
    std::uint32_t counted;
    std::vector<WParam> posts;
  };
  const std::vector<Case> cases{
      {"dongle reported", [](FirmwareStore& s) { s.reportDongle(true, "0.9.1"); }, 1,
       changedAndNotice},
      {"check begins", [](FirmwareStore& s) { s.beginOnlineCheck(); }, 1, changed},
      {"check ends", [](FirmwareStore& s) { s.finishOnlineCheck(false, {}, "offline", 5); }, 1,
       changedAndNotice},
      {"job begins", [](FirmwareStore& s) { s.beginJob(request(FirmwareAction::Install)); }, 1,
       changed},
      {"job ends", [](FirmwareStore& s) { s.endJob(FirmwareJobEnding::failed("Boom."), 5); }, 1,
       changedAndNotice},
      {"step", [](FirmwareStore& s) { s.setJobStep(JobPhase::Write, 40, "Writing"); }, 1, changed},
      {"detail", [](FirmwareStore& s) { s.setJobDetail("Keep it plugged in."); }, 1, changed},
      {"button asked", [](FirmwareStore& s) { s.askForButton("Press", "Triple-click."); }, 1,
       changedAndNotice},
      {"button answered", [](FirmwareStore& s) { s.buttonAnswered(); }, 1, changed},
      {"foreign board", [](FirmwareStore& s) { s.recordForeignBoard("blink"); }, 1, changed},
      {"queued",
       [](FirmwareStore& s) {
         std::string refusal;
         s.queueRequest(FirmwareAction::Install, false, refusal);
       },
       1, changed},
      {"refused while busy",
       [](FirmwareStore& s) {
         s.beginJob(request(FirmwareAction::Install));
         std::string refusal;
         EXPECT_FALSE(s.queueRequest(FirmwareAction::Install, false, refusal));
       },
       1,
       {FW_CHANGED, FW_CHANGED}},
      // What the watcher records is told by the end of its turn.
      {"sighting",
       [](FirmwareStore& s) {
         BoardSighting seen;
         seen.station = true;
         std::string path;
         s.recordSighting(seen, 5, path);
       },
       1,
       {}},
      {"announce asked", [](FirmwareStore& s) { s.announceNextCheck(); }, 0, {}},
  };
  for (const Case& c : cases) {
    StoreFixture f;
    const std::uint32_t before = f.store.firmwareSeq();
    c.step(f.store);
    EXPECT_EQ(f.store.firmwareSeq() - before, c.counted) << c.name;
    EXPECT_EQ(f.posts, c.posts) << c.name;
  }
}

TEST(FirmwareStore, AWatcherTurnWakesTheTrayOnlyForSomethingNew) {
  StoreFixture f;
  // Nothing happened since the tray was last told.
  f.store.publishBuiltInImage(BuiltInImage{});
  f.posts.clear();
  EXPECT_FALSE(f.store.finishWatcherTurn(1000));
  EXPECT_TRUE(f.posts.empty());

  // A change the watcher made silently: told once.
  BoardSighting seen;
  seen.station = true;
  std::string path;
  f.store.recordSighting(seen, 1000, path);
  f.store.finishWatcherTurn(1700);
  f.store.finishWatcherTurn(2400);
  EXPECT_EQ(f.posts, std::vector<WParam>{FW_NOTICE});

  // A board read and not advised yet: the turn gives the advice, and a notice the tray has not
  // taken is told again at every turn until it is.
  f.posts.clear();
  seen = BoardSighting{};
  seen.usbFound = true;
  seen.path = "usb#board";
  f.store.recordSighting(seen, 3000, path);
  BoardProbe probe;
  probe.result = BoardRead::Failed;
  f.store.recordProbe("usb#board", probe, 3700);
  f.store.finishWatcherTurn(3700);
  f.store.finishWatcherTurn(4400);
  EXPECT_EQ(f.posts, (std::vector<WParam>{FW_NOTICE, FW_NOTICE}));
  TrayNotice notice;
  EXPECT_TRUE(f.store.takeNotice(notice));
  EXPECT_EQ(notice.title, "Dongle in update mode");
  f.posts.clear();
  f.store.finishWatcherTurn(5100);
  EXPECT_TRUE(f.posts.empty());
}

TEST(FirmwareStore, ACancelIsRaisedOnlyWhileTheJobHonoursOne) {
  StoreFixture f;
  f.store.beginJob(request(FirmwareAction::Install));
  EXPECT_FALSE(f.store.stopTakingCancels());
  f.store.cancelJob();  // too late: the job no longer listens
  EXPECT_FALSE(f.store.isCancelRaised());
  f.store.takeCancelsAgain();
  f.store.cancelJob();
  EXPECT_TRUE(f.store.isCancelRaised());
  EXPECT_TRUE(f.store.stopTakingCancels());
  // A new job starts without the last one's cancel.
  f.store.beginJob(request(FirmwareAction::Install));
  EXPECT_FALSE(f.store.isCancelRaised());
}

}  // namespace
}  // namespace tw
