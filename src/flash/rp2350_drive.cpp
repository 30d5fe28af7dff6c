#include "flash/rp2350_drive.h"

#include <cstdint>
#include <string_view>

#include "common/text.h"

namespace tw {
namespace {

constexpr std::size_t kLabelChars = 64;
constexpr std::uint32_t kInfoBytes = 599;

bool hasBootRomLabel(FileSystem& files, const std::string& root) {
  std::string label;
  if (!files.volumeLabel(root, kLabelChars, label)) return false;
  // RP2040 boards say "RPI-RP2"; INFO_UF2.TXT tells the two chips apart where it matters.
  return equalsIgnoreCase(label, "RP2350") || equalsIgnoreCase(label, "RPI-RP2");
}

bool hasLetter(std::uint32_t drives, char letter) {
  return (drives >> (letter - 'A')) & 1u;
}

}  // namespace

bool findRp2350Drive(FileSystem& files, std::string& drive) {
  drive.clear();
  // One look at the drive set per walk: it is a round trip to the mount manager each time.
  const std::uint32_t drives = files.logicalDrives();
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if (!hasLetter(drives, letter)) continue;
    const std::string root = std::string(1, letter) + ":\\";
    if (files.driveType(root) != DriveType::Removable) continue;
    if (!hasBootRomLabel(files, root)) continue;
    std::uint8_t info[kInfoBytes];
    std::uint32_t got = 0, error = 0;
    if (!files.readFileStart(root + "INFO_UF2.TXT", info, kInfoBytes, got, error)) continue;
    std::string_view text(reinterpret_cast<const char*>(info), got);
    if (text.find("RP2350") == std::string_view::npos) continue;
    drive = std::string(1, letter) + ":";
    return true;
  }
  return false;
}

bool isRp2350Drive(FileSystem& files, char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z' || !hasLetter(files.logicalDrives(), letter)) return false;
  return hasBootRomLabel(files, std::string(1, letter) + ":\\");
}

}  // namespace tw
