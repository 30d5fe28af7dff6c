// The tray when the shell refuses its icon: before the shell is up at log-on, after Explorer lost
// the icon, and when an add is carried out but reported as failed.
#include <gtest/gtest.h>

#include "tray_fixture.h"

namespace tw::testing {
namespace {

using Kind = sim::TrayEvent::Kind;

class TrayShellTest : public TrayFixture {
 protected:
  int count(Kind kind, bool succeeded) {
    int n = 0;
    for (const sim::TrayEvent& event : tray.events())
      if (event.kind == kind && event.succeeded == succeeded) ++n;
    return n;
  }
  void taskbarCreated() { send(app->taskbarCreatedMessage()); }
  const std::string connectedTip =
      "Tarnwick Bridge \xE2\x80\x94 Connected \xE2\x80\xA2 battery good \xE2\x80\xA2 signal strong";
};

struct RefusedAtStart {
  const char* name;
  const char* commandLine;
  bool viaTaskbarCreated;  // the shell announces itself; otherwise the next poll finds it
};

void PrintTo(const RefusedAtStart& start, std::ostream* out) {
  *out << start.name;
}

class RefusedAtStartTest : public TrayShellTest,
                           public ::testing::WithParamInterface<RefusedAtStart> {};

TEST_P(RefusedAtStartTest, TheIconComesOnceTheShellIsUp) {
  tray.stopShell();
  runApp(
      [&] {
        EXPECT_FALSE(app->iconShown()) << "a refused add leaves the icon not shown";
        EXPECT_EQ(count(Kind::Add, false), 1);
        poll();
        EXPECT_EQ(count(Kind::Add, false), 2) << "each poll tries again while the shell is down";
        EXPECT_FALSE(tray.visible());

        tray.startShell();
        if (GetParam().viaTaskbarCreated) {
          taskbarCreated();
        } else {
          poll();
        }
        EXPECT_TRUE(app->iconShown());
        EXPECT_TRUE(tray.visible());
        EXPECT_EQ(tip(), connectedTip) << "the icon arrives with the current tooltip";
        EXPECT_EQ(count(Kind::Add, true), 1);
        poll();
        EXPECT_EQ(count(Kind::Add, true), 1) << "once shown, refreshes only modify it";
      },
      GetParam().commandLine);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, RefusedAtStartTest,
    ::testing::Values(RefusedAtStart{"InteractivePoll", "Tarnwick.exe", false},
                      RefusedAtStart{"InteractiveTaskbarCreated", "Tarnwick.exe", true},
                      RefusedAtStart{"LogOnPoll", "Tarnwick.exe --startup", false},
                      RefusedAtStart{"LogOnTaskbarCreated", "Tarnwick.exe --startup", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrayShellTest, AnInteractiveRunWithoutADongleStillGetsItsIconWhenTheShellComes) {
  world.unplugDongle();
  tray.stopShell();
  runApp([&] {
    for (int i = 0; i < 4; ++i) poll();
    EXPECT_FALSE(tray.visible());
    tray.startShell();
    poll();
    EXPECT_TRUE(tray.visible());
    EXPECT_EQ(tip(), "Tarnwick Bridge \xE2\x80\x94 No controller connected");
  });
}

TEST_F(TrayShellTest, AnIconNoLongerWantedIsNotBroughtBackWhenTheShellComes) {
  tray.stopShell();
  runApp(
      [&] {
        world.unplugDongle();
        for (int i = 0; i < 3; ++i) poll();  // the third miss takes the icon away
        tray.startShell();
        taskbarCreated();
        poll();
        EXPECT_FALSE(tray.visible());
        EXPECT_EQ(count(Kind::Add, true), 0);
      },
      "Tarnwick.exe --startup");
}

TEST_F(TrayShellTest, AShownIconTheShellLostIsAddedAgainAtTheNextRefresh) {
  runApp([&] {
    tray.startShell();  // Explorer restarted; its "TaskbarCreated" has not arrived
    EXPECT_FALSE(tray.visible());
    poll();
    EXPECT_TRUE(tray.visible());
    EXPECT_EQ(tip(), connectedTip);
    EXPECT_EQ(count(Kind::Modify, false), 1);

    // Lost while the shell is still down: not shown, and tried again once it is up.
    tray.stopShell();
    poll();
    EXPECT_FALSE(app->iconShown());
    tray.startShell();
    poll();
    EXPECT_TRUE(app->iconShown());
    EXPECT_TRUE(tray.visible());

    // The late "TaskbarCreated" finds the icon there and leaves it so.
    taskbarCreated();
    EXPECT_TRUE(app->iconShown());
    EXPECT_TRUE(tray.visible());
  });
}

TEST_F(TrayShellTest, AnAddCarriedOutButReportedAsFailedIsNotAddedTwice) {
  tray.lateAdds(1);
  runApp([&] {
    EXPECT_TRUE(app->iconShown()) << "the modify that follows finds the icon there";
    EXPECT_EQ(tip(), connectedTip);
    tray.clear();
    poll();
    poll();
    EXPECT_EQ(count(Kind::Add, false) + count(Kind::Add, true), 0);
    EXPECT_EQ(count(Kind::Modify, false), 0);
  });
}

TEST_F(TrayShellTest, BalloonsWaitForAnIconTheShellHasTaken) {
  world.setController([](sim::ControllerState& c) {
    c.batteryLevel = 1;
    c.powerState = 0;
  });
  tray.stopShell();
  runApp(
      [&] {
        firmware.pendingNotice = TrayNotice{"Firmware installed", "All done.", false};
        send(WM_APP_FIRMWARE, FW_NOTICE);
        poll();
        EXPECT_TRUE(tray.balloons().empty()) << "no balloon without an icon to carry it";
        tray.startShell();
        poll();
        ASSERT_EQ(tray.balloons().size(), 1u);
        EXPECT_EQ(tray.balloons()[0].title, "Controller battery");
        poll();
        EXPECT_EQ(tray.balloons().size(), 1u);
      },
      "Tarnwick.exe --startup");
}

}  // namespace
}  // namespace tw::testing
