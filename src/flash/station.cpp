#include "flash/station.h"

namespace tw {
namespace {

constexpr std::uint32_t kTempPathUnits = 260;
constexpr std::uint64_t kMarkerFreshFor = 120 * FILE_TIME_UNITS_PER_SECOND;

}  // namespace

bool isHandsOffMarkerFresh(FileSystem& files) {
  std::string folder;
  std::uint32_t length = files.tempPath(kTempPathUnits, folder);
  if (length == 0 || length > kTempPathUnits - 1) return false;
  FileAttributes marker;
  std::uint32_t error = 0;
  if (!files.fileAttributes(folder + kHandsOffMarkerName, marker, error)) return false;
  return files.systemTimeNow() < marker.lastWriteTime + kMarkerFreshFor;
}

bool isStationAtWork(DesktopShell& desktop, FileSystem& files) {
  // One lookup by title: reading every window's title in turn costs a round trip each, and
  // reading one of this process's own windows would wait on its UI thread.
  return desktop.findWindowByTitle(kBenchToolWindowTitle) != 0 || isHandsOffMarkerFresh(files);
}

}  // namespace tw
