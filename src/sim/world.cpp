#include "sim/world.h"

#include <cstdio>

#include "sim/dongle_settings.h"
#include "sim/firmware_builder.h"
#include "sim/flash_image_info.h"

namespace tw::sim {
namespace {

// A dongle that reconnects its USB function is gone from the bus for about this long.
constexpr std::uint64_t kReconnectGapMs = 1200;

}  // namespace

World::World(Clock& clock, Options options)
    : clock_(clock),
      hid_(clock),
      usb_(clock),
      flash_(std::make_shared<NorFlash>()),
      dongle_(std::make_shared<DongleModel>(clock, options.dongle)),
      enumerationMs_(options.board.timing.enumerationMs) {
  if (!options.firmwareUf2.empty()) {
    writeUf2(*flash_, options.firmwareUf2);
  } else if (!options.flashImage.empty()) {
    writeImage(*flash_, options.flashImage);
  } else {
    FirmwareRecipe recipe;
    recipe.program = kOurProgramName;
    recipe.version = options.dongle.firmwareVersion;
    writeImage(*flash_, makeFirmwareImage(recipe));
  }
  storePairing(*flash_, options.controllerPaired);
  board_ = std::make_shared<Rp2350Board>(clock, flash_, options.board);
  usb_.plug(board_);
  dongle_->controller().on = options.controllerOn;
  dongle_->onReconnectRequested = [this] { reconnectRequested(); };
  dongle_->onUpdateModeRequested = [this] { updateModeRequested(); };
  dongle_->onSave = [this](const DongleConfigBytes& config) { storeSavedConfig(*flash_, config); };
  hid_.beforeEnumerate = [this] { update(); };
  usb_.beforeEnumerate = [this] { update(); };
  if (options.donglePlugged) plugDongle(1);
}

std::string World::pathFor(const char* productHex, const char* instance) {
  char path[160];
  std::snprintf(path, sizeof path,
                "\\\\?\\hid#vid_054c&pid_%s#%s#{4d1e55b2-f16f-11cf-88cb-001111000030}", productHex,
                instance);
  return path;
}

void World::plugDongle(int usbPort) {
  unplugDongleHid();
  std::optional<std::string> version;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    usbPort_ = usbPort;
    reconnectAtMs_ = 0;
    donglePlugged_ = false;
    board_->leaveUpdateMode();
    version = bootLocked(std::nullopt, clock_.tickMs());
  }
  if (version) startDongle(*version);
}

void World::unplugDongle() {
  unplugDongleHid();
  std::lock_guard<std::mutex> lock(mutex_);
  donglePlugged_ = false;
  reconnectAtMs_ = 0;
  restart_.reset();
  mode_ = Mode::Unplugged;
  board_->leaveUpdateMode();
}

void World::unplugDongleHid() {
  hid_.unplug(donglePath());
}

std::optional<std::string> World::bootLocked(std::optional<RebootRequest> reboot,
                                             std::uint64_t nowMs) {
  restart_.reset();
  switch (board_->faults.next("boot")) {
    case FaultKind::Fail:
      board_->enterUpdateMode(nowMs);
      mode_ = Mode::UpdateMode;
      return std::nullopt;
    case FaultKind::Stall:
      mode_ = Mode::Hung;
      return std::nullopt;
    default:
      break;
  }
  std::uint32_t type = reboot ? reboot->flags & 0xF : kRebootTypeNormal;
  if (type == kRebootTypeBootsel) {
    board_->enterUpdateMode(nowMs, (reboot->p1 & kBootselNoPicoboot) == 0,
                            (reboot->p1 & kBootselNoDrive) == 0);
    mode_ = Mode::UpdateMode;
    return std::nullopt;
  }
  // Nothing that was loaded into RAM is run here, so a RAM image finds nothing to start.
  FlashImageInfo info;
  if (type != kRebootTypeRamImage) info = inspectFlash(*flash_);
  if (!info.bootable) {
    board_->enterUpdateMode(nowMs);
    mode_ = Mode::UpdateMode;
    return std::nullopt;
  }
  if (info.program == kOurProgramName) {
    mode_ = Mode::Dongle;
    donglePlugged_ = true;
    return info.version;
  }
  mode_ = Mode::Other;
  return std::nullopt;
}

void World::startDongle(const std::string& version) {
  dongle_->restart(version, loadSavedConfig(*flash_));
  bool paired = loadPairing(*flash_);
  {
    std::lock_guard<std::mutex> lock(dongle_->mutex());
    dongle_->controller().paired = paired;
  }
  hid_.plug(donglePath(), dongle_);
}

bool World::donglePlugged() {
  std::lock_guard<std::mutex> lock(mutex_);
  return donglePlugged_;
}

bool World::dongleInUpdateMode() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mode_ == Mode::UpdateMode;
}

bool World::dongleRunning() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mode_ == Mode::Dongle;
}

std::string World::donglePath() {
  int port;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    port = usbPort_;
  }
  char instance[48];
  std::snprintf(instance, sizeof instance, "%d&2f1b7c4e&0&000%d", 7 + port, port);
  const char* product = dongle_->attributes().productId == 0x0DF2 ? "0df2" : "0ce6";
  return pathFor(product, instance);
}

