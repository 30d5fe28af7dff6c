#include "sim/uf2_drive.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tw::sim {
namespace {

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string redirectPage(const std::string& url) {
  return "<html><head><meta http-equiv=\"refresh\" content=\"0;URL='" + url +
         "'\"/></head><body>Redirecting to <a href='" + url + "'>raspberrypi.com</a></body></html>";
}

}  // namespace

Uf2Drive::Profile Uf2Drive::rp2350() {
  return Profile{"RP2350", "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n",
                 redirectPage("https://raspberrypi.com/device/RP2?version=5A09D5312E22")};
}

Uf2Drive::Profile Uf2Drive::rp2040() {
  return Profile{"RPI-RP2", "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n",
                 redirectPage("https://raspberrypi.com/device/RP2?version=E0C9125B0D9B")};
}

bool Uf2Drive::attached() {
  auto chip = chip_.lock();
  return chip && chip->driveAttached();
}

bool Uf2Drive::mediaPresent() {
  auto chip = chip_.lock();
  return chip && chip->driveAttached() && chip->driveMediaPresent();
}

std::uint64_t Uf2Drive::arrival() {
  auto chip = chip_.lock();
  return chip ? chip->driveArrival() : 0;
}

bool Uf2Drive::Writer::usable(std::uint32_t& error) {
  if (!drive_->usable(error)) return false;
  if (drive_->arrival() == arrival_) return true;
  error = kDriveErrorNotReady;
  return false;
}

bool Uf2Drive::usable(std::uint32_t& error) {
  if (mediaPresent()) return true;
  error = kDriveErrorNotReady;
  return false;
}

std::vector<Uf2Drive::File> Uf2Drive::files() {
  if (!mediaPresent()) return {};
  return {File{"INDEX.HTM", {profile_.indexHtm.begin(), profile_.indexHtm.end()}},
          File{"INFO_UF2.TXT", {profile_.infoUf2.begin(), profile_.infoUf2.end()}}};
}

bool Uf2Drive::readFile(const std::string& name, std::vector<std::uint8_t>& bytes,
                        std::uint32_t& error) {
  if (!usable(error)) return false;
  for (File& file : files()) {
    if (sameName(file.name, name)) {
      bytes = std::move(file.bytes);
      return true;
    }
  }
  error = kDriveErrorFileNotFound;
  return false;
}

std::unique_ptr<Uf2Drive::Writer> Uf2Drive::create(const std::string&, std::uint32_t& error) {
  if (!usable(error)) return nullptr;
  return std::make_unique<Writer>(shared_from_this());
}

bool Uf2Drive::Writer::write(const std::uint8_t* data, std::size_t size, std::size_t& written,
                             std::uint32_t& error) {
  written = 0;
  if (!usable(error)) return false;
  auto chip = drive_->chip_.lock();
  switch (drive_->faults.next("drive-write")) {
    case FaultKind::Fail:
      error = kDriveErrorWriteFault;
      return false;
    case FaultKind::Stall:
      chip->dropOffBus();
      error = kDriveErrorNotReady;
      return false;
    case FaultKind::Busy:
      // A drive whose chip has hung: it takes the bytes and does nothing with them.
      written = size;
      return true;
    default:
      break;
  }
  CostMeter& meter = chip->meter();
  std::uint64_t startMs = meter.clock().tickMs();
  std::uint64_t costUs = owedUs_;
  owedUs_ = 0;
  bool ok = true;
  std::size_t used = 0;
  while (used < size) {
    std::size_t n = std::min(size - used, kDriveSectorSize - partial_.size());
    partial_.insert(partial_.end(), data + used, data + used + n);
    used += n;
    if (partial_.size() < kDriveSectorSize) break;
    std::uint64_t sectorUs = 0;
    ok = chip->writeDriveSector(partial_.data(), startMs + costUs / 1000, sectorUs, error);
    costUs += sectorUs;
    partial_.clear();
    if (!ok) break;
    written = used;
  }
  if (ok) written = size;
  owedUs_ = std::min(costUs, chip->driveWorkInFlightUs());
  meter.charge(costUs - owedUs_);
  return ok;
}

bool Uf2Drive::Writer::close(std::uint32_t& error) {
  partial_.clear();
  if (!usable(error)) return false;
  auto chip = drive_->chip_.lock();
  if (!chip) return true;
  chip->meter().charge(owedUs_);
  owedUs_ = 0;
  return chip->finishDriveWrites(error);
}

}  // namespace tw::sim
