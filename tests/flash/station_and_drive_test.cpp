#include <gtest/gtest.h>

#include "flash/rp2350_drive.h"
#include "flash/station.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/virtual_clock.h"

namespace tw {
namespace {

constexpr std::uint64_t kSecond = FILE_TIME_UNITS_PER_SECOND;

struct Fixture {
  sim::VirtualClock clock;
  sim::SimFileSystem files{clock};
  sim::SimDesktopShell desktop;

  void writeMarker(std::int64_t secondsAgo) {
    std::string path = std::string(sim::SimFileSystem::kTempFolder) + "tarnwick-hands-off";
    files.addFile(path);
    files.setLastWriteTime(path, files.systemTimeNow() - secondsAgo * std::int64_t(kSecond));
  }
};

TEST(Station, TheMarkerHoldsForTwoMinutesAndTheRigWindowAlways) {
  struct Case {
    const char* name;
    std::int64_t markerSecondsAgo;  // INT64_MIN: none
    const char* window;
    bool atWork;
  };
  const Case cases[] = {
      {"nothing", INT64_MIN, "", false},
      {"marker 119 s old", 119, "", true},
      {"marker 121 s old", 121, "", false},
      {"marker from the future", -30, "", true},
      {"the rig's window", INT64_MIN, "Tarnwick Pellmark Rig", true},
      {"a window with a longer title", INT64_MIN, "Tarnwick Pellmark Rig - log", false},
      // Windows finds windows by title without regard to case.
      {"the rig's title in other case", INT64_MIN, "TARNWICK PELLMARK RIG", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.markerSecondsAgo != INT64_MIN) f.writeMarker(c.markerSecondsAgo);
    if (*c.window) f.desktop.addWindow("RigWindow", c.window);
    EXPECT_EQ(isStationAtWork(f.desktop, f.files), c.atWork);
  }
}

TEST(Station, ATemporaryFolderTooLongForItsBufferMeansNoMarker) {
  Fixture f;
  f.writeMarker(1);
  f.files.allowLongPaths(true);
  std::string longFolder = "C:\\" + std::string(300, 't') + "\\";
  f.files.addDirectory(longFolder);
  f.files.addFile(longFolder + "tarnwick-hands-off");
  f.files.setTempFolder(longFolder);
  EXPECT_FALSE(isHandsOffMarkerFresh(f.files));
}

TEST(Rp2350Drive, OnlyARemovableBootRomDriveNamingTheRp2350IsTaken) {
  struct Case {
    const char* name;
    DriveType type;
    const char* label;
    const char* info;  // nullptr: no INFO_UF2.TXT
    bool found;
  };
  const char* rp2350Info = "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n";
  const Case cases[] = {
      {"RP2350 board", DriveType::Removable, "RP2350", rp2350Info, true},
      {"label in lower case", DriveType::Removable, "rp2350", rp2350Info, true},
      {"RPI-RP2 label on an RP2350", DriveType::Removable, "RPI-RP2", rp2350Info, true},
      {"an RP2040 board", DriveType::Removable, "RPI-RP2",
       "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n", false},
      {"fixed drive", DriveType::Fixed, "RP2350", rp2350Info, false},
      {"other label", DriveType::Removable, "KORRINLINK", rp2350Info, false},
      {"no info file", DriveType::Removable, "RP2350", nullptr, false},
      {"info names it in lower case only", DriveType::Removable, "RP2350", "model: rp2350\n",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.files.addDrive('E', c.type, std::string(c.label));
    if (c.info != nullptr) f.files.addFile("E:\\INFO_UF2.TXT", c.info);
    std::string drive;
    EXPECT_EQ(findRp2350Drive(f.files, drive), c.found);
    EXPECT_EQ(drive, c.found ? "E:" : "");
  }
}

TEST(Rp2350Drive, TheFirstMatchingLetterWinsAndOnlyItsFirst599BytesCount) {
  Fixture f;
  f.files.addDrive('F', DriveType::Removable, std::string("RP2350"));
  f.files.addFile("F:\\INFO_UF2.TXT", std::string(599, ' ') + "RP2350");  // past the start
  f.files.addDrive('G', DriveType::Removable, std::string("RP2350"));
  f.files.addFile("G:\\INFO_UF2.TXT", std::string(593, ' ') + "RP2350");
  f.files.addDrive('H', DriveType::Removable, std::string("RP2350"));
  f.files.addFile("H:\\INFO_UF2.TXT", "RP2350");
  std::string drive;
  EXPECT_TRUE(findRp2350Drive(f.files, drive));
  EXPECT_EQ(drive, "G:");
  EXPECT_TRUE(isRp2350Drive(f.files, 'F'));  // the copy only checks the label
  EXPECT_FALSE(isRp2350Drive(f.files, 'Q'));
  EXPECT_FALSE(isRp2350Drive(f.files, '1'));
}

}  // namespace
}  // namespace tw
