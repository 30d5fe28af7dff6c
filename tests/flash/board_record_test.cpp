#include "flash/board_record.h"

#include <gtest/gtest.h>

#include "flash/board_advice.h"
#include "flash/firmware_state_builder.h"

namespace tw {
namespace {

using test::FirmwareStateBuilder;

BoardSighting usbAt(const std::string& path, const std::string& drive = "") {
  BoardSighting seen;
  seen.usbFound = true;
  seen.path = path;
  seen.serial = "E0C9125B0D9B";
  seen.drive = drive;
  return seen;
}

BoardSighting driveOnly(const std::string& drive = "E:") {
  BoardSighting seen;
  seen.drive = drive;
  return seen;
}

// Which board a pass sees, from what the record holds and what is found now.
TEST(BoardRecord, TellsTheSameBoardFromANewOne) {
  struct Case {
    const char* name;
    BoardSighting first;
    std::uint64_t laterMs;
    BoardSighting then;
    bool sameBoard;
    bool usbAfter;
  };
  const Case cases[] = {
      {"same interface path", usbAt("p1"), 700, usbAt("p1"), true, true},
      {"another path", usbAt("p1"), 700, usbAt("p2"), false, true},
      {"interface gone, drive stays", usbAt("p1", "E:"), 700, driveOnly(), false, false},
      {"drive first, interface 3 s later", driveOnly(), 3000, usbAt("p1", "E:"), true, true},
      {"interface at 7999 ms", driveOnly(), 7999, usbAt("p1", "E:"), true, true},
      {"interface at 8000 ms", driveOnly(), 8000, usbAt("p1", "E:"), false, true},
      {"drive only again", driveOnly(), 5000, driveOnly(), true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FirmwareState state;
    std::string path;
    recordSighting(state, c.first, 1000, path);
    const std::uint64_t seenAt = state.board.seenAt;
    const std::uint32_t seq = state.firmwareSeq;
    recordSighting(state, c.then, 1000 + c.laterMs, path);
    EXPECT_TRUE(state.board.present);
    EXPECT_EQ(state.board.seenAt == seenAt, c.sameBoard);
    EXPECT_EQ(state.board.usb, c.usbAfter);
    if (!c.sameBoard) {
      EXPECT_GT(state.firmwareSeq, seq);
    }
  }
}

TEST(BoardRecord, ReadsAfterSettlingOnceAndRetriesOnlyABusyBoard) {
  FirmwareState state;
  std::string path;
  EXPECT_FALSE(recordSighting(state, usbAt("p1"), 1000, path));
  EXPECT_FALSE(recordSighting(state, usbAt("p1"), 1600, path));  // not more than 600 ms yet
  ASSERT_TRUE(recordSighting(state, usbAt("p1"), 1601, path));
  EXPECT_EQ(path, "p1");

  BoardProbe busy;
  busy.result = BoardRead::Busy;
  busy.why = "open failed (Windows error 32)";
  recordProbe(state, "p1", busy, 1601);
  EXPECT_FALSE(recordSighting(state, usbAt("p1"), 4600, path));
  EXPECT_TRUE(recordSighting(state, usbAt("p1"), 4601, path));

  BoardProbe failed;
  failed.why = "read failed (Windows error 31)";
  recordProbe(state, "p1", failed, 4601);
  EXPECT_EQ(state.board.why, failed.why);
  EXPECT_FALSE(recordSighting(state, usbAt("p1"), 60000, path));  // a failed read is not repeated
}

TEST(BoardRecord, AReadOfABoardThatChangedMeanwhileIsDropped) {
  FirmwareState state;
  std::string path;
  recordSighting(state, usbAt("p1"), 1000, path);
  recordSighting(state, usbAt("p2"), 1700, path);
  BoardProbe ours;
  ours.result = BoardRead::Read;
  ours.program = "korrinlink";
  recordProbe(state, "p1", ours, 1800);
  EXPECT_EQ(state.board.read, BoardRead::NotRead);
  EXPECT_FALSE(state.board.ours);
}

TEST(BoardRecord, ADriveOnlyBoardIsGivenUpOnAfterSixSeconds) {
  FirmwareState state;
  std::string path;
  recordSighting(state, driveOnly(), 1000, path);
  recordSighting(state, driveOnly(), 7000, path);
  EXPECT_EQ(state.board.read, BoardRead::NotRead);
  recordSighting(state, driveOnly(), 7001, path);
  EXPECT_EQ(state.board.read, BoardRead::Failed);
  EXPECT_EQ(state.board.why, "Windows hasn't given this app the board's USB update interface");
}

TEST(BoardRecord, TheStationAndAnEmptyPassForgetTheBoardAndTheQuietFlag) {
  for (bool station : {true, false}) {
    FirmwareState state = FirmwareStateBuilder().quietNextBoard().build();
    std::string path;
    recordSighting(state, usbAt("p1"), 1000, path);
    EXPECT_TRUE(state.board.advised);  // first seen while quiet
    BoardSighting seen = station ? usbAt("p1") : BoardSighting{};
    seen.station = station;
    recordSighting(state, seen, 2000, path);
    EXPECT_FALSE(state.board.present);
    EXPECT_FALSE(state.quietNextBoard);
    EXPECT_EQ(state.station, station);
  }
}

// The advice each kind of board earns, with the offer of the verified built-in image (0.9.3).
TEST(BoardAdvice, EachKindOfBoardGetsItsNotice) {
  struct Case {
    BuiltInState builtInState;
    BoardRead read;
    const char* program;
    const char* version;
    bool blank;
    const char* title;
    const char* text;
    bool warning;
  };
  const Case cases[] = {
      {BuiltInState::Unusable, BoardRead::Read, "korrinlink", "0.9.1", false,
       "Dongle in update mode",
       "This app has no firmware to install yet. Connect to the internet and open the panel.",
       true},
      {BuiltInState::Verified, BoardRead::Failed, "", "", false, "Dongle in update mode",
       "Open the panel to install firmware on it.", false},
      {BuiltInState::Verified, BoardRead::Read, "korrinlink", "0.9.1", false,
       "Dongle in update mode", "It has 0.9.1 and 0.9.3 is ready. Open the panel to install it.",
       false},
      {BuiltInState::Verified, BoardRead::Read, "korrinlink", "", false, "Dongle in update mode",
       "It has older firmware and 0.9.3 is ready. Open the panel to install it.", false},
      {BuiltInState::Verified, BoardRead::Read, "korrinlink", "0.9.3", false,
       "Dongle in update mode",
       "It already has 0.9.3. Open the panel to restart it, or to repair it.", false},
      {BuiltInState::Verified, BoardRead::Read, "", "", true, "New board in update mode",
       "It has no firmware yet. Open the panel to install 0.9.3.", false},
      {BuiltInState::Verified, BoardRead::Read, "blink", "", false, "Board in update mode",
       "It's running something else (blink). Open the panel if you want Tarnwick Bridge on it.",
       false},
      {BuiltInState::Verified, BoardRead::Read, "", "", false, "Board in update mode",
       "It's running something else (unnamed). Open the panel if you want Tarnwick Bridge on it.",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FirmwareState state = FirmwareStateBuilder().builtInState(c.builtInState).build();
    std::string path;
    recordSighting(state, usbAt("p1"), 1000, path);
    BoardProbe probe;
    probe.result = c.read;
    probe.program = c.program;
    probe.version = c.version;
    probe.blank = c.blank;
    recordProbe(state, "p1", probe, 2000);
    ASSERT_TRUE(isBoardAdviceDue(state));
    giveBoardAdvice(state);
    EXPECT_FALSE(isBoardAdviceDue(state));  // once per board
    TrayNotice notice;
    ASSERT_TRUE(takeNotice(state.notice, notice));
    EXPECT_EQ(notice.title, c.title);
    EXPECT_EQ(notice.text, c.text);
    EXPECT_EQ(notice.warning, c.warning);
  }
}

TEST(BoardAdvice, WaitsForTheReadAndStandsBackForJobsAndTheStation) {
  FirmwareState state;
  std::string path;
  recordSighting(state, usbAt("p1"), 1000, path);
  EXPECT_FALSE(isBoardAdviceDue(state));  // not read yet
  recordProbe(state, "p1", BoardProbe{}, 2000);
  for (int blocker = 0; blocker < 3; ++blocker) {
    // The same failed read, first seen while a job runs (once a pass saw no board), while a
    // request waits, or while another flashing tool is at work.
    FirmwareStateBuilder blocked;
    if (blocker == 0) blocked.jobRunning(FirmwareAction::Install).nothingSeen();
    if (blocker == 1) blocked.jobQueued(FirmwareAction::Install);
    blocked.boardRead(BoardRead::Failed);
    if (blocker == 2) blocked.station();
    state = blocked.build();
    EXPECT_FALSE(isBoardAdviceDue(state)) << blocker;
  }
}

TEST(PendingNotice, ATextTooLongForTheBalloonIsShownEmptyNotCut) {
  PendingNotice notice;
  postNotice(notice, NoticeKind::Information, "Firmware update ready", "%s",
             std::string(256, 'x').c_str());
  TrayNotice shown;
  ASSERT_TRUE(takeNotice(notice, shown));
  EXPECT_EQ(shown.title, "Firmware update ready");
  EXPECT_EQ(shown.text, "");
  EXPECT_FALSE(takeNotice(notice, shown));
}

}  // namespace
}  // namespace tw
