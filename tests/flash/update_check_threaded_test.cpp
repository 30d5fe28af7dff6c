// The release-list check of the firmware side on virtual time, against the simulated update host:
// the schedule (at once with a dongle, 15 minutes after a failure, six hours after a success,
// never without a dongle), checks the person asks for, offers while a check runs, and the tray's
// reports arriving on a thread of their own while checks run.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "built_in_firmware.h"
#include "firmware_fixture.h"
#include "firmware/update_host.h"
#include "flash/firmware_subsystem.h"
#include "flash/online_check.h"
#include "platform/host/embedded_resources.h"
#include "platform/host/openssl_signature.h"
#include "platform/host/queue_message_loop.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/sim_releases.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"
#include "trusted_release_key.h"

namespace tw {
namespace {

constexpr std::uint64_t kTenOClock = 36'000'000;

// Counts the release-list checks that reach the host.
class CountingHost : public HttpsPort {
 public:
  explicit CountingHost(HttpsPort& inner) : inner_(inner) {}
  std::unique_ptr<HttpsSession> open(std::string_view agent, HttpsProxy proxy,
                                     std::uint32_t& error) override {
    ++sessions;
    return inner_.open(agent, proxy, error);
  }
  std::atomic<int> sessions{0};

 private:
  HttpsPort& inner_;
};

sim::World::Options noDongle() {
  sim::World::Options options;
  options.donglePlugged = false;
  return options;
}

struct CheckFixture {
  CheckFixture() : world(clock, noDongle()), files(clock), loop(clock) {
    resources.add(kResourceBuiltInFirmware, builtInFirmwareImage, builtInFirmwareImageSize);
    window = loop.createHiddenWindow("TarnwickBridgeTrayWnd", "Tarnwick Bridge", &tray);
    releases.publish("0.9.3", std::vector<std::uint8_t>(2048, 0x55));
  }
  ~CheckFixture() { firmware.firmwareStop(); }

  void start() {
    firmware.firmwareStart(window);
    run(100);
  }
  void run(std::uint32_t ms) {
    clock.sleepMs(ms);
    loop.dispatchPending();
  }
  std::vector<TrayNotice> notices() {
    std::vector<TrayNotice> taken;
    TrayNotice notice;
    while (firmware.takeNotice(notice)) taken.push_back(notice);
    return taken;
  }
  // Reads one consistent copy of the firmware state.
  template <typename F>
  auto copied(F f) {
    const FirmwareState state = firmware.snapshot();
    return f(state);
  }
  std::uint64_t checkedAt() {
    return copied([](const FirmwareState& s) { return s.online.checkedAt; });
  }
  OnlineState online() {
    return copied([](const FirmwareState& s) { return s.online.state; });
  }
  void offline(bool off) {
    sim::SimHttpsFaults faults;
    if (off) faults.send = HTTPS_ERROR_CANNOT_CONNECT;
    updateHost.setFaults(faults);
  }

