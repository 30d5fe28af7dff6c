#include "sim/rp2040_board.h"

namespace tw::sim {
namespace {

constexpr std::uint32_t kRestartDelayMs = 500;

}  // namespace

Rp2040Board::Rp2040Board(Clock& clock, BoardTiming timing)
    : clock_(clock), timing_(timing), meter_(clock) {}

void Rp2040Board::plug() {
  std::lock_guard<std::mutex> lock(mutex_);
  plugged_ = true;
  restartAtMs_ = 0;
  download_.reset();
}

void Rp2040Board::unplug() {
  std::lock_guard<std::mutex> lock(mutex_);
  plugged_ = false;
}

std::shared_ptr<Uf2Drive> Rp2040Board::drive() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!drive_) drive_ = std::make_shared<Uf2Drive>(Uf2Drive::rp2040(), weak_from_this());
  return drive_;
}

bool Rp2040Board::driveAttached() {
  std::lock_guard<std::mutex> lock(mutex_);
  return plugged_ && (restartAtMs_ == 0 || clock_.tickMs() < restartAtMs_);
}

bool Rp2040Board::writeDriveSector(const std::uint8_t* sector, std::uint64_t nowMs,
                                   std::uint64_t& costUs, std::uint32_t& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  costUs = timing_.transferUs(kDriveSectorSize);
  if (!plugged_ || (restartAtMs_ != 0 && nowMs >= restartAtMs_)) {
    error = kDriveErrorNotReady;
    return false;
  }
  Uf2Download::Page page;
  Uf2Download::Outcome outcome = download_.accept(sector, page);
  if (outcome == Uf2Download::Outcome::Ignored || restartAtMs_ != 0) return true;
  std::uint32_t offset = page.address - kFlashBase;
  if (page.eraseFirst) {
    flash_.eraseSector(offset);
    costUs += timing_.sectorEraseUs;
  }
  flash_.programPage(offset, page.data, kFlashPageSize);
  costUs += timing_.pageProgramUs;
  if (outcome == Uf2Download::Outcome::WriteLast) {
    restartAtMs_ = nowMs + costUs / 1000 + kRestartDelayMs;
  }
  return true;
}

}  // namespace tw::sim
