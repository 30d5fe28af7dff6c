// Which browser the launcher picks, and the App Paths look-up.
#include <gtest/gtest.h>

#include "launcher_fixture.h"

namespace tw::test {
namespace {

TEST_F(LauncherTest, DefaultChromiumBrowserWinsOverEdge) {
  installChrome();
  installEdgeFileOnly();
  const std::string brave = "C:\\Users\\me\\AppData\\Local\\BraveSoftware\\Application\\BRAVE.EXE";
  files.addFile(brave);
  setDefaultBrowser(brave);
  std::string path;
  ASSERT_TRUE(launcher.findBrowser(path));
  EXPECT_EQ(path, brave);

  setDefaultBrowser(kChromePath);
  ASSERT_TRUE(launcher.findBrowser(path));
  EXPECT_EQ(path, kChromePath);
}

TEST_F(LauncherTest, OtherDefaultBrowserLeadsToEdgeThenChrome) {
  files.addFile(kFirefoxPath);
  setDefaultBrowser(kFirefoxPath);
  installChrome();
  std::string path;

  // Edge through the fixed locations, the x86 one first.
  const std::string edge64 = "C:\\Program Files\\Microsoft\\Edge\\Application\\msedge.exe";
  files.addFile(edge64);
  ASSERT_TRUE(launcher.findBrowser(path));
  EXPECT_EQ(path, edge64);
  installEdgeFileOnly();
  ASSERT_TRUE(launcher.findBrowser(path));
  EXPECT_EQ(path, kEdgePath);

  // Edge through App Paths comes before the fixed locations.
  const std::string edgeElsewhere = "D:\\Edge\\msedge.exe";
  files.addDrive('D', DriveType::Fixed, "Data");
  ASSERT_TRUE(files.addFile(edgeElsewhere));
  registry.setDefaultValue(RegistryHive::CurrentUser, std::string(kAppPathsKey) + "msedge.exe",
                           edgeElsewhere);
  ASSERT_TRUE(launcher.findBrowser(path));
  EXPECT_EQ(path, edgeElsewhere);

  // Without any Edge, Chrome through App Paths.
  files.removeFile(kEdgePath);
  files.removeFile(edge64);
  files.removeFile(edgeElsewhere);
  ASSERT_TRUE(launcher.findBrowser(path));
  EXPECT_EQ(path, kChromePath);
}

TEST_F(LauncherTest, DefaultBrowserWhoseFileIsGoneIsPassedOver) {
  setDefaultBrowser("C:\\Old\\chrome.exe");
  installChrome();
  std::string path;
  ASSERT_TRUE(launcher.findBrowser(path));
  EXPECT_EQ(path, kChromePath);

  // A folder named like the browser is no browser.
  files.addDirectory("C:\\Old\\chrome.exe");
  ASSERT_TRUE(launcher.findBrowser(path));
  EXPECT_EQ(path, kChromePath);
}

TEST_F(LauncherTest, NoChromiumBrowserAnywhere) {
  files.addFile(kFirefoxPath);
  setDefaultBrowser(kFirefoxPath);
  std::string path;
  EXPECT_FALSE(launcher.findBrowser(path));
}

TEST_F(LauncherTest, AppPathsPrefersCurrentUserAndChecksTheFile) {
  const std::string key = std::string(kAppPathsKey) + "chrome.exe";
  const std::string mine = "C:\\Users\\me\\Chrome\\chrome.exe";
  std::string path;

  // A current-user entry naming a missing file falls through to the machine's entry.
  registry.setDefaultValue(RegistryHive::CurrentUser, key, mine);
  installChrome();
  ASSERT_TRUE(launcher.findAppPath("chrome.exe", path));
  EXPECT_EQ(path, kChromePath);

  files.addFile(mine);
  ASSERT_TRUE(launcher.findAppPath("chrome.exe", path));
  EXPECT_EQ(path, mine);

  // A value of another type than REG_SZ is not taken.
  registry.setDefaultValue(RegistryHive::CurrentUser, key, mine, false);
  ASSERT_TRUE(launcher.findAppPath("chrome.exe", path));
  EXPECT_EQ(path, kChromePath);

  // A value that does not fit 520 bytes is not read at all (and never cut into another path).
  const std::string longPath = "C:\\" + std::string(300, 'x') + "\\chrome.exe";
  files.allowLongPaths(true);
  ASSERT_TRUE(files.addFile(longPath));
  registry.setDefaultValue(RegistryHive::LocalMachine, key, longPath);
  registry.removeKey(RegistryHive::CurrentUser, key);
  EXPECT_FALSE(launcher.findAppPath("chrome.exe", path));
}

}  // namespace
}  // namespace tw::test
