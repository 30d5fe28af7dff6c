// The real firmware files under tests/data/real-firmware (built by the RP2350 toolchain, with the
// toolchain's own reading of each beside it), for tests on both sides of the simulated world.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tw::test {

inline std::string realFirmwarePath(const std::string& name) {
  return std::string(TW_TEST_DATA_DIR) + "/real-firmware/" + name;
}

// The file's bytes; empty when it cannot be read.
inline std::vector<std::uint8_t> readRealFirmware(const std::string& name) {
  std::ifstream in(realFirmwarePath(name), std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

// One field of the toolchain's "Program Information" section ("name", "version", "binary end"),
// from the text file that goes with `uf2Name`; empty when the text does not give it.
inline std::string picotoolField(const std::string& uf2Name, const std::string& field) {
  const std::string textName = uf2Name.substr(0, uf2Name.size() - 4) + ".picotool-info-a.txt";
  std::ifstream in(realFirmwarePath(textName));
  std::string line;
  bool inProgram = false;
  while (std::getline(in, line)) {
    if (line == "Program Information") inProgram = true;
    if (inProgram && line.empty()) break;
    const std::string key = " " + field + ":";
    if (!inProgram || line.compare(0, key.size(), key) != 0) continue;
    std::size_t at = line.find_first_not_of(' ', key.size());
    return at == std::string::npos ? std::string() : line.substr(at);
  }
  return {};
}

inline constexpr char kRealKorrinlink[] = "korrinlink-0.9.7-rp2350-arm-s.uf2";
inline constexpr char kRealBlinkDemo[] = "blink-demo-2.1.0-rp2350-arm-s.uf2";
inline constexpr char kRealRp2040[] = "korrinlink-0.9.7-rp2040.uf2";
inline constexpr char kRealRamImage[] = "korrinlink-0.9.7-rp2350-arm-s-no_flash.uf2";

}  // namespace tw::test
