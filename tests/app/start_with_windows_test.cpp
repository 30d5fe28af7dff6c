// Start with Windows on the simulated registry and file system: the Run value, the installed copy
// with its refresh at start-up, and the clean-up of its folder.
#include "app/start_with_windows_setting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_desktop.h"
#include "sim/sim_file_system.h"
#include "sim/sim_registry.h"
#include "sim/virtual_clock.h"
#include "tray_fixture.h"

namespace tw::testing {
namespace {

using sim::SimFileSystem;
using sim::SimRegistryValue;
using sim::SimValueType;

const std::string kDownloaded = "C:\\Users\\Tess\\Downloads\\Tarnwick.exe";
const std::string kFolder = "C:\\Users\\Tess\\AppData\\Local\\Tarnwick Bridge";
const std::string kCopy = kFolder + "\\Tarnwick.exe";
const std::string kRunData = "\"" + kCopy + "\" --startup";

std::string program(FileVersionParts version, const std::string& mark = "") {
  return SimFileSystem::programImage(version) + mark;
}

class RecordingListener : public StartWithWindowsListener {
 public:
  void copied(const std::string& from, const std::string& to) override {
    lines.push_back("copied " + from + " to " + to);
  }
  void deleted(const std::string& path) override { lines.push_back("deleted " + path); }
  void runValueWritten(const std::string& data) override { lines.push_back("run " + data); }
  void runValueDeleted() override { lines.push_back("run deleted"); }
  std::vector<std::string> lines;
};

class StartWithWindowsTest : public ::testing::Test {
 protected:
  StartWithWindowsTest() { runFrom(kDownloaded, {1, 2, 0, 0}, " downloaded"); }

  void runFrom(const std::string& path, FileVersionParts version, const std::string& mark = "") {
    files.addFile(path, program(version, mark));
    files.setModulePath(path);
  }

  // Some earlier state of the folder: a copy, strays, and things that belong to others.
  void fillFolder() {
    files.addFile(kCopy, program({1, 1, 0, 0}, " installed"));
    for (const char* name : {"Tarnwick (1).exe", "OLD.EXE", "korrinlink.HTML"}) {
      files.addFile(kFolder + "\\" + name, "stray");
    }
    for (const char* name : {"notes.txt", "Korrinlink.htm", "Tarnwick.exe.bak", "exe"}) {
      files.addFile(kFolder + "\\" + name, "kept");
    }
    files.addFile(kFolder + "\\firmware\\cached.exe", "kept");
    files.addDirectory(kFolder + "\\folder.exe");
  }

