// The online check's record as the firmware state keeps it: what the dongle reports, what is
// offered, the notices that follow, the announced results and the schedule.
#include "flash/online_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/update_host.h"
#include "flash/firmware_state_builder.h"
#include "sim/update_host_sim.h"

namespace tw {
namespace {

using test::FirmwareStateBuilder;

ReleaseList listOffering(const std::string& version) {
  sim::SimBuild build;
  build.version = version;
  build.url = std::string(UpdateFirmwarePrefix) + "tarnwick-bridge-" + version + ".uf2";
  build.sha256 = std::string(64, 'a');
  build.size = "2048";
  const std::string json = sim::SimUpdateHost::releaseListJson(version, {build});
  ReleaseList list;
  EXPECT_EQ(parseReleaseList(json.data(), json.size(), list, nullptr, 0), 1);
  return list;
}

struct StateFixture {
  // Every notice posted by `step`, taken at once as the tray would.
  std::vector<TrayNotice> noticesOf(const std::function<void()>& step) {
    step();
    std::vector<TrayNotice> shown;
    TrayNotice notice;
    if (takeNotice(state.notice, notice)) shown.push_back(notice);
    return shown;
  }
  void checkSucceeds(const std::string& offered) {
    beginOnlineCheck(state);
    finishOnlineCheck(state, true, listOffering(offered), "", ++now);
  }
  FirmwareState state = FirmwareStateBuilder().builtInState(BuiltInState::Verified).build();
  std::uint64_t now = 1000;
};

TEST(OnlineCheck, TheDongleVersionIsKeptAsPrintableAscii) {
  struct Case {
    std::string reported, kept;
  } cases[] = {
      {"0.9.1", "0.9.1"},
      {"caf\xc3\xa9 1.0", "caf? 1.0"},     // one UTF-16 unit
      {"\xf0\x9f\x98\x80 1.0", "?? 1.0"},  // a surrogate pair: two units
      {"1.0\t\x7f", "1.0??"},              // control characters
      {"\xff\xc3 1.0", "?? 1.0"},          // bytes that are not UTF-8
      {std::string(70, '1'), std::string(63, '1')},
      {std::string(62, '1') + "\xf0\x9f\x98\x80", std::string(62, '1') + "?"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(reduceDongleVersion(c.reported), c.kept) << c.reported;
}

TEST(OnlineCheck, ReadyIsOfferedOncePerVersionAndAgainForALaterRelease) {
  StateFixture f;
  const std::uint32_t seq = f.state.firmwareSeq;
  auto ready = f.noticesOf([&] { EXPECT_TRUE(applyDongleReport(f.state, true, "0.9.1")); });
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].title, "Firmware update ready");
  EXPECT_EQ(ready[0].text,
            "Tarnwick Bridge 0.9.3 is ready (your dongle has 0.9.1). Click here to install it.");
  EXPECT_FALSE(ready[0].warning);
  EXPECT_EQ(f.state.firmwareSeq, seq + 1);

  // The same values again change nothing; a dongle that went and came back is not told twice.
  EXPECT_TRUE(
      f.noticesOf([&] { EXPECT_FALSE(applyDongleReport(f.state, true, "0.9.1")); }).empty());
  EXPECT_EQ(f.state.firmwareSeq, seq + 1);
  EXPECT_TRUE(f.noticesOf([&] { applyDongleReport(f.state, false, "0.9.1"); }).empty());
  EXPECT_EQ(f.state.dongle.version, "");
  EXPECT_TRUE(f.noticesOf([&] { applyDongleReport(f.state, true, "0.9.1"); }).empty());

  // Updated to the offer: nothing; then 0.9.4 is published and checked: offered again.
  EXPECT_TRUE(f.noticesOf([&] { applyDongleReport(f.state, true, "0.9.3"); }).empty());
  auto later = f.noticesOf([&] { f.checkSucceeds("0.9.4"); });
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(later[0].text,
            "Tarnwick Bridge 0.9.4 is ready (your dongle has 0.9.3). Click here to install it.");
  EXPECT_TRUE(f.noticesOf([&] { f.checkSucceeds("0.9.4"); }).empty());
}

TEST(OnlineCheck, ReadyNeedsARunningDongleNoJobAndAUsableNewerOffer) {
  struct Case {
    const char* name;
    const char* dongle;
    bool jobActive;
    BuiltInState builtInState;
    const char* text;  // nullptr: no notice
  } cases[] = {
      {"no version", "", false, BuiltInState::Verified,
       "Tarnwick Bridge 0.9.3 is ready (your dongle has an older build). Click here to install "
       "it."},
      {"an unusable version", "beta", false, BuiltInState::Verified,
       "Tarnwick Bridge 0.9.3 is ready (your dongle has beta). Click here to install it."},
      {"a newer dongle", "1.0", false, BuiltInState::Verified, nullptr},
      {"the same version", "0.9.3", false, BuiltInState::Verified, nullptr},
      {"a job at work", "0.9.1", true, BuiltInState::Verified, nullptr},
      {"nothing to offer", "0.9.1", false, BuiltInState::Unusable, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StateFixture f;
    FirmwareStateBuilder built;
    built.builtInState(c.builtInState);
    if (c.jobActive) built.jobRunning(FirmwareAction::Install);
    f.state = built.build();
    auto shown = f.noticesOf([&] { applyDongleReport(f.state, true, c.dongle); });
    ASSERT_EQ(shown.size(), c.text != nullptr ? 1u : 0u);
    if (c.text != nullptr) {
      EXPECT_EQ(shown[0].text, c.text);
    }
  }
}

TEST(OnlineCheck, TheListIsOfferedOnlyAfterASuccessAndOnlyWhenNewer) {
  StateFixture f;
  bool fromList = true;
  EXPECT_EQ(offerVersion(f.state, &fromList), "0.9.3");
  EXPECT_FALSE(fromList);

  f.checkSucceeds("1.0.0");
  EXPECT_EQ(offerVersion(f.state, &fromList), "1.0.0");
  EXPECT_TRUE(fromList);

  // While a check runs, and after one failed, only the built-in image is offered.
  beginOnlineCheck(f.state);
  EXPECT_EQ(offerVersion(f.state, &fromList), "0.9.3");
  EXPECT_FALSE(fromList);
  finishOnlineCheck(f.state, false, ReleaseList{}, "this PC looks offline", ++f.now);
  EXPECT_EQ(offerVersion(f.state, &fromList), "0.9.3");
  EXPECT_EQ(f.state.online.error, "this PC looks offline");

  f.checkSucceeds("0.9.2");  // older than the built-in image
  EXPECT_EQ(offerVersion(f.state, &fromList), "0.9.3");
  EXPECT_FALSE(fromList);
  EXPECT_EQ(f.state.online.error, "");

  f.state = FirmwareStateBuilder(f.state).builtInState(BuiltInState::Unusable).build();
  EXPECT_EQ(offerVersion(f.state, &fromList), "0.9.2");
  EXPECT_TRUE(fromList);
}

TEST(OnlineCheck, AnnouncedResults) {
  const std::string checked = std::string("Checked ") + UpdateHost;
  struct Case {
    const char* name;
    bool ok;
    const char* listed;
    bool dongle;
    const char* dongleVersion;
    bool noticeWaiting;
    std::string title, text;  // empty title: nothing of its own
    bool warning;
  } cases[] = {
      {"failed", false, "", true, "0.9.3", false, "Couldn't check for updates",
       "this PC looks offline. Try again in a bit.", true},
      {"up to date", true, "0.9.3", true, "0.9.3", false, "You're up to date",
       "Your Tarnwick Bridge has 0.9.3, the newest release.", false},
      {"ahead", true, "0.9.3", true, "1.1", false, "You're up to date",
       "Your Tarnwick Bridge has 1.1, the newest release.", false},
      {"behind: ready instead", true, "1.0.0", true, "0.9.3", false, "Firmware update ready",
       "Tarnwick Bridge 1.0.0 is ready (your dongle has 0.9.3). Click here to install it.", false},
      {"no dongle", true, "1.0.0", false, "", false, checked,
       "The newest Tarnwick Bridge firmware is 1.0.0.", false},
      {"a notice waits", false, "", true, "0.9.3", true, "Dongle in update mode", "waiting", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StateFixture f;
    FirmwareStateBuilder built(f.state);
    if (c.dongle) built.runningDongle(c.dongleVersion);
    built.noticeShown();
    if (c.noticeWaiting) built.noticeWaiting("Dongle in update mode", "waiting");
    f.state = built.announceNextCheck().build();
    const std::uint32_t seq = f.state.firmwareSeq;
    auto shown = f.noticesOf([&] {
      beginOnlineCheck(f.state);
      finishOnlineCheck(f.state, c.ok, listOffering(c.listed[0] ? c.listed : "0.0"),
                        "this PC looks offline", 5000);
    });
    EXPECT_EQ(f.state.firmwareSeq, seq + 2);
    EXPECT_FALSE(f.state.online.announce);
    EXPECT_EQ(f.state.online.checkedAt, 5000u);
    EXPECT_STREQ(onlineStateName(f.state.online.state), c.ok ? "ok" : "failed");
    ASSERT_EQ(shown.size(), c.title.empty() ? 0u : 1u);
    if (c.title.empty()) continue;
    EXPECT_EQ(shown[0].title, c.title);
    EXPECT_EQ(shown[0].text, c.text);
    EXPECT_EQ(shown[0].warning, c.warning);
  }
}

TEST(OnlineCheck, TheScheduleChecksOnlyWithADongleOrBoardAndAfterItsIntervals) {
  constexpr std::uint64_t kTen = 36'000'000;  // 10:00 as a tick
  FirmwareState state;
  EXPECT_FALSE(isCheckDue(state, kTen));
  state = FirmwareStateBuilder().boardSeen().build();
  EXPECT_TRUE(isCheckDue(state, kTen));
  state = FirmwareStateBuilder().runningDongle("").build();
  EXPECT_TRUE(isCheckDue(state, kTen));

  beginOnlineCheck(state);
  EXPECT_FALSE(isCheckDue(state, kTen + 100'000'000));
  finishOnlineCheck(state, false, ReleaseList{}, "this PC looks offline", kTen);
  EXPECT_FALSE(isCheckDue(state, kTen + 900'000));
  EXPECT_TRUE(isCheckDue(state, kTen + 900'001));

  finishOnlineCheck(state, true, listOffering("1.0"), "", kTen);
  EXPECT_FALSE(isCheckDue(state, kTen + 21'600'000));
  EXPECT_TRUE(isCheckDue(state, kTen + 21'600'001));
  applyDongleReport(state, false, "");
  EXPECT_FALSE(isCheckDue(state, kTen + 21'600'001));
}

}  // namespace
}  // namespace tw
