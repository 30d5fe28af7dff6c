// An RP2350 board with its 4 MB flash, as the PC sees it while the boot ROM's update mode runs:
// the PICOBOOT interface (vendor class, bulk OUT 0x03 and IN 0x84) under the WinUSB device
// interface class the ROM declares, and the "RP2350" drive. Both reach the flash through one boot
// ROM. The world decides when the board is in update mode and what it runs after a reboot; the
// board only reports the reboots its ROM carried out.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "sim/board_timing.h"
#include "sim/boot_rom.h"
#include "sim/nor_flash.h"
#include "sim/picoboot_device.h"
#include "sim/sim_usb_port.h"
#include "sim/uf2_download.h"
#include "sim/uf2_drive.h"

namespace tw::sim {

inline constexpr char kPicobootInterfaceClass[] = "{BC7398C1-73CD-4CB7-98B8-913A8FCA7BF6}";

class Rp2350Board : public UsbFunctionModel,
                    public Uf2DriveChip,
                    public std::enable_shared_from_this<Rp2350Board> {
 public:
  struct Options {
    std::string serial = "5A1C9E3F0B7D2468";  // the chip's id as 16 hex digits
    // What WinUSB reports as MAXIMUM_TRANSFER_SIZE for the bulk pipes.
    std::uint32_t maximumTransferSize = 2'097'152;
    BoardTiming timing;
  };

  Rp2350Board(Clock& clock, std::shared_ptr<NorFlash> flash, Options options);

  // The ROM starts in update mode; its interfaces are enumerated from `visibleFromMs`. With
  // both switched off, both are shown (as the ROM does).
  void enterUpdateMode(std::uint64_t visibleFromMs, bool picoboot = true, bool drive = true);
  // Windows gives the PICOBOOT interface its driver only at `ms`, later than the drive.
  void showPicobootFrom(std::uint64_t ms);
  // Update mode ends: unplugged, or the chip runs something else now.
  void leaveUpdateMode();
  // In update mode with its interfaces enumerated.
  bool inUpdateMode();
  // A reboot the ROM carried out by now (update mode has then ended), given once.
  std::optional<RebootRequest> takeReboot();
  // True once after the board dropped off the bus by a fault.
  bool takeDroppedOff();

  // Another program holds the PICOBOOT interface: opening it fails with `error` (5, 32 or 170);
  // 0 lets it go.
  void setHeldError(std::uint32_t error);
  // A PICOBOOT command `commandId` fails with `status` at its `nth` run from now, `count` times.
  void failCommand(std::uint8_t commandId, std::uint32_t status, std::uint32_t nth = 1,
                   std::uint32_t count = 1);

  // Faults of the flash chip itself (see BootRom::flashFaults).
  FaultPlan& flashFaults() { return rom_.flashFaults; }
  std::shared_ptr<Uf2Drive> drive();
  // A block copied onto the drive is still being written by the chip.
  bool driveBlockPending();
  NorFlash& flash() { return *flash_; }
  const std::string& serial() const { return options_.serial; }
  std::uint8_t exclusiveAccess();
  BoardCounters counters();
  void resetCounters();

  // The USB side.
  std::string classGuid() override { return kPicobootInterfaceClass; }
  std::string interfacePath() override;
  std::string parentId() override;
  bool present(std::uint64_t nowMs, std::uint64_t& generation) override;
  std::uint32_t heldError() override;
  UsbInterfaceDescriptor descriptor() override;
  std::vector<UsbPipeInfo> pipes() override;
  std::uint32_t maximumTransferSize() override { return options_.maximumTransferSize; }
  Handshake receivePacket(std::uint8_t endpoint, const std::uint8_t* data, std::size_t length,
                          std::uint64_t nowMs, std::uint64_t& extraUs) override;
  Handshake sendPacket(std::uint8_t endpoint, std::uint8_t* packet, std::size_t& length) override;
  std::uint64_t busyUs() override;
  void advance(std::uint64_t us) override;
  Handshake control(const UsbSetupPacket& setup, std::uint8_t* buffer, std::uint32_t& transferred,
                    std::uint64_t nowMs) override;
  void halt(std::uint8_t endpoint) override;
  void clearHalt(std::uint8_t endpoint) override;
  const BoardTiming& timing() override { return options_.timing; }
  CostMeter& meter() override { return meter_; }

  // The drive side.
  bool driveAttached() override;
  bool driveMediaPresent() override;
  bool writeDriveSector(const std::uint8_t* sector, std::uint64_t nowMs, std::uint64_t& costUs,
                        std::uint32_t& error) override;
  bool finishDriveWrites(std::uint32_t& error) override;
  std::uint64_t driveWorkInFlightUs() override;
  void dropOffBus() override;
  std::uint64_t driveArrival() override;

  // Besides the USB operations (see UsbFunctionModel), the world asks "boot" when the chip
  // restarts: Fail brings it back in update mode instead of running its flash; Stall leaves it
  // hanging, on no list at all.

 private:
  // Carries out a reboot that is due by `nowMs`. Called with the lock held.
  void poll(std::uint64_t nowMs);
  void dropOffBusLocked();
  // Writes the block in the drive's task slot, if any. Called with the lock held.
  void runDriveBlock();
  bool visible(std::uint64_t nowMs) const;
  std::uint8_t interfaceNumber() const { return driveEnabled_ ? 1 : 0; }
  static Handshake handshake(PicobootDevice::Handshake h);

  Clock& clock_;
  std::shared_ptr<NorFlash> flash_;
  Options options_;
  CostMeter meter_;

  std::mutex mutex_;
  BootRom rom_;
  PicobootDevice picoboot_;
  Uf2Download download_;
  bool updateMode_ = false;
  std::uint64_t visibleFromMs_ = 0;
  bool picobootEnabled_ = true;
  bool driveEnabled_ = true;
  std::uint64_t picobootFromMs_ = 0;
  std::uint64_t generation_ = 0;
  std::uint32_t heldError_ = 0;
  std::optional<RebootRequest> rebooted_;
  bool droppedOff_ = false;
  std::shared_ptr<Uf2Drive> drive_;

  // The ROM's drive task queue has one slot: the block the chip is writing, done at `doneAtMs`.
  // The host hears that its block was written only then.
  struct DriveBlock {
    std::uint32_t address = 0;
    bool eraseFirst = false;
    std::array<std::uint8_t, kFlashPageSize> data{};
    bool last = false;  // the file's last block: the chip reboots into it afterwards
    std::uint32_t rebootFlags = 0;
    std::uint64_t workUs = 0;  // erasing and programming it
    std::uint64_t doneAtMs = 0;
  };
  std::optional<DriveBlock> driveBlock_;
  // A block was dropped before it was written; the host's write of it never completes.
  bool driveBlockLost_ = false;
};

}  // namespace tw::sim