void World::plugDualSense() {
  if (!dualSense_) dualSense_ = std::make_shared<DualSenseModel>(clock_);
  hid_.plug(dualSensePath(), dualSense_);
}

void World::unplugDualSense() {
  hid_.unplug(dualSensePath());
}

std::string World::dualSensePath() const {
  return pathFor("0ce6", "6&11a0c3d&0&0000");
}

void World::plugKeyboard() {
  hid_.plug(
      "\\\\?\\hid#vid_046d&pid_c31c&mi_00#7&3aa1c0e&0&0000#{884b96c3-56ef-11d1-bc8c-00a0c91405dd}",
      std::make_shared<KeyboardModel>());
}

void World::setController(const std::function<void(ControllerState&)>& change) {
  bool before, after;
  {
    std::lock_guard<std::mutex> lock(dongle_->mutex());
    before = dongle_->controller().paired;
    change(dongle_->controller());
    after = dongle_->controller().paired;
  }
  // Kept in the flash whatever runs, so the next start of the dongle finds it.
  if (before != after) storePairing(*flash_, after);
}

ControllerState World::controller() {
  std::lock_guard<std::mutex> lock(dongle_->mutex());
  return dongle_->controller();
}

void World::tripleClickButton() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ != Mode::Dongle) return;  // only the dongle's firmware listens to the button
  }
  updateModeRequested();
}

void World::plugBoard(const BoardSetup& setup) {
  unplugDongle();
  switch (setup.firmware) {
    case BoardFirmware::Ours: {
      for (std::uint32_t at = 0; at < kSettingsAreaAddress - kFlashBase; at += kFlashSectorSize) {
        flash_->eraseSector(at);
      }
      FirmwareRecipe recipe;
      recipe.program = kOurProgramName;
      recipe.version = setup.version;
      writeImage(*flash_, makeFirmwareImage(recipe));
      break;
    }
    case BoardFirmware::Blank:
      flash_->eraseAll();
      break;
    case BoardFirmware::Foreign: {
      flash_->eraseAll();
      FirmwareRecipe recipe;
      recipe.program = setup.program;
      recipe.version = setup.version;
      recipe.binaryInfo = !setup.program.empty();
      recipe.seed = 7;
      writeImage(*flash_, makeFirmwareImage(recipe));
      break;
    }
  }
  board_->setHeldError(setup.heldError);
  std::lock_guard<std::mutex> lock(mutex_);
  board_->enterUpdateMode(clock_.tickMs(), setup.picoboot, setup.drive);
  mode_ = Mode::UpdateMode;
}

void World::plugInUpdateMode(bool picoboot, bool drive) {
  unplugDongle();
  std::lock_guard<std::mutex> lock(mutex_);
  board_->enterUpdateMode(clock_.tickMs(), picoboot, drive);
  mode_ = Mode::UpdateMode;
}

void World::setBoardHeld(std::uint32_t error) {
  board_->setHeldError(error);
}

bool World::boardInUpdateMode() {
  update();
  return board_->inUpdateMode();
}

std::string World::boardPath() {
  return board_->interfacePath();
}

std::vector<std::shared_ptr<Uf2Drive>> World::drives() {
  update();
  std::vector<std::shared_ptr<Uf2Drive>> present;
  if (board_->driveAttached()) present.push_back(board_->drive());
  if (rp2040_ && rp2040_->driveAttached()) present.push_back(rp2040_->drive());
  return present;
}

std::shared_ptr<Uf2Drive> World::plugRp2040Board() {
  if (!rp2040_) rp2040_ = std::make_shared<Rp2040Board>(clock_);
  rp2040_->plug();
  return rp2040_->drive();
}

void World::unplugRp2040Board() {
  if (rp2040_) rp2040_->unplug();
}

void World::update() {
  std::uint64_t now = clock_.tickMs();
  bool replug = false;
  std::optional<std::string> version;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reconnectAtMs_ != 0 && now >= reconnectAtMs_) {
      reconnectAtMs_ = 0;
      replug = mode_ == Mode::Dongle;
    }
    if (mode_ == Mode::UpdateMode) {
      if (board_->takeDroppedOff()) {
        mode_ = Mode::Unplugged;
      } else if (auto reboot = board_->takeReboot()) {
        mode_ = Mode::Restarting;
        restart_ = reboot;
        restartAtMs_ = reboot->atMs + enumerationMs_;
      }
    }
    if (mode_ == Mode::Restarting && now >= restartAtMs_) version = bootLocked(restart_, now);
  }
  if (replug) hid_.plug(donglePath(), dongle_);
  if (version) startDongle(*version);
}

void World::reconnectRequested() {
  std::string path = donglePath();
  hid_.unplug(path);
  std::lock_guard<std::mutex> lock(mutex_);
  reconnectAtMs_ = clock_.tickMs() + kReconnectGapMs;
}

void World::updateModeRequested() {
  unplugDongleHid();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    donglePlugged_ = false;
    reconnectAtMs_ = 0;
    mode_ = Mode::UpdateMode;
    board_->enterUpdateMode(clock_.tickMs() + enumerationMs_);
  }
  if (onUpdateMode) onUpdateMode();
}

}  // namespace tw::sim
