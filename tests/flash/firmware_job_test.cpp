// The firmware job's queue and record without the firmware thread: refusals in their order, the
// fresh record of a queued request, cancel and dismiss, the beginning and the three endings, and
// the job's waits and progress reports.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "firmware_fixture.h"
#include "flash/board_record.h"
#include "flash/firmware_job.h"
#include "flash/firmware_job_context.h"
#include "flash/firmware_state_builder.h"

namespace tw {
namespace {

using test::FirmwareFixture;
using test::FirmwareStateBuilder;

constexpr char kBusy[] = "The dongle is already being worked on.";
constexpr char kStation[] =
    "Another Tarnwick flashing tool is at work (the Pellmark Rig or a bench script). Let it finish "
    "first so the two don't fight over the board.";
constexpr char kNothingToRestart[] = "Nothing to restart: no dongle is in update mode.";

class FirmwareJobQueue : public ::testing::Test {
 protected:
  FirmwareStore& store() { return f.firmware.store(); }
  std::uint32_t seq() { return f.firmware.firmwareSeq(); }
  // What a watcher pass finds: the bench tool at work, a board in update mode, or neither.
  void sighting(bool station, bool board) {
    BoardSighting seen;
    seen.station = station;
    seen.usbFound = board;
    seen.path = board ? "usb#board" : "";
    std::string pathToRead;
    store().recordSighting(seen, f.clock.tickMs(), pathToRead);
  }
  // A job begins as the firmware thread begins one, without a request queued first.
  void beginJob(FirmwareAction action) {
    store().beginJob(FirmwareRequest{false, action, false, false});
  }
  // A start that must be refused with `message`, leaving record, request and counter alone.
  void expectRefused(const std::string& action, const std::string& message) {
    const FirmwareJob before = f.job();
    const bool queuedBefore = f.queued();
    const std::uint32_t seqBefore = seq();
    std::string reason = "left over";
    EXPECT_FALSE(f.firmware.startFirmwareAction(action, false, reason)) << action;
    EXPECT_EQ(reason, message) << action;
    const FirmwareJob after = f.job();
    EXPECT_EQ(after.msg, before.msg);
    EXPECT_EQ(after.result, before.result);
    EXPECT_EQ(after.action, before.action);
    EXPECT_EQ(f.queued(), queuedBefore);
    EXPECT_EQ(seq(), seqBefore);
  }

