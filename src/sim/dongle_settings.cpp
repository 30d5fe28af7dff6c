#include "sim/dongle_settings.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tw::sim {
namespace {

constexpr std::uint32_t kConfigSector = kSettingsAreaAddress - kFlashBase;
constexpr std::uint32_t kPairingSector = kConfigSector + kFlashSectorSize;
constexpr std::uint8_t kConfigMagic[4] = {'T', 'W', 'C', '1'};
constexpr std::uint8_t kPairingMagic[4] = {'T', 'W', 'P', '1'};

bool hasMagic(const std::vector<std::uint8_t>& record, const std::uint8_t (&magic)[4]) {
  return std::equal(magic, magic + 4, record.begin());
}

void storeRecord(NorFlash& flash, std::uint32_t sector, const std::uint8_t (&magic)[4],
                 const std::uint8_t* body, std::size_t length) {
  std::array<std::uint8_t, kFlashPageSize> page;
  page.fill(0xFF);
  std::memcpy(page.data(), magic, 4);
  std::memcpy(page.data() + 4, body, length);
  flash.eraseSector(sector);
  flash.programPage(sector, page.data(), page.size());
}

}  // namespace

DongleConfigBytes loadSavedConfig(const NorFlash& flash) {
  std::vector<std::uint8_t> record = flash.read(kConfigSector, 4 + kDongleConfigSize);
  if (!hasMagic(record, kConfigMagic)) return factoryDongleConfig();
  DongleConfigBytes config;
  std::copy(record.begin() + 4, record.end(), config.begin());
  return sanitizeDongleConfig(config);
}

void storeSavedConfig(NorFlash& flash, const DongleConfigBytes& config) {
  storeRecord(flash, kConfigSector, kConfigMagic, config.data(), config.size());
}

bool loadPairing(const NorFlash& flash) {
  std::vector<std::uint8_t> record = flash.read(kPairingSector, 5);
  return hasMagic(record, kPairingMagic) && record[4] == 1;
}

void storePairing(NorFlash& flash, bool paired) {
  if (!paired) {
    flash.eraseSector(kPairingSector);
    return;
  }
  const std::uint8_t one = 1;
  storeRecord(flash, kPairingSector, kPairingMagic, &one, 1);
}

}  // namespace tw::sim
