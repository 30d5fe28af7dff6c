// The simulated world the Linux app and the tests run on: the dongle with its controller, other
// HID devices, the RP2350 board the dongle is built on (its flash, its boot ROM's update mode
// with the PICOBOOT interface and the "RP2350" drive), and the changes a person makes (plugging,
// unplugging, pressing the button, turning the pad off, ...).
//
// The dongle and the board are one device: what it shows depends on what runs. Firmware that
// declares the program name "korrinlink" is the dongle, reporting the version its flash declares
// and the settings its flash keeps; a board with nothing bootable stays in update mode; any other
// program is on no list at all.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "sim/boot_rom.h"
#include "sim/dongle_model.h"
#include "sim/nor_flash.h"
#include "sim/other_devices.h"
#include "sim/rp2040_board.h"
#include "sim/rp2350_board.h"
#include "sim/sim_hid_port.h"
#include "sim/sim_usb_port.h"
#include "sim/uf2_drive.h"

namespace tw::sim {

inline constexpr char kOurProgramName[] = "korrinlink";

class World {
 public:
  struct Options {
    bool donglePlugged = true;
    bool controllerOn = true;
    bool controllerPaired = true;
    DongleModel::Options dongle;
    // The flash at the start: a flat image from 0x10000000, or a UF2 file (which wins when both
    // are given). With neither, a generated image declaring "korrinlink" and
    // dongle.firmwareVersion.
    std::vector<std::uint8_t> flashImage;
    std::vector<std::uint8_t> firmwareUf2;
    Rp2350Board::Options board;
  };

  World(Clock& clock, Options options);
  explicit World(Clock& clock) : World(clock, Options{}) {}

  Clock& clock() { return clock_; }
  SimHidPort& hid() { return hid_; }
  SimUsbPort& usb() { return usb_; }
  DongleModel& dongle() { return *dongle_; }
  Rp2350Board& board() { return *board_; }
  NorFlash& flash() { return *flash_; }

  // Plugs the device in; it runs what its flash holds (the dongle, with the firmware this
  // World starts with). The USB port decides the dongle's device path.
  void plugDongle(int usbPort = 1);
  // Pulls the device out, whatever it was doing.
  void unplugDongle();
  bool donglePlugged();
  std::string donglePath();
  bool dongleInUpdateMode();
  // The dongle is plugged in and running its firmware (it answers over HID).
  bool dongleRunning();

  // A plain DualSense on a cable, and a keyboard, beside the dongle.
  void plugDualSense();
  void unplugDualSense();
  std::string dualSensePath() const;
  void plugKeyboard();

  // The controller behind the dongle. Pairing and forgetting are kept in the dongle's flash.
  void setController(const std::function<void(ControllerState&)>& change);
  ControllerState controller();

  // A triple-click of the dongle's button: a running dongle restarts into update mode, as on
  // command 0x04.
  void tripleClickButton();
  void pressButton() { tripleClickButton(); }

  // A board plugged in with its button held, in update mode.
  enum class BoardFirmware {
    Ours,     // "korrinlink" at `version`; the settings area is kept
    Blank,    // all erased
    Foreign,  // another program: `program` at `version`, or no declarations when empty
  };
  struct BoardSetup {
    BoardFirmware firmware = BoardFirmware::Ours;
    std::string version = "0.9.3";
    std::string program;
    bool picoboot = true;         // false: the drive only
    bool drive = true;            // false: the PICOBOOT interface only
    std::uint32_t heldError = 0;  // another program holds the interface: 5, 32 or 170

    static BoardSetup ours(std::string version = "0.9.3") {
      BoardSetup setup;
      setup.version = std::move(version);
      return setup;
    }
    static BoardSetup blank() {
      BoardSetup setup;
      setup.firmware = BoardFirmware::Blank;
      return setup;
    }
    static BoardSetup foreign(std::string program, std::string version = "1.0") {
      BoardSetup setup;
      setup.firmware = BoardFirmware::Foreign;
      setup.program = std::move(program);
      setup.version = std::move(version);
      return setup;
    }
    BoardSetup& only(bool withPicoboot, bool withDrive) {
      picoboot = withPicoboot;
      drive = withDrive;
      return *this;
    }
    BoardSetup& heldBy(std::uint32_t error) {
      heldError = error;
      return *this;
    }
  };
  // Pulls out what is plugged in, puts `setup`'s firmware in the flash and plugs the board in
  // with its button held.
  void plugBoard(const BoardSetup& setup);
  // The same with the flash as it is.
  void plugInUpdateMode(bool picoboot = true, bool drive = true);
  void setBoardHeld(std::uint32_t error);
  void unplugBoard() { unplugDongle(); }
  // Whether the board's update-mode interfaces are enumerated now.
  bool boardInUpdateMode();
  std::string boardPath();

  // The UF2 drives present now (the board's "RP2350" drive in update mode, an RP2040 board's
  // "RPI-RP2" drive when plugged). Each drive's attached() says whether it is still there.
  std::vector<std::shared_ptr<Uf2Drive>> drives();
  std::shared_ptr<Uf2Drive> boardDrive() { return board_->drive(); }
  std::shared_ptr<Uf2Drive> plugRp2040Board();
  void unplugRp2040Board();

  // Carries out what is due by now: the dongle coming back after a reconnect command, a board
  // restarting after its boot ROM rebooted it. Both ports call it before every enumeration.
  void update();

  // Called when the dongle restarts into the boot ROM's update mode (a board appears).
  std::function<void()> onUpdateMode;

 private:
  enum class Mode {
    Unplugged,
    Dongle,      // running our firmware
    Other,       // running another program
    UpdateMode,  // in the boot ROM
    Restarting,  // the boot ROM rebooted it; it starts again at restartAtMs_
    Hung,        // restarted into nothing
  };

  static std::string pathFor(const char* productHex, const char* instance);
  void reconnectRequested();
  void updateModeRequested();
  // Starts the device after a reset (with the world's lock held); gives the version to start
  // the dongle with when our firmware runs.
  std::optional<std::string> bootLocked(std::optional<RebootRequest> reboot, std::uint64_t nowMs);
  // Outside the lock: the dongle's firmware comes up with its flash's settings.
  void startDongle(const std::string& version);
  void unplugDongleHid();

  Clock& clock_;
  SimHidPort hid_;
  SimUsbPort usb_;
  std::shared_ptr<NorFlash> flash_;
  std::shared_ptr<DongleModel> dongle_;
  std::shared_ptr<Rp2350Board> board_;
  std::shared_ptr<DualSenseModel> dualSense_;
  std::shared_ptr<Rp2040Board> rp2040_;
  std::uint32_t enumerationMs_;
  std::mutex mutex_;
  Mode mode_ = Mode::Unplugged;
  bool donglePlugged_ = false;
  int usbPort_ = 1;
  std::uint64_t reconnectAtMs_ = 0;  // 0 = no reconnect pending
  std::uint64_t restartAtMs_ = 0;
  std::optional<RebootRequest> restart_;
};

}  // namespace tw::sim