  FirmwareFixture f;
};

TEST_F(FirmwareJobQueue, RefusalsComeInTheirOrder) {
  f.verifyBuiltIn();
  // Every condition at once: a request queued, the bench tool at work, no board.
  std::string reason;
  ASSERT_TRUE(f.firmware.startFirmwareAction("install", false, reason));
  sighting(true, false);
  for (const char* unknown : {"Update", "", "restart ", " update", "updates", "REPAIR", "upd"}) {
    expectRefused(unknown, "Unknown action.");
  }
  expectRefused("restart", kBusy);
  FirmwareRequest taken;  // the firmware thread takes the request up: its job runs
  ASSERT_TRUE(store().takeRequest(taken));
  expectRefused("restart", kBusy);
  store().endJob(FirmwareJobEnding::cancelled(), f.clock.tickMs());
  expectRefused("restart", kStation);
  expectRefused("install", kStation);
  sighting(false, false);
  expectRefused("restart", kNothingToRestart);
  sighting(false, true);
  EXPECT_TRUE(f.firmware.startFirmwareAction("restart", false, reason));
  EXPECT_EQ(reason, "");
  expectRefused("update", kBusy);
}

TEST_F(FirmwareJobQueue, AnUpdateTheRunningDongleDoesNotNeedIsRefused) {
  f.verifyBuiltIn();
  struct Case {
    const char* action;
    bool present;
    const char* running;
    const char* listed;  // nullptr: only the built-in 0.9.3
    bool board;
    const char* refusal;  // nullptr: queued
  };
  for (const Case& c : std::vector<Case>{
           {"update", true, "1.4.0", "1.4.0", false,
            "You already have the newest firmware (1.4.0)."},
           {"update", true, "1.4.0", "1.4.0", true, nullptr},
           {"update", true, "1.5.0", "1.4.0", false,
            "You already have the newest firmware (1.5.0)."},
           {"update", true, "0.9.3", nullptr, false,
            "You already have the newest firmware (0.9.3)."},
           {"update", true, "1.3.9", "1.4.0", false, nullptr},
           {"update", true, "", "1.4.0", false, nullptr},
           {"update", true, "odd", "1.4.0", false, nullptr},
           {"update", false, "", "1.4.0", false, nullptr},
           {"install", true, "1.4.0", "1.4.0", false, nullptr},
           {"repair", true, "1.4.0", "1.4.0", false, nullptr},
       }) {
    store().cancelJob();  // the last case's request goes
    f.firmware.reportDongle(c.present, c.running);
    sighting(false, c.board);
    // A failed check leaves only the built-in image to offer.
    ReleaseList list{};
    if (c.listed != nullptr) {
      list.count = 1;
      std::snprintf(list.builds[0].version, sizeof list.builds[0].version, "%s", c.listed);
    }
    store().finishOnlineCheck(c.listed != nullptr, list, "offline", f.clock.tickMs());
    if (c.refusal != nullptr) {
      expectRefused(c.action, c.refusal);
    } else {
      std::string reason;
      EXPECT_TRUE(f.firmware.startFirmwareAction(c.action, false, reason))
          << c.action << " " << c.running << ": " << reason;
    }
  }
  // A target that is no usable version refuses nothing.
  FirmwareFixture bare;
  bare.firmware.reportDongle(true, "1.4.0");
  std::string reason;
  EXPECT_TRUE(bare.firmware.startFirmwareAction("update", false, reason)) << reason;
}

TEST_F(FirmwareJobQueue, EachOfTheFiveActionsIsQueued) {
  sighting(false, true);
  for (const char* action : {"update", "install", "reinstall", "repair", "restart"}) {
    for (bool confirm : {false, true}) {
      f.firmware.cancelFirmwareJob();  // the last request goes
      std::string reason;
      ASSERT_TRUE(f.firmware.startFirmwareAction(action, confirm, reason)) << action << reason;
      const FirmwareRequest request = f.firmware.snapshot().request;
      EXPECT_STREQ(actionWord(request.action), action);
      EXPECT_EQ(request.confirm, confirm);
      EXPECT_FALSE(request.automatic);
    }
  }
}

TEST_F(FirmwareJobQueue, AQueuedRequestStartsAFreshRecord) {
  // What a failed job left behind.
  f.firmware.reportDongle(true, "0.9.1");
  beginJob(FirmwareAction::Install);
  store().setJobStep(JobPhase::None, 13);
  store().endJob(FirmwareJobEnding::failed("Boom.", "usb", true), 5);
  ASSERT_EQ(f.job().from, "0.9.1");
  const std::uint32_t before = seq();
  std::string reason;
  ASSERT_TRUE(f.firmware.startFirmwareAction("repair", true, reason));
  EXPECT_EQ(seq(), before + 1);
  EXPECT_TRUE(f.firmware.isFirmwareBusy());
  const FirmwareJob job = f.job();
  EXPECT_EQ(job.action, FirmwareAction::Repair);
  EXPECT_EQ(job.msg, "Starting\xE2\x80\xA6");
  EXPECT_FALSE(job.active);
  EXPECT_EQ(job.result, JobResult::None);
  EXPECT_EQ(job.error, "");
  EXPECT_EQ(job.tech, "");
  EXPECT_FALSE(job.refused);
  EXPECT_EQ(job.pct, 0);
  EXPECT_EQ(job.finishedAt, 0u);
  EXPECT_EQ(job.from, "");
  std::string line;
  EXPECT_TRUE(f.firmware.jobTrayText(line));
  EXPECT_EQ(line, "Getting firmware ready");
}

TEST_F(FirmwareJobQueue, CancelWhileQueuedEmptiesTheRecordWithoutAResult) {
  std::string reason;
  ASSERT_TRUE(f.firmware.startFirmwareAction("install", false, reason));
  const std::uint32_t before = seq();
  f.firmware.cancelFirmwareJob();
  EXPECT_EQ(seq(), before + 1);
  EXPECT_FALSE(f.queued());
  EXPECT_FALSE(f.firmware.isFirmwareBusy());
  const FirmwareJob job = f.job();
  EXPECT_EQ(job.action, FirmwareAction::None);
  EXPECT_EQ(job.msg, "");
  EXPECT_EQ(job.result, JobResult::None);
  // Nothing left to cancel: nothing changes.
  f.firmware.cancelFirmwareJob();
  EXPECT_EQ(seq(), before + 1);
}

TEST_F(FirmwareJobQueue, CancelReachesOnlyACancellableRunningJob) {
  for (bool cancellable : {false, true}) {
    beginJob(FirmwareAction::Install);
    store().setJobCancellable(cancellable);
    const std::uint32_t before = seq();
    f.firmware.cancelFirmwareJob();
    EXPECT_EQ(store().isCancelRaised(), cancellable);
    EXPECT_EQ(seq(), before);  // the job itself records how it ends
    EXPECT_TRUE(f.job().active);
  }
}

TEST_F(FirmwareJobQueue, DismissForgetsOnlyAFinishedJob) {
  beginJob(FirmwareAction::Install);
  store().setJobStep(JobPhase::None, -1, "Writing");
  std::uint32_t before = seq();
  f.firmware.dismissFirmwareResult();
  EXPECT_EQ(seq(), before);
  EXPECT_EQ(f.job().msg, "Writing");

  store().endJob(FirmwareJobEnding::cancelled(), f.clock.tickMs());
  std::string reason;
  ASSERT_TRUE(f.firmware.startFirmwareAction("install", false, reason));
  before = seq();
  f.firmware.dismissFirmwareResult();
  EXPECT_EQ(seq(), before);
  EXPECT_TRUE(f.queued());

  FirmwareRequest taken;
  ASSERT_TRUE(store().takeRequest(taken));
  store().endJob(FirmwareJobEnding::failed("Boom."), f.clock.tickMs());
  ASSERT_EQ(f.job().error, "Boom.");
  before = seq();
  f.firmware.dismissFirmwareResult();
  EXPECT_EQ(seq(), before + 1);
  EXPECT_EQ(f.job().result, JobResult::None);
  EXPECT_EQ(f.job().error, "");
}

TEST_F(FirmwareJobQueue, TakingARequestEmptiesTheQueueAndBeginsItsJob) {
  FirmwareRequest taken;
  EXPECT_FALSE(store().takeRequest(taken));
  std::string message;
  ASSERT_TRUE(store().queueRequest(FirmwareAction::Reinstall, true, message));
  ASSERT_TRUE(store().takeRequest(taken));
  EXPECT_EQ(taken.action, FirmwareAction::Reinstall);
  EXPECT_TRUE(taken.confirm);
  EXPECT_FALSE(f.queued());
  // Its job has begun with it: no second request slips in before it does.
  EXPECT_TRUE(f.firmware.isFirmwareBusy());
  EXPECT_FALSE(store().queueRequest(FirmwareAction::Repair, false, message));
}

TEST(FirmwareJobRecord, BeginningSetsTheRecordAndQuietsBoards) {
  struct Case {
    bool present;
    BoardRead read;
    bool ours;
    const char* version;
    bool running;  // a running dongle on 0.9.2 is known too
    const char* from;
  };
  for (const Case& c : std::vector<Case>{{true, BoardRead::Read, true, "0.9.1", true, "0.9.1"},
                                         {true, BoardRead::Read, true, "0.9.1", false, "0.9.1"},
                                         {true, BoardRead::Read, false, "1.0", false, ""},
                                         {true, BoardRead::Read, false, "1.0", true, "0.9.2"},
                                         {true, BoardRead::Failed, true, "0.9.1", false, ""},
                                         {true, BoardRead::NotRead, true, "0.9.1", true, "0.9.2"},
                                         {false, BoardRead::Read, true, "0.9.1", false, ""},
                                         {false, BoardRead::Read, true, "0.9.1", true, "0.9.2"}}) {
    // An earlier job installed 0.9.0; then the dongle and the board as the case has them.
    FirmwareStateBuilder built;
    built.jobRunning(FirmwareAction::Install)
        .jobEnded(FirmwareJobEnding::ok("0.9.0", "Firmware 0.9.0 is on.", false), 1)
        .nothingSeen();
    if (c.running) built.runningDongle("0.9.2");
    if (c.present) {
      if (c.read == BoardRead::NotRead) {
        built.boardSeen();
      } else {
        built.boardRead(c.read, c.ours ? "korrinlink" : "blink", c.version);
      }
    }
    FirmwareState state = built.build();
    const std::uint32_t before = state.firmwareSeq;
    beginFirmwareJob(state, FirmwareRequest{false, FirmwareAction::Update, false, false});
    EXPECT_TRUE(state.job.active);
    EXPECT_TRUE(state.job.cancellable);
    EXPECT_FALSE(state.job.automatic);
    EXPECT_EQ(state.job.action, FirmwareAction::Update);
    EXPECT_EQ(state.job.phase, JobPhase::Prepare);
    EXPECT_EQ(state.job.result, JobResult::None);
    EXPECT_EQ(state.job.installed, "");
    EXPECT_EQ(state.job.from, c.from) << c.version << " read " << static_cast<int>(c.read);
    EXPECT_EQ(state.board.advised, c.present);
    EXPECT_TRUE(state.quietNextBoard);
    EXPECT_EQ(state.firmwareSeq, before + 1);
  }
}

TEST(FirmwareJobRecord, EachEndingWritesItsFields) {
  struct Case {
    FirmwareJobEnding ending;
    const char* result;
    int pct;
    const char* msg;
    const char* detail;
    const char* error;
    const char* noticeTitle;  // nullptr: none
    const char* noticeText;
    bool warning;
  };
  const std::vector<Case> cases{
      {FirmwareJobEnding::ok("0.9.3", "Firmware 0.9.3 is on.", true,
                             " Turn your controller on to use it."),
       "ok", 100, "Firmware 0.9.3 is on.", "last detail", "", "Firmware installed",
       "Your Tarnwick Bridge is on 0.9.3. Turn your controller on to use it.", false},
      {FirmwareJobEnding::ok("0.9.3", "Restarted on 0.9.3.", false), "ok", 100,
       "Restarted on 0.9.3.", "last detail", "", nullptr, "", false},
      {FirmwareJobEnding::cancelled(), "cancelled", 0, "Cancelled. Nothing was changed.", "", "",
       nullptr, "", false},
      {FirmwareJobEnding::failed("The dongle never showed up in update mode, so nothing was "
                                 "changed.",
                                 "no board"),
       "failed", 42, "The dongle never showed up in update mode, so nothing was changed.",
       "last detail", "The dongle never showed up in update mode, so nothing was changed.",
       "The update didn't finish",
       "The dongle never showed up in update mode, so nothing was "
       "changed.",
       true},
      {FirmwareJobEnding::failed("This board runs \xE2\x80\x9C"
                                 "blink\xE2\x80\x9D, not Tarnwick "
                                 "firmware, so this app left it alone.",
                                 "", true),
       "failed", 42,
       "This board runs \xE2\x80\x9C"
       "blink\xE2\x80\x9D, not Tarnwick firmware, so this app left "
       "it alone.",
       "last detail",
       "This board runs \xE2\x80\x9C"
       "blink\xE2\x80\x9D, not Tarnwick firmware, so this app left "
       "it alone.",
       "Nothing was changed",
       "This board runs \xE2\x80\x9C"
       "blink\xE2\x80\x9D, not Tarnwick firmware, so this app left "
       "it alone.",
       false},
      {FirmwareJobEnding::failed(""), "failed", 42, "Something went wrong.", "last detail",
       "Something went wrong.", "The update didn't finish", "Something went wrong.", true},
  };
  for (const Case& c : cases) {
    // A board seen anew during the job, once a pass had seen none.
    FirmwareState state = FirmwareStateBuilder()
                              .jobRunning(FirmwareAction::Install)
                              .jobStep(JobPhase::None, 42, "Writing")
                              .jobNeedsUser(true)
                              .jobDetail("last detail")
                              .nothingSeen()
                              .boardSeen()
                              .build();
    const std::uint32_t before = state.firmwareSeq;
    endFirmwareJob(state, c.ending, 7777);
    const FirmwareJob& job = state.job;
    EXPECT_FALSE(job.active);
    EXPECT_FALSE(job.cancellable);
    EXPECT_FALSE(job.needsUser);
    EXPECT_EQ(job.countdown, 0);
    EXPECT_EQ(job.finishedAt, 7777u);
    EXPECT_EQ(job.phase, JobPhase::Done);
    EXPECT_STREQ(resultWord(job.result), c.result);
    EXPECT_EQ(job.pct, c.pct) << c.result;
    EXPECT_EQ(job.msg, c.msg);
    EXPECT_EQ(job.detail, c.detail);
    EXPECT_EQ(job.error, c.error);
    EXPECT_EQ(job.tech, c.ending.tech);
    EXPECT_EQ(job.refused, c.ending.refused);
    EXPECT_EQ(job.installed, c.ending.installed);
    EXPECT_TRUE(state.board.advised);
    EXPECT_EQ(state.firmwareSeq, before + 1);
    // What a successful job installed is not offered again.
    EXPECT_EQ(state.lastOffered, c.ending.result == FirmwareJobEnding::Result::Ok ? "0.9.3" : "");
    TrayNotice notice;
    EXPECT_EQ(takeNotice(state.notice, notice), c.noticeTitle != nullptr) << c.msg;
    if (c.noticeTitle != nullptr) {
      EXPECT_EQ(notice.title, c.noticeTitle);
      EXPECT_EQ(notice.text, c.noticeText);
      EXPECT_EQ(notice.warning, c.warning);
    }
  }
}

TEST(FirmwareJobRecord, OnlyAUsableInstalledVersionIsRememberedAsOffered) {
  for (const char* installed : {"", "unknown", "1"}) {
    // An earlier job installed 0.9.3, so that is what was last offered.
    FirmwareState state =
        FirmwareStateBuilder()
            .jobRunning(FirmwareAction::Install)
            .jobEnded(FirmwareJobEnding::ok("0.9.3", "Firmware 0.9.3 is on.", false), 1)
            .build();
    beginFirmwareJob(state, FirmwareRequest{false, FirmwareAction::Restart, false, false});
    endFirmwareJob(state, FirmwareJobEnding::ok(installed, "Restarted.", false), 1);
    EXPECT_EQ(state.lastOffered, "0.9.3") << installed;
  }
}

TEST(FirmwareJobRecord, LongTextsAreCutToTheirBuffers) {
  FirmwareState state;
  beginFirmwareJob(state, FirmwareRequest{false, FirmwareAction::Install, false, false});
  // 318 bytes, then a three-byte character that would end past 319.
  std::string sentence = std::string(318, 'x') + "\xE2\x80\xA6" + "tail";
  endFirmwareJob(state, FirmwareJobEnding::failed(sentence, std::string(400, 't')), 1);
  EXPECT_EQ(state.job.error, std::string(318, 'x'));
  EXPECT_EQ(state.job.msg, state.job.error);
  EXPECT_EQ(state.job.tech.size(), 319u);
}

// A clock of its own for the job's waits: sleeping moves time at once and is recorded, and a hook
// may raise a flag at a given moment.
class SteppingClock : public Clock {
 public:
  std::uint64_t tickMs() override { return now; }
  void sleepMs(std::uint32_t ms) override {
    sleeps.push_back(ms);
    now += ms;
    if (onSleep) onSleep(now);
  }
  std::unique_ptr<ClockEvent> createEvent(EventReset, bool) override { return nullptr; }
  std::unique_ptr<ClockThread> startThread(std::function<void()>) override { return nullptr; }
  std::uint64_t now = 5000;
  std::vector<std::uint32_t> sleeps;
  std::function<void(std::uint64_t)> onSleep;
};

struct JobContextFixture {
  FirmwareJob job() const { return store.snapshot().job; }
  std::uint32_t seq() const { return store.firmwareSeq(); }

