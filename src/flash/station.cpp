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
  bool windowFound = false;
  desktop.enumerateWindows([&](const TopWindow& window) {
    windowFound = window.title == kBenchToolWindowTitle;
    return !windowFound;
  });
  return windowFound || isHandsOffMarkerFresh(files);
}

}  // namespace tw
