#include "app/status_text.h"

#include "common/text.h"

namespace tw {
namespace {

constexpr std::size_t kStatusLineUnits = 95;
constexpr std::size_t kBatteryPartUnits = 47;
constexpr std::uint32_t kOnBattery = 0;
constexpr std::uint32_t kCharging = 1;
constexpr std::uint32_t kFull = 2;

}  // namespace

const char* batteryWord(std::int32_t level) {
  if (level >= 10) return "full";
  if (level >= 8) return "nearly full";
  if (level >= 6) return "good";
  if (level >= 4) return "about half";
  if (level == 3) return "getting low";
  if (level == 2) return "low";
  if (level == 1) return "extremely low";
  return "critically low";
}

const char* signalPart(std::int32_t signalDbm) {
  if (signalDbm >= 0) return "";
  if (signalDbm >= -59) return " \xE2\x80\xA2 signal strong";
  if (signalDbm >= -74) return " \xE2\x80\xA2 signal good";
  return " \xE2\x80\xA2 signal weak";
}

std::string buildStatusLine(const DongleStatus& status, const std::string& jobLine,
                            bool boardInUpdateMode) {
  std::string line;
  if (!jobLine.empty()) {
    line = jobLine;
  } else if (status.present) {
    std::string battery;
    if (status.batteryLevel != -1) {
      if (status.batteryState == kFull) {
        battery = " \xE2\x80\xA2 battery full";
      } else if (status.batteryState == kCharging) {
        battery = std::string(" \xE2\x80\xA2 charging, ") + batteryWord(status.batteryLevel);
      } else {
        battery = std::string(" \xE2\x80\xA2 battery ") + batteryWord(status.batteryLevel);
      }
      battery = cutToUtf16Units(battery, kBatteryPartUnits);
    }
    line = "Connected" + battery + signalPart(status.signalDbm);
  } else {
    line = boardInUpdateMode ? "Dongle is in update mode" : "No controller connected";
  }
  return cutToUtf16Units(line, kStatusLineUnits);
}

bool isBatteryLow(const DongleStatus& status) {
  return status.present && status.batteryLevel >= 0 && status.batteryLevel <= 2 &&
         status.batteryState == kOnBattery;
}

}  // namespace tw