  std::vector<WParam> posts;
  FirmwareStore store{[this](WParam kind) { posts.push_back(kind); }};
  SteppingClock clock;
  std::atomic<bool> stop{false};
  FirmwareJobContext context{store, clock, stop};
};

TEST(FirmwareJobContext, WaitsInStepsOfAHundredMillisecondsAndStopsForEitherFlag) {
  {
    JobContextFixture f;
    EXPECT_TRUE(f.context.cancellableWait(250));
    EXPECT_EQ(f.clock.sleeps, (std::vector<std::uint32_t>{100, 100, 50}));
    EXPECT_TRUE(f.context.cancellableWait(0));
    EXPECT_EQ(f.clock.sleeps.size(), 3u);
  }
  for (int which = 0; which < 2; ++which) {
    // Raised during the third step: the wait notices at the end of that step.
    JobContextFixture f;
    f.clock.onSleep = [&](std::uint64_t now) {
      if (now <= 5200) return;
      if (which == 0) f.store.raiseCancel();
      if (which == 1) f.stop = true;
    };
    EXPECT_FALSE(f.context.cancellableWait(10000));
    EXPECT_EQ(f.clock.now, 5300u);
    // Already raised: no sleep at all.
    f.clock.sleeps.clear();
    EXPECT_FALSE(f.context.cancellableWait(1000));
    EXPECT_TRUE(f.clock.sleeps.empty());
  }
  {
    // Raised during the last step: the time is up, but the answer is still no.
    JobContextFixture f;
    f.clock.onSleep = [&](std::uint64_t now) {
      if (now == 5300) f.store.raiseCancel();
    };
    EXPECT_FALSE(f.context.cancellableWait(300));
    EXPECT_EQ(f.clock.now, 5300u);
  }
}

TEST(FirmwareJobContext, ProgressAndDetailUpdateTheRecordAndTellTheTray) {
  JobContextFixture f;
  const std::uint32_t before = f.seq();
  f.context.setProgress(JobPhase::Inspect, 13, "Found it. Reading the dongle\xE2\x80\xA6");
  EXPECT_EQ(f.job().phase, JobPhase::Inspect);
  EXPECT_EQ(f.job().pct, 13);
  EXPECT_EQ(f.job().msg, "Found it. Reading the dongle\xE2\x80\xA6");
  f.context.setProgress(JobPhase::None, -1, "Only the message %d", 7);
  EXPECT_EQ(f.job().phase, JobPhase::Inspect);
  EXPECT_EQ(f.job().pct, 13);
  EXPECT_EQ(f.job().msg, "Only the message 7");
  f.context.setProgress(JobPhase::Write, 0);
  EXPECT_EQ(f.job().phase, JobPhase::Write);
  EXPECT_EQ(f.job().pct, 0);
  EXPECT_EQ(f.job().msg, "Only the message 7");
  f.context.setDetail("%s", std::string(400, 'd').c_str());
  EXPECT_EQ(f.job().detail.size(), 319u);
  f.context.setCancellable(false);
  f.context.setNeedsUser(true);
  EXPECT_FALSE(f.job().cancellable);
  EXPECT_TRUE(f.job().needsUser);
  EXPECT_EQ(f.seq(), before + 6);
  EXPECT_EQ(f.posts, std::vector<WParam>(6, FW_CHANGED));
}

TEST(FirmwareJobContext, DownloadProgressUsesTheWholeRangeIn64Bits) {
  struct Case {
    std::uint64_t received, total;
    int pct;
    const char* msg;
  };
  const std::uint64_t big = 6'000'000'000ull;  // products beyond 32 bits
  for (const Case& c : std::vector<Case>{
           {0, 1000, 2, "Downloading firmware\xE2\x80\xA6 0%"},
           {500, 1000, 6, "Downloading firmware\xE2\x80\xA6 50%"},
           {999, 1000, 9, "Downloading firmware\xE2\x80\xA6 99%"},
           {1000, 1000, 10, "Downloading firmware\xE2\x80\xA6 100%"},
           {big / 4, big, 4, "Downloading firmware\xE2\x80\xA6 25%"},
           {2'594'816, 2'594'816, 10, "Downloading firmware\xE2\x80\xA6 100%"},
           {5000, 1000, 10, "Downloading firmware\xE2\x80\xA6 100%"},
       }) {
    JobContextFixture f;
    f.context.setProgress(JobPhase::Download, -1);
    f.context.downloadProgress(c.received, c.total);
    EXPECT_EQ(f.job().pct, c.pct) << c.received << "/" << c.total;
    EXPECT_EQ(f.job().msg, c.msg);
    EXPECT_EQ(f.job().phase, JobPhase::Download);
  }
  JobContextFixture f;
  const std::uint32_t before = f.seq();
  f.context.downloadProgress(100, 0);  // no total known: nothing to say
  EXPECT_EQ(f.seq(), before);
  EXPECT_TRUE(f.posts.empty());
}

}  // namespace
}  // namespace tw
