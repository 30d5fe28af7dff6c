// openControlPanel end to end on the simulated desktop: focusing an open panel, the app window,
// the fallbacks to a stored page and the error box.
#include <gtest/gtest.h>

#include "launcher_fixture.h"

namespace tw::test {
namespace {

constexpr const char* kChromiumClass = "Chrome_WidgetWin_1";

TEST_F(LauncherTest, MinimisedPanelWindowIsRestoredAndFocused) {
  installChrome();
  shell.addWindow("Notepad", "Untitled - Notepad");
  const WindowId panel = shell.addWindow(kChromiumClass, "Tarnwick Panel", true, true);
  launcher.openControlPanel();
  EXPECT_TRUE(launches().empty());
  EXPECT_EQ(shell.foregroundWindow(), panel);
  EXPECT_EQ(shell.restoreCount(), 1);
  EXPECT_FALSE(shell.window(panel)->minimised);

  // Open and not minimised: focused only.
  launcher.openControlPanel();
  EXPECT_EQ(shell.restoreCount(), 1);
  EXPECT_EQ(shell.foregroundWindow(), panel);
  EXPECT_TRUE(launches().empty());
}

TEST_F(LauncherTest, LookalikeWindowsAreNotThePanel) {
  installChrome();
  shell.addWindow(kChromiumClass, "Tarnwick Panel", false);           // hidden
  shell.addWindow("MozillaWindowClass", "Tarnwick Panel");            // not Chromium
  shell.addWindow("chrome_widgetwin_1", "Tarnwick Panel");            // class case differs
  shell.addWindow(kChromiumClass, "Tarnwick Panel - Google Chrome");  // a tab, not the app window
  TopWindow found;
  EXPECT_FALSE(launcher.findPanelWindow(found));
  launcher.openControlPanel();
  ASSERT_EQ(launches().size(), 1u);
  EXPECT_EQ(shell.foregroundWindow(), 0u);
}

TEST_F(LauncherTest, ServedPanelOpensAsAnAppWindow) {
  installChrome();
  server.port = 17833;
  launcher.openControlPanel();
  ASSERT_EQ(launches().size(), 1u);
  EXPECT_EQ(launches()[0].file, kChromePath);
  EXPECT_EQ(launches()[0].parameters,
            "--app=http://127.0.0.1:17833/ --window-size=1040,900 --window-position=440,70");
  EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(LauncherTest, ServedPanelWithoutChromiumOpensInTheDefaultHandler) {
  files.addFile(kFirefoxPath);
  setDefaultBrowser(kFirefoxPath);
  launcher.openControlPanel();
  ASSERT_EQ(launches().size(), 1u);
  EXPECT_EQ(launches()[0].file, "http://127.0.0.1:17832/");
  EXPECT_EQ(launches()[0].parameters, "");
}

TEST_F(LauncherTest, NotListeningOpensThePageBesideTheProgram) {
  installChrome();
  server.port = 0;
  files.setModulePath("C:\\Tools\\Tarnwick\\Tarnwick.exe");
  files.addFile("C:\\Tools\\Tarnwick\\Korrinlink.html");
  files.addDrive('E', DriveType::Removable, "TARNWICK");
  files.addFile("E:\\Tarnwick Bridge.html");
  launcher.openControlPanel();
  ASSERT_EQ(launches().size(), 1u);
  EXPECT_EQ(launches()[0].file, kChromePath);
  EXPECT_EQ(launches()[0].parameters, "\"C:\\Tools\\Tarnwick\\Korrinlink.html\"");
}

TEST_F(LauncherTest, NotListeningFindsTheDongleDriveByLabel) {
  installChrome();
  server.port = 0;
  // Passed over: a fixed drive with the label, a removable one with another label, one whose
  // label can't be read, and a folder named like the page.
  files.addDrive('D', DriveType::Fixed, "TARNWICK");
  files.addFile("D:\\Korrinlink.html");
  files.addDrive('E', DriveType::Removable, "USB STICK");
  files.addFile("E:\\Korrinlink.html");
  files.addDrive('F', DriveType::Removable, std::nullopt);
  files.addFile("F:\\Korrinlink.html");
  files.addDrive('G', DriveType::Removable, "Tarnwick");
  files.addDirectory("G:\\Korrinlink.html");
  files.addDrive('H', DriveType::Removable, "korrinlink");
  files.addFile("H:\\Korrinlink.html");
  launcher.openControlPanel();
  ASSERT_EQ(launches().size(), 1u);
  EXPECT_EQ(launches()[0].file, kChromePath);
  EXPECT_EQ(launches()[0].parameters, "\"H:\\Korrinlink.html\"");

  // The drive's own page name comes first.
  files.addFile("H:\\Tarnwick Bridge.html");
  std::string path;
  ASSERT_TRUE(launcher.findPanelFile(path));
  EXPECT_EQ(path, "H:\\Tarnwick Bridge.html");
}

TEST_F(LauncherTest, StoredPageWithoutChromiumOpensByItsOwnHandler) {
  server.port = 0;
  files.addDrive('E', DriveType::Removable, "KORRINLINK");
  files.addFile("E:\\Korrinlink.html");
  launcher.openControlPanel();
  ASSERT_EQ(launches().size(), 1u);
  EXPECT_EQ(launches()[0].file, "E:\\Korrinlink.html");
  EXPECT_EQ(launches()[0].parameters, "");
}

TEST_F(LauncherTest, NothingToOpenShowsTheBoxOnly) {
  installChrome();
  server.port = 0;
  files.setModulePath(std::nullopt);
  files.addDrive('E', DriveType::Removable, "BACKUP");
  launcher.openControlPanel();
  EXPECT_TRUE(launches().empty());
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].caption, "Tarnwick Bridge");
  EXPECT_EQ(desktop.boxes[0].icon, MessageBoxIcon::Information);
  EXPECT_EQ(desktop.boxes[0].buttons, MessageBoxButtons::Ok);
  EXPECT_EQ(desktop.boxes[0].text,
            "Couldn't open the control panel.\n\nThe app couldn't listen on this PC, and there's "
            "no dongle drive to fall back to. Try updates.tarnwick.example/panel/ in "
            "Chrome or Edge instead.");
}

TEST_F(LauncherTest, OverlongProgramFolderIsNotCutIntoAnotherPath) {
  server.port = 0;
  const std::string folder = "C:\\" + std::string(241, 'd') + "\\";
  files.setModulePath(folder + "T.exe");
  // The page's full path would take 260 characters without its terminator: Windows could not hold
  // it, and cut to fit it would name this other file.
  ASSERT_TRUE(files.addFile(folder + "Korrinlink.htm"));
  std::string path;
  EXPECT_FALSE(launcher.findPanelFile(path));
}

}  // namespace
}  // namespace tw::test