  sim::VirtualClock clock{kTenOClock};
  sim::World world;
  DongleLink dongle{world.hid()};
  sim::SimFileSystem files;
  sim::SimDesktopShell desktop;
  QueueMessageLoop loop;
  test::PostRecorder tray;
  WindowId window = 0;
  EmbeddedResources resources;
  sim::SimUpdateHost updateHost{UpdateHost};
  sim::SimReleases releases{updateHost, clock, UpdateHost};
  CountingHost host{updateHost};
  OpenSslSignatureVerifier signatures;
  FirmwareSubsystem firmware{FirmwarePorts{resources, loop, clock, world.usb(), dongle, files,
                                           desktop, host, signatures, build::kTrustedReleaseKey}};
};

TEST(UpdateCheckThreaded, NothingIsFetchedUntilADongleIsAttached) {
  CheckFixture f;
  f.start();
  f.run(10 * FirmwareSubsystem::kTurnWaitMs);
  f.clock.advance(3'600'000);  // an hour later: one more turn
  f.run(FirmwareSubsystem::kTurnWaitMs);
  EXPECT_EQ(f.host.sessions, 0);
  EXPECT_EQ(f.online(), OnlineState::Never);

  f.firmware.reportDongle(true, "0.9.3");
  f.run(50);  // the report wakes the firmware thread: no need to wait for its turn
  EXPECT_EQ(f.host.sessions, 1);
  EXPECT_EQ(f.online(), OnlineState::Ok);
  EXPECT_TRUE(f.notices().empty());  // not asked for, and nothing newer
}

TEST(UpdateCheckThreaded, AFailedCheckIsRetriedAfterFifteenMinutesAndASuccessfulOneAfterSix) {
  CheckFixture f;
  f.offline(true);
  f.start();
  f.firmware.reportDongle(true, "0.9.3");
  f.run(50);
  ASSERT_EQ(f.online(), OnlineState::Failed);
  const std::uint64_t failedAt = f.checkedAt();
  EXPECT_LT(failedAt - kTenOClock, 1000u);
  EXPECT_EQ(f.copied([](const FirmwareState& s) { return s.online.error; }),
            "this PC looks offline");

  f.offline(false);
  f.run(static_cast<std::uint32_t>(failedAt + 900'000 - f.clock.tickMs()));  // 10:15
  EXPECT_EQ(f.host.sessions, 1);
  f.run(FirmwareSubsystem::kTurnWaitMs + 10);
  EXPECT_EQ(f.host.sessions, 2);
  const std::uint64_t okAt = f.checkedAt();
  EXPECT_GT(okAt, failedAt + 900'000);
  EXPECT_LE(okAt, failedAt + 900'000 + FirmwareSubsystem::kTurnWaitMs + 10);
  EXPECT_EQ(f.online(), OnlineState::Ok);

  // Six hours of turns, most of them skipped in one go.
  f.clock.advance(okAt + 21'600'000 - 500 - f.clock.tickMs());
  f.run(500);
  EXPECT_EQ(f.host.sessions, 2);
  f.run(FirmwareSubsystem::kTurnWaitMs + 10);
  EXPECT_EQ(f.host.sessions, 3);
  EXPECT_TRUE(f.notices().empty());
}

TEST(UpdateCheckThreaded, TwoQuickRequestsMakeOneCheckAnnouncedOnce) {
  CheckFixture f;
  f.start();
  f.releases.setFault(sim::ReleaseFault::Slow);  // the check is still reading when asked again
  f.firmware.requestUpdateCheck();
  f.firmware.requestUpdateCheck();
  f.run(5000);
  EXPECT_EQ(f.host.sessions, 1);
  std::vector<TrayNotice> shown = f.notices();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, std::string("Checked ") + UpdateHost);
  EXPECT_EQ(shown[0].text, "The newest Tarnwick Bridge firmware is 0.9.3.");

  // Asked for without a dongle and without the firmware thread's schedule: it runs regardless.
  f.offline(true);
  f.firmware.requestUpdateCheck();
  f.run(1000);
  shown = f.notices();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Couldn't check for updates");
  EXPECT_EQ(shown[0].text, "this PC looks offline. Try again in a bit.");
  EXPECT_TRUE(shown[0].warning);
}

TEST(UpdateCheckThreaded, AHostWithoutAUsableListGivesTheReasonInTheWarning) {
  struct Case {
    sim::ReleaseFault fault;
    std::string text;
  } cases[] = {
      {sim::ReleaseFault::NoList, std::string(UpdateHost) + " answered 404. Try again in a bit."},
      {sim::ReleaseFault::BadList, "the release list could not be read. Try again in a bit."},
  };
  for (const Case& c : cases) {
    CheckFixture f;
    f.start();
    f.releases.setFault(c.fault);
    f.firmware.requestUpdateCheck();
    f.run(100);
    std::vector<TrayNotice> shown = f.notices();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Couldn't check for updates");
    EXPECT_EQ(shown[0].text, c.text);
    EXPECT_EQ(f.online(), OnlineState::Failed);
  }
  CheckFixture f;
  f.start();
  f.releases.clear();
  f.firmware.requestUpdateCheck();
  f.run(100);
  EXPECT_EQ(f.notices().at(0).text, "the release list has no usable builds. Try again in a bit.");
}

TEST(UpdateCheckThreaded, ARequestThatCameJustAfterTheLastCheckTookItsResultIsStillAnswered) {
  CheckFixture f;
  f.start();
  // As left behind by a request that arrived while the last check was releasing its flag.
  f.firmware.store().announceNextCheck();
  f.run(FirmwareSubsystem::kTurnWaitMs + 10);
  EXPECT_EQ(f.host.sessions, 1);
  EXPECT_EQ(f.notices().size(), 1u);
  f.run(10 * FirmwareSubsystem::kTurnWaitMs);
  EXPECT_EQ(f.host.sessions, 1);
}

TEST(UpdateCheckThreaded, WhileACheckRunsOnlyTheBuiltInImageIsOffered) {
  CheckFixture f;
  f.start();
  f.releases.publish("1.0.0", std::vector<std::uint8_t>(4096, 0x66));
  f.firmware.reportDongle(true, "0.9.3");
  f.run(100);
  bool fromList = false;
  EXPECT_EQ(f.copied([&](const FirmwareState& s) { return offerVersion(s, &fromList); }), "1.0.0");
  EXPECT_TRUE(fromList);
  std::vector<TrayNotice> shown = f.notices();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Firmware update ready");

  f.releases.setFault(sim::ReleaseFault::Slow);
  f.firmware.requestUpdateCheck();
  f.run(10);  // the check now waits for the host
  EXPECT_EQ(f.online(), OnlineState::Checking);
  EXPECT_EQ(f.copied([&](const FirmwareState& s) { return offerVersion(s, &fromList); }), "0.9.3");
  EXPECT_FALSE(fromList);
  f.run(1000);
  EXPECT_EQ(f.copied([&](const FirmwareState& s) { return offerVersion(s, &fromList); }), "1.0.0");
  EXPECT_TRUE(f.notices().empty());  // 1.0.0 was offered already; behind, so nothing else
}

TEST(UpdateCheckThreaded, TheTraysReportsAndChecksRunSideBySide) {
  CheckFixture f;
  f.start();
  f.releases.setFault(sim::ReleaseFault::Slow);
  std::atomic<int> reports{0};
  // The tray's thread: a poll every 2 s, the dongle coming and going and being updated.
  std::unique_ptr<ClockThread> trayThread = f.clock.startThread([&] {
    static const char* const kVersions[] = {"0.9.1", "0.9.3", "", "1.0.0", "0.9.2"};
    for (int poll = 0; poll < 60; ++poll) {
      f.firmware.reportDongle(poll % 7 != 3, kVersions[poll % 5]);
      if (poll % 10 == 0) f.firmware.requestUpdateCheck();
      ++reports;
      f.clock.sleepMs(2000);
    }
  });
  std::uint32_t lastSeq = 0;
  for (int i = 0; i < 130; ++i) {
    f.run(1000);
    const std::uint32_t seq = f.copied([](const FirmwareState& s) { return s.firmwareSeq; });
    EXPECT_GE(seq, lastSeq);
    lastSeq = seq;
    f.notices();
  }
  ASSERT_TRUE(trayThread->join(10'000));
  EXPECT_EQ(reports, 60);
  EXPECT_FALSE(f.firmware.store().isCheckRunning());
  EXPECT_GE(f.host.sessions, 6);
}

TEST(UpdateCheckThreaded, ACheckStillReadingWhenTheFirmwareSideGoesAwayEndsWithIt) {
  auto f = std::make_unique<CheckFixture>();
  f->start();
  f->releases.setFault(sim::ReleaseFault::Slow);
  f->firmware.requestUpdateCheck();
  f->run(10);
  EXPECT_EQ(f->online(), OnlineState::Checking);
  f.reset();  // joins the check, which stops after its read
}

}  // namespace
}  // namespace tw
