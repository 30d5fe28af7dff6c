#include <gtest/gtest.h>

#include "app/status_text.h"
#include "common/text.h"
#include "tray_fixture.h"

namespace tw::testing {
namespace {

const std::string kDot = " \xE2\x80\xA2 ";
const std::string kDash = " \xE2\x80\x94 ";

DongleStatus connected(int level, unsigned state, int signal) {
  DongleStatus status;
  status.present = true;
  status.batteryLevel = level;
  status.batteryState = state;
  status.signalDbm = signal;
  return status;
}

TEST(StatusLine, SignalThresholds) {
  EXPECT_EQ(buildStatusLine(connected(-1, 0, -59), "", false),
            "Connected" + kDot + "signal strong");
  EXPECT_EQ(buildStatusLine(connected(-1, 0, -60), "", false), "Connected" + kDot + "signal good");
  EXPECT_EQ(buildStatusLine(connected(-1, 0, -74), "", false), "Connected" + kDot + "signal good");
  EXPECT_EQ(buildStatusLine(connected(-1, 0, -75), "", false), "Connected" + kDot + "signal weak");
  EXPECT_EQ(buildStatusLine(connected(-1, 0, 0), "", false), "Connected");
  EXPECT_EQ(buildStatusLine(connected(-1, 0, 12), "", false), "Connected");
}

TEST(StatusLine, BatteryWordsAndPowerStates) {
  EXPECT_EQ(buildStatusLine(connected(7, 0, -55), "", false),
            "Connected" + kDot + "battery good" + kDot + "signal strong");
  EXPECT_EQ(buildStatusLine(connected(4, 1, 0), "", false),
            "Connected" + kDot + "charging, about half");
  EXPECT_EQ(buildStatusLine(connected(2, 1, 0), "", false), "Connected" + kDot + "charging, low");
  EXPECT_EQ(buildStatusLine(connected(3, 2, 0), "", false), "Connected" + kDot + "battery full");
  EXPECT_EQ(buildStatusLine(connected(0, 7, 0), "", false),
            "Connected" + kDot + "battery critically low");
  const char* words[] = {"critically low", "extremely low", "low",  "getting low",
                         "about half",     "about half",    "good", "good",
                         "nearly full",    "nearly full",   "full"};
  for (int level = 0; level <= 10; ++level) EXPECT_STREQ(batteryWord(level), words[level]);
}

TEST(StatusLine, JobLineWinsAndNoDongleStates) {
  DongleStatus none;
  EXPECT_EQ(buildStatusLine(none, "", false), "No controller connected");
  EXPECT_EQ(buildStatusLine(none, "", true), "Dongle is in update mode");
  EXPECT_EQ(buildStatusLine(none, "Installing firmware \xE2\x80\x94 40%", true),
            "Installing firmware \xE2\x80\x94 40%");
  EXPECT_EQ(utf16Length(buildStatusLine(none, std::string(200, 'j'), false)), 95u);
}

class TrayUiTest : public TrayFixture {
 protected:
  void setBattery(int level, int power) {
    world.setController([&](sim::ControllerState& c) {
      c.batteryLevel = static_cast<std::uint8_t>(level);
      c.powerState = static_cast<std::uint8_t>(power);
    });
  }
  std::size_t balloonCount() { return tray.balloons().size(); }
};

TEST_F(TrayUiTest, LowBatteryBalloonOncePerSpell) {
  setBattery(2, 0);
  runApp([&] {
    EXPECT_EQ(icon(), 3);
    EXPECT_EQ(tip(), "Tarnwick Bridge" + kDash + "Connected" + kDot + "battery low" + kDot +
                         "signal strong");
    ASSERT_EQ(balloonCount(), 1u);
    EXPECT_EQ(tray.balloons()[0].title, "Controller battery");
    EXPECT_EQ(tray.balloons()[0].text, "Low" + kDash + "plug it in when you get a chance.");
    EXPECT_EQ(tray.balloons()[0].balloonIcon, BalloonIcon::Warning);
    poll();
    poll();
    EXPECT_EQ(balloonCount(), 1u) << "same spell, no new balloon";

    setBattery(2, 1);  // plugged in: the spell ends
    poll();
    EXPECT_EQ(icon(), 1);
    EXPECT_EQ(tip(), "Tarnwick Bridge" + kDash + "Connected" + kDot + "charging, low" + kDot +
                         "signal strong");
    setBattery(1, 0);
    poll();
    EXPECT_EQ(balloonCount(), 2u);
    EXPECT_EQ(tray.balloons()[1].text,
              "Extremely low" + kDash + "plug it in when you get a chance.");

    // A poll without a battery reading ends the spell too.
    world.dongle().faults.inject("read-input", sim::FaultKind::Fail);
    poll();
    EXPECT_EQ(icon(), 1);
    poll();
    EXPECT_EQ(balloonCount(), 3u);
  });
}

TEST_F(TrayUiTest, LowBatteryWhileTheIconIsHiddenWaitsUntilItIsShown) {
  world.unplugDongle();
  setBattery(0, 0);
  runApp(
      [&] {
        send(loop.registerMessage("TaskbarCreated"));
        EXPECT_FALSE(tray.visible()) << "a hidden icon is not brought back by Explorer";
        world.plugDongle();
        poll();
        EXPECT_EQ(balloonCount(), 1u);
        EXPECT_EQ(tray.balloons()[0].text,
                  "Critically low" + kDash + "plug it in when you get a chance.");
      },
      "Tarnwick.exe --startup");
}

TEST_F(TrayUiTest, TaskbarCreatedReAddsAShownIcon) {
  runApp([&] {
    tray.startShell();  // Explorer restarted without our icon
    tray.clear();
    send(app->taskbarCreatedMessage());
    ASSERT_FALSE(tray.events().empty());
    EXPECT_EQ(tray.events().front().kind, sim::TrayEvent::Kind::Add);
    EXPECT_TRUE(tray.visible());
  });
}

TEST_F(TrayUiTest, MenuItemsAndTheirStates) {
  runApp([&] {
    send(WM_APP_TRAY, 0, msg::RBUTTONUP);
    auto menu = tray.events().back().menu;
    ASSERT_EQ(menu.size(), 11u) << "no update item while nothing is offered";
    EXPECT_EQ(menu[0].text, "Open control panel");
    EXPECT_EQ(menu[2].command, ID_STATUS);
    EXPECT_TRUE(menu[2].greyed);
    EXPECT_EQ(menu[2].text, "Connected" + kDot + "battery good" + kDot + "signal strong");
    EXPECT_EQ(menu[4].text, "Check for firmware updates");
    EXPECT_FALSE(menu[4].greyed);
    EXPECT_EQ(menu[5].text, "Repair a dongle\xE2\x80\xA6");
    EXPECT_FALSE(menu[7].checked);

    firmware.offer = "1.0.0";
    firmware.busy = true;
    firmware.jobLine = "Installing firmware \xE2\x80\x94 40%";
    startWithWindows.on = true;
    send(WM_APP_TRAY, 0, msg::CONTEXTMENU);
    menu = tray.events().back().menu;
    ASSERT_EQ(menu.size(), 12u);
    EXPECT_EQ(menu[2].text, firmware.jobLine);
    EXPECT_EQ(menu[4].text, "Update firmware to 1.0.0");
    EXPECT_EQ(menu[4].command, ID_UPDATE_FIRMWARE);
    EXPECT_TRUE(menu[4].greyed);
    EXPECT_TRUE(menu[5].greyed) << "no checks while a job is busy";
    EXPECT_FALSE(menu[6].greyed) << "repair stays available";
    EXPECT_TRUE(menu[8].checked);
    EXPECT_EQ(menu[11].text, "Quit");
  });
}

TEST_F(TrayUiTest, ClicksCommandsAndUnknownIdentifiers) {
  runApp([&] {
    int opened = launcher.opened;
    send(WM_APP_TRAY, 0, msg::LBUTTONUP);
    send(WM_APP_TRAY, 0, msg::LBUTTONDBLCLK);
    send(WM_APP_TRAY, 0, msg::BALLOON_USER_CLICK);
    send(WM_APP_TRAY, 0, 0x0200);  // mouse move: nothing
    send(msg::COMMAND, ID_OPEN_PANEL);
    send(msg::COMMAND, ID_REPAIR);
    EXPECT_EQ(launcher.opened, opened + 5);
    send(msg::COMMAND, ID_CHECK_UPDATES);
    EXPECT_EQ(firmware.checks, 1);
    send(msg::COMMAND, ID_START_WITH_WINDOWS);
    EXPECT_TRUE(startWithWindows.on);
    for (WParam id : {1000u, 1009u, 0u}) send(msg::COMMAND, id);
    send(msg::COMMAND, ID_STATUS);
    EXPECT_EQ(launcher.opened, opened + 5);
    EXPECT_TRUE(desktop.messageBoxes().empty());
    EXPECT_EQ(send(msg::QUERYENDSESSION), 1);
    EXPECT_EQ(send(app->versionMessage()), 1002000);
  });
}

TEST_F(TrayUiTest, QuitAsksOnlyWhileBusyAndOnlyYesQuits) {
  runApp([&] {
    firmware.busy = true;
    desktop.answerNextMessageBox(MessageBoxAnswer::No);
    send(msg::COMMAND, ID_QUIT);
    EXPECT_TRUE(tray.visible());
    ASSERT_EQ(desktop.messageBoxes().size(), 1u);
    EXPECT_EQ(desktop.messageBoxes()[0].buttons, MessageBoxButtons::YesNoDefaultNo);
    EXPECT_EQ(desktop.messageBoxes()[0].caption, "Tarnwick Bridge");
    desktop.answerNextMessageBox(MessageBoxAnswer::Yes);
    send(msg::COMMAND, ID_QUIT);
    EXPECT_FALSE(tray.visible());
  });
  EXPECT_EQ(firmware.stops, 1);
}

TEST_F(TrayUiTest, FirmwareNoticesAndBusyStateReachTheTray) {
  world.unplugDongle();
  runApp(
      [&] {
        EXPECT_FALSE(tray.visible());
        send(WM_APP_FIRMWARE, FW_NOTICE);  // a hint only: nothing pending, nothing shown
        EXPECT_FALSE(tray.visible());
        firmware.pendingNotice = TrayNotice{"Firmware update ready", std::string(300, 'x'), false};
        send(WM_APP_FIRMWARE, FW_NOTICE);
        EXPECT_TRUE(tray.visible()) << "a notice brings the icon up to show its balloon";
        auto balloon = tray.balloons().back();
        EXPECT_EQ(balloon.title, "Firmware update ready");
        EXPECT_EQ(balloon.text.size(), 255u);
        EXPECT_EQ(balloon.balloonIcon, BalloonIcon::Info);

        firmware.busy = true;
        firmware.jobLine = "Restarting the dongle";
        send(WM_APP_FIRMWARE, FW_CHANGED);
        EXPECT_EQ(icon(), 1);
        EXPECT_EQ(tip(), "Tarnwick Bridge" + kDash + "Restarting the dongle");
      },
      "Tarnwick.exe --startup");
}

TEST_F(TrayUiTest, AboutTextWithAndWithoutDongleAndServer) {
  world.unplugDongle();
  runApp([&] {
    std::string about = app->aboutText();
    EXPECT_EQ(about.rfind("Tarnwick Bridge for Windows 1.2.0\n\nDongle firmware: not connected\n"
                          "Plug the Bridge in and turn your controller on.\n\n\n"
                          "The control panel is served by this app at (not listening)",
                          0),
              0u)
        << about;
    send(msg::COMMAND, ID_ABOUT);
    ASSERT_EQ(desktop.messageBoxes().size(), 1u);
    EXPECT_EQ(desktop.messageBoxes()[0].icon, MessageBoxIcon::Information);

    world.plugDongle();
    poll();
    server.port = 17833;
    about = app->aboutText();
    EXPECT_NE(about.find("Dongle firmware: 0.9.3\nConnected\nFirmware is up to date.\n"),
              std::string::npos);
    EXPECT_NE(about.find("at http://127.0.0.1:17833/ \xE2\x80\x94 it works"), std::string::npos);
    firmware.offer = "1.1.0";
    EXPECT_NE(app->aboutText().find("Firmware 1.1.0 is ready to install."), std::string::npos);
  });
}

TEST_F(TrayUiTest, UpdateFromMenuOpensThePanelOrShowsTheRefusal) {
  runApp([&] {
    int opened = launcher.opened;
    send(msg::COMMAND, ID_UPDATE_FIRMWARE);
    EXPECT_EQ(launcher.opened, opened + 1);
    EXPECT_EQ(firmware.actions, std::vector<std::string>{"update"});
    firmware.refusal = "Something is already running.";
    send(msg::COMMAND, ID_UPDATE_FIRMWARE);
    EXPECT_EQ(launcher.opened, opened + 1);
    ASSERT_EQ(desktop.messageBoxes().size(), 1u);
    EXPECT_EQ(desktop.messageBoxes()[0].text, "Something is already running.");
  });
}

}  // namespace
}  // namespace tw::testing
