// An RP2040 board in its boot ROM's update mode, seen through its "RPI-RP2" drive only (its
// PICOBOOT interface has no WinUSB driver of its own, so it is on no interface list). It takes
// RP2040 UF2 files and ignores everything else; after a complete file it restarts into the new
// program and its drive goes away. It is there so that the app can be shown a drive that is not
// the dongle's.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/clock.h"
#include "sim/board_timing.h"
#include "sim/nor_flash.h"
#include "sim/uf2_download.h"
#include "sim/uf2_drive.h"

namespace tw::sim {

class Rp2040Board : public Uf2DriveChip, public std::enable_shared_from_this<Rp2040Board> {
 public:
  explicit Rp2040Board(Clock& clock, BoardTiming timing = {});

  void plug();
  void unplug();
  std::shared_ptr<Uf2Drive> drive();
  NorFlash& flash() { return flash_; }

  bool driveAttached() override;
  bool driveMediaPresent() override { return true; }
  bool writeDriveSector(const std::uint8_t* sector, std::uint64_t nowMs, std::uint64_t& costUs,
                        std::uint32_t& error) override;
  void dropOffBus() override { unplug(); }
  CostMeter& meter() override { return meter_; }

 private:
  Clock& clock_;
  BoardTiming timing_;
  CostMeter meter_;
  NorFlash flash_{2 * 1024 * 1024};
  std::mutex mutex_;
  Uf2Download download_{Uf2Rules::rp2040()};
  bool plugged_ = false;
  std::uint64_t restartAtMs_ = 0;  // 0: none
  std::shared_ptr<Uf2Drive> drive_;
};

}  // namespace tw::sim
