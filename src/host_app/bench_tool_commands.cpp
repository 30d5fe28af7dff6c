// The console's commands for the bench tool: the maker's flashing rig and its hands-off marker.
#include <sstream>

#include "host_app/console.h"

namespace tw::host {
namespace {

constexpr char kMarkerName[] = "tarnwick-hands-off";
constexpr char kRigTitle[] = "Tarnwick Pellmark Rig";
constexpr std::uint64_t kFileTimePerSecond = 10'000'000;

}  // namespace

bool Console::rigCommand(std::istringstream& words) {
  std::string state;
  words >> state;
  if (state == "on") {
    if (rigWindow_ == 0) rigWindow_ = shell_.addWindow("PellmarkRigWindow", kRigTitle);
  } else if (state == "off") {
    if (rigWindow_ != 0) shell_.removeWindow(rigWindow_);
    rigWindow_ = 0;
  } else {
    printLine("rig needs on or off");
    return false;
  }
  return true;
}

bool Console::markerCommand(std::istringstream& words) {
  std::string value;
  words >> value;
  const std::string path = std::string(sim::SimFileSystem::kTempFolder) + kMarkerName;
  if (value == "off") {
    files_.removeFile(path);
    return true;
  }
  long long secondsAgo = 0;
  std::istringstream number(value);
  if (value.empty() || !(number >> secondsAgo) || !number.eof()) {
    printLine(
        "marker needs the seconds since the bench tool wrote it (negative: in the future), "
        "or off");
    return false;
  }
  files_.addFile(path);
  const auto offset =
      static_cast<std::int64_t>(secondsAgo) * static_cast<std::int64_t>(kFileTimePerSecond);
  files_.setLastWriteTime(path, files_.systemTimeNow() - static_cast<std::uint64_t>(offset));
  return true;
}

}  // namespace tw::host