  std::vector<std::string> folderNames() {
    std::vector<FolderEntry> entries;
    std::uint32_t error = 0;
    files.listFolder(kFolder + "\\*", entries, error);
    std::vector<std::string> names;
    for (const FolderEntry& entry : entries) {
      if (entry.name != "." && entry.name != "..") names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::optional<SimRegistryValue> runValue() {
    return registry.value(RegistryHive::CurrentUser, RUN_KEY, RUN_VALUE_NAME);
  }
  // The Run value's data, marked when it is not REG_SZ.
  std::string runData() {
    const std::optional<SimRegistryValue> value = runValue();
    if (!value) return "(none)";
    return value->type == SimValueType::Sz ? value->data : "(not REG_SZ) " + value->data;
  }
  void setRunValue(const std::string& data, SimValueType type = SimValueType::Sz) {
    registry.setValue(RegistryHive::CurrentUser, RUN_KEY, RUN_VALUE_NAME, {type, data});
  }

  // What fillFolder leaves after a clean-up, without and with the installed copy.
  const std::vector<std::string> kKept = {"Korrinlink.htm", "Tarnwick.exe.bak", "exe",
                                          "firmware",       "folder.exe",       "notes.txt"};
  const std::vector<std::string> kKeptWithCopy = {
      "Korrinlink.htm", "Tarnwick.exe", "Tarnwick.exe.bak", "exe",
      "firmware",       "folder.exe",   "notes.txt"};
  const std::string kStale = "\"C:\\Old Place\\Tarnwick.exe\" --startup";

  sim::VirtualClock clock;
  sim::SimRegistry registry;
  SimFileSystem files{clock};
  sim::SimDesktop desktop{clock};
  RecordingListener listener;
  StartWithWindowsSetting setting{{registry, files, desktop}, "1.2.0", &listener};
};

TEST_F(StartWithWindowsTest, OnFromDownloadsInstallsACleanCopyAndOffTakesItAway) {
  fillFolder();
  EXPECT_FALSE(setting.isStartWithWindowsOn());
  setting.setStartWithWindows(true);

  EXPECT_EQ(files.fileContent(kCopy), program({1, 2, 0, 0}, " downloaded"));
  EXPECT_EQ(runData(), kRunData);
  EXPECT_TRUE(setting.isStartWithWindowsOn());
  EXPECT_EQ(folderNames(), kKeptWithCopy);
  EXPECT_TRUE(desktop.messageBoxes().empty());
  EXPECT_EQ(listener.lines.front(), "copied " + kDownloaded + " to " + kCopy);
  EXPECT_EQ(listener.lines.back(), "run " + kRunData);

  setting.setStartWithWindows(false);
  EXPECT_FALSE(runValue());
  EXPECT_FALSE(setting.isStartWithWindowsOn());
  EXPECT_EQ(folderNames(), kKept) << "the copy goes, the folder and what is not ours stay";
  EXPECT_TRUE(files.fileContent(kDownloaded)) << "the running program is not touched";
}

TEST_F(StartWithWindowsTest, FromTheInstalledCopyItselfNothingIsCopiedOrDeleted) {
  fillFolder();
  // The Run key spells the path its own way; it is still the same file.
  runFrom("c:\\users\\tess\\appdata\\local\\TARNWICK BRIDGE\\tarnwick.EXE", {1, 2, 0, 0},
          " installed");
  setting.setStartWithWindows(true);
  EXPECT_TRUE(desktop.messageBoxes().empty()) << "no copy over the running file was tried";
  EXPECT_EQ(runData(), kRunData);

  setting.setStartWithWindows(false);
  EXPECT_FALSE(runValue());
  EXPECT_EQ(files.fileContent(kCopy), program({1, 2, 0, 0}, " installed"));
  EXPECT_EQ(folderNames(), kKeptWithCopy);
}

TEST_F(StartWithWindowsTest, AFailedCopyWarnsOnceAndLeavesTheRunValueAlone) {
  setRunValue("\"C:\\elsewhere\\Tarnwick.exe\" --startup", SimValueType::Dword);
  files.failCall("copyFile", FILE_ERROR_ACCESS_DENIED);
  setting.setStartWithWindows(true);
  auto boxes = desktop.messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "Couldn't set Tarnwick Bridge up to start with Windows: copying the app to your "
            "AppData folder failed.");
  EXPECT_EQ(boxes[0].caption, "Tarnwick Bridge");
  EXPECT_EQ(boxes[0].icon, MessageBoxIcon::Warning);
  EXPECT_EQ(boxes[0].buttons, MessageBoxButtons::Ok);
  EXPECT_EQ(runData(), "(not REG_SZ) \"C:\\elsewhere\\Tarnwick.exe\" --startup");
  EXPECT_FALSE(setting.isStartWithWindowsOn());
}

TEST_F(StartWithWindowsTest, WithoutTheLocalAppDataFolderNothingHappensAtAll) {
  files.setLocalAppDataFolder(std::nullopt);
  setting.setStartWithWindows(true);
  EXPECT_FALSE(runValue());
  EXPECT_TRUE(desktop.messageBoxes().empty());
  setRunValue(kRunData);
  setting.setStartWithWindows(false);
  setting.refreshInstalledCopy();
  EXPECT_TRUE(runValue()) << "off changes nothing either";
  EXPECT_TRUE(listener.lines.empty());
}

TEST_F(StartWithWindowsTest, RunValuesOfOtherTypesCountAsOffAndOnReplacesThem) {
  for (SimValueType type : {SimValueType::Dword, SimValueType::Binary, SimValueType::MultiSz}) {
    setRunValue(kRunData, type);
    EXPECT_FALSE(setting.isStartWithWindowsOn());
    setting.refreshInstalledCopy();
    EXPECT_EQ(files.pathKind(kCopy), PathKind::Missing);
  }
  setting.setStartWithWindows(!setting.isStartWithWindowsOn());
  EXPECT_EQ(runData(), kRunData);
  EXPECT_TRUE(setting.isStartWithWindowsOn());
}

// What a start of the program does to an installed copy while start with Windows is on.
struct RefreshCase {
  const char* name;
  std::optional<FileVersionParts> installed;  // nullopt: a copy without a version resource
  bool fromInstalledCopy;
  bool copyFails;
  bool replaced;  // the copy and the Run value are written again
  bool cleaned;
};
void PrintTo(const RefreshCase& c, std::ostream* out) {
  *out << c.name;
}

class RefreshTest : public StartWithWindowsTest,
                    public ::testing::WithParamInterface<RefreshCase> {};

TEST_P(RefreshTest, ReplacesOnlyWhatIsNotNewer) {
  const RefreshCase& c = GetParam();
  fillFolder();
  const std::string before = c.installed ? program(*c.installed, " installed")
                                         : SimFileSystem::programImageWithoutVersion() + "old";
  files.addFile(kCopy, before);
  if (c.fromInstalledCopy) files.setModulePath(kCopy);
  if (c.copyFails) files.failCall("copyFile", FILE_ERROR_SHARING_VIOLATION);
  setRunValue(kStale);

  setting.refreshInstalledCopy();

  EXPECT_EQ(files.fileContent(kCopy), c.replaced ? program({1, 2, 0, 0}, " downloaded") : before);
  EXPECT_EQ(runData(), c.replaced ? kRunData : kStale);
  if (c.cleaned) {
    EXPECT_EQ(folderNames(), kKeptWithCopy);
  } else {
    EXPECT_EQ(folderNames().size(), kKept.size() + 4) << "the folder is left as it is";
  }
  EXPECT_TRUE(desktop.messageBoxes().empty());
}

constexpr FileVersionParts kInstalledOlder{1, 1, 9, 0};
INSTANTIATE_TEST_SUITE_P(
    Versions, RefreshTest,
    ::testing::Values(
        RefreshCase{"Older", kInstalledOlder, false, false, true, true},
        RefreshCase{"Equal", FileVersionParts{1, 2, 0, 0}, false, false, true, true},
        RefreshCase{"EqualButTheFourthPart", FileVersionParts{1, 2, 0, 9}, false, false, true,
                    true},
        RefreshCase{"NewerPatch", FileVersionParts{1, 2, 1, 0}, false, false, false, false},
        RefreshCase{"NewerMajor", FileVersionParts{2, 0, 0, 0}, false, false, false, false},
        // 4295 * 1000000 wraps to 32704 in 32 bits.
        RefreshCase{"BeyondThirtyTwoBits", FileVersionParts{4295, 0, 0, 0}, false, false, false,
                    false},
        RefreshCase{"NoVersionResource", std::nullopt, false, false, true, true},
        RefreshCase{"RunningFromTheCopy", kInstalledOlder, true, false, false, true},
        RefreshCase{"CopyFails", kInstalledOlder, false, true, false, false}),
    [](const ::testing::TestParamInfo<RefreshCase>& info) { return info.param.name; });

// A newer installed copy keeps its place only when its version resource names it ours: a test
// build that installed itself, or another program put there, is replaced like a copy without a
// version resource.
TEST_F(StartWithWindowsTest, ANewerCopyIsKeptOnlyWhenItsResourceNamesItOurs) {
  const struct {
    const char* what;
    sim::ProgramNames names;
    bool kept;
  } cases[] = {
      {"ours", {}, true},
      {"a test build", {"TarnwickNewer-test.exe", "Tarnwick Bridge test build"}, false},
      {"another original file name", {"TarnwickNewer.exe", "Tarnwick Bridge"}, false},
      {"another product name", {"Tarnwick.exe", "Tarnwick Bridge test build"}, false},
      {"empty names", {"", ""}, false},
  };
  for (const auto& c : cases) {
    const std::string newer = SimFileSystem::programImage({1, 2, 1, 0}, c.names) + " installed";
    files.addFile(kCopy, newer);
    setRunValue(kStale);
    setting.refreshInstalledCopy();
    EXPECT_EQ(files.fileContent(kCopy) == newer, c.kept) << c.what;
    EXPECT_EQ(runData(), c.kept ? kStale : kRunData) << c.what;
  }
}

// The tray with the real setting: the menu asks the registry each time it opens.
class StartWithWindowsMenuTest : public TrayFixture {
 protected:
  StartWithWindowsMenuTest() { files.setModulePath(kDownloaded); }
  bool checkedInMenu() {
    send(WM_APP_TRAY, 0, msg::CONTEXTMENU);
    const std::vector<MenuItem> menu = tray.events().back().menu;
    for (const MenuItem& item : menu) {
      if (item.command == ID_START_WITH_WINDOWS) return item.checked;
    }
    ADD_FAILURE() << "no Start with Windows item";
    return false;
  }
  sim::SimRegistry registry;
  SimFileSystem files{clock};
  StartWithWindowsSetting setting{{registry, files, desktop}, "1.2.0"};
};

TEST_F(StartWithWindowsMenuTest, CheckMarkFollowsTheRegistryAndTheToggle) {
  files.addFile(kDownloaded, program({1, 2, 0, 0}));
  app = std::make_unique<TrayApp>(TrayAppConfig{"1.2.0", "Tarnwick.exe"},
                                  TrayAppPorts{loop, tray, desktop}, link,
                                  TrayAppServices{server, launcher, firmware, setting});
  loop.duringRun = [&] {
    EXPECT_FALSE(checkedInMenu());
    send(msg::COMMAND, ID_START_WITH_WINDOWS);
    EXPECT_TRUE(checkedInMenu());
    EXPECT_EQ(files.pathKind(kCopy), PathKind::File);
    // Another copy of the program turns it off behind this one's back.
    std::uint32_t error = 0;
    registry.deleteValue(RegistryHive::CurrentUser, RUN_KEY, RUN_VALUE_NAME, error);
    EXPECT_FALSE(checkedInMenu());
    send(msg::COMMAND, ID_START_WITH_WINDOWS);
    EXPECT_TRUE(checkedInMenu());
    send(msg::COMMAND, ID_START_WITH_WINDOWS);
    EXPECT_FALSE(checkedInMenu());
    EXPECT_EQ(files.pathKind(kCopy), PathKind::Missing);
  };
  EXPECT_EQ(app->run(), 0);
}

}  // namespace
}  // namespace tw::testing
