// What one watcher pass asks of the operating system, counted on the simulated world: it runs
// every 700 ms for the life of the program, so each call it makes is paid all day long.
#include <gtest/gtest.h>

#include "flash/board_watcher.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/uf2_drive_volume.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw {
namespace {

struct CallCounts {
  int windowLookups = 0;
  int windowWalks = 0;
  int markerQueries = 0;  // file-attribute queries
  int usbListings = 0;
  int driveSets = 0;  // logicalDrives
  int driveTypes = 0;
};

class CountingDesktop : public sim::SimDesktopShell {
 public:
  explicit CountingDesktop(CallCounts& counts) : counts_(counts) {}
  WindowId findWindowByTitle(const std::string& title) override {
    ++counts_.windowLookups;
    return SimDesktopShell::findWindowByTitle(title);
  }
  void enumerateWindows(const std::function<bool(const TopWindow&)>& visit) override {
    ++counts_.windowWalks;
    SimDesktopShell::enumerateWindows(visit);
  }

 private:
  CallCounts& counts_;
};

class CountingFiles : public sim::SimFileSystem {
 public:
  CountingFiles(Clock& clock, CallCounts& counts) : SimFileSystem(clock), counts_(counts) {}
  std::uint32_t logicalDrives() override {
    ++counts_.driveSets;
    return SimFileSystem::logicalDrives();
  }
  DriveType driveType(const std::string& root) override {
    ++counts_.driveTypes;
    return SimFileSystem::driveType(root);
  }
  bool fileAttributes(const std::string& path, FileAttributes& out, std::uint32_t& error) override {
    ++counts_.markerQueries;
    return SimFileSystem::fileAttributes(path, out, error);
  }

 private:
  CallCounts& counts_;
};

class CountingUsb : public UsbPort {
 public:
  CountingUsb(UsbPort& inner, CallCounts& counts) : inner_(inner), counts_(counts) {}
  bool listInterfaces(const std::string& classGuid, std::size_t maxEntries,
                      std::vector<UsbInterfaceEntry>& entries) override {
    ++counts_.usbListings;
    return inner_.listInterfaces(classGuid, maxEntries, entries);
  }
  std::unique_ptr<UsbDevice> open(const std::string& path, UsbOpenStep& failedStep,
                                  std::uint32_t& error) override {
    return inner_.open(path, failedStep, error);
  }

 private:
  UsbPort& inner_;
  CallCounts& counts_;
};

TEST(WatcherPassCost, OneWindowLookupOneMarkerQueryOneListingAndOneWalkOverTheDrives) {
  struct Case {
    const char* name;
    bool benchWindow;
    bool board;
    CallCounts expected;
  };
  const Case cases[] = {
      // C: alone: its type is asked once.
      {"nothing around", false, false, {1, 0, 1, 1, 1, 1}},
      // C: and the board's E:; E: is read further (label, INFO_UF2.TXT), C: is not.
      {"a board with its drive", false, true, {1, 0, 1, 1, 1, 2}},
      // The window settles it: no marker, no listing, no drives.
      {"the bench tool's window", true, true, {1, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::VirtualClock clock;
    sim::World::Options options;
    options.donglePlugged = false;
    sim::World world(clock, options);
    CallCounts counts;
    CountingFiles files(clock, counts);
    CountingDesktop desktop(counts);
    CountingUsb usb(world.usb(), counts);
    sim::mountBoardDrive(world, files);
    if (c.board) world.plugBoard(sim::World::BoardSetup::ours("0.9.3"));
    if (c.benchWindow) desktop.addWindow("RigWindow", "Tarnwick Pellmark Rig");
    FirmwareStore store;
    const PicobootPorts picoboot{usb, clock};
    watchBoards(BoardWatcherPorts{picoboot, files, desktop}, store, clock);

    // Count a pass in the steady state, after the first has recorded what is around.
    counts = CallCounts{};
    watchBoards(BoardWatcherPorts{picoboot, files, desktop}, store, clock);
    EXPECT_EQ(counts.windowLookups, c.expected.windowLookups);
    EXPECT_EQ(counts.windowWalks, 0);
    EXPECT_EQ(counts.markerQueries, c.expected.markerQueries);
    EXPECT_EQ(counts.usbListings, c.expected.usbListings);
    EXPECT_EQ(counts.driveSets, c.expected.driveSets);
    EXPECT_EQ(counts.driveTypes, c.expected.driveTypes);
    const FirmwareState state = store.snapshot();
    EXPECT_EQ(state.board.present, c.board && !c.benchWindow);
    EXPECT_EQ(state.station, c.benchWindow);
  }
}

}  // namespace
}  // namespace tw
