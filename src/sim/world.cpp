#include "sim/world.h"

#include <cstdio>

namespace tw::sim {
namespace {

// A dongle that reconnects its USB function is gone from the bus for about this long.
constexpr std::uint64_t kReconnectGapMs = 1200;

}  // namespace

World::World(Clock& clock, Options options)
    : clock_(clock), hid_(clock), dongle_(std::make_shared<DongleModel>(clock, options.dongle)) {
  dongle_->controller().on = options.controllerOn;
  dongle_->onReconnectRequested = [this] { reconnectRequested(); };
  dongle_->onUpdateModeRequested = [this] { updateModeRequested(); };
  hid_.beforeEnumerate = [this] { update(); };
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
  {
    std::lock_guard<std::mutex> lock(mutex_);
    usbPort_ = usbPort;
    donglePlugged_ = true;
    inUpdateMode_ = false;
    reconnectAtMs_ = 0;
  }
  hid_.plug(donglePath(), dongle_);
}

void World::unplugDongle() {
  std::string path = donglePath();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    donglePlugged_ = false;
    reconnectAtMs_ = 0;
  }
  hid_.unplug(path);
}

bool World::donglePlugged() {
  std::lock_guard<std::mutex> lock(mutex_);
  return donglePlugged_;
}

bool World::dongleInUpdateMode() {
  std::lock_guard<std::mutex> lock(mutex_);
  return inUpdateMode_;
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
  std::lock_guard<std::mutex> lock(dongle_->mutex());
  change(dongle_->controller());
}

ControllerState World::controller() {
  std::lock_guard<std::mutex> lock(dongle_->mutex());
  return dongle_->controller();
}

void World::update() {
  int port = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reconnectAtMs_ != 0 && clock_.tickMs() >= reconnectAtMs_) {
      reconnectAtMs_ = 0;
      port = usbPort_;
    }
  }
  if (port != 0) plugDongle(port);
}

void World::reconnectRequested() {
  std::string path = donglePath();
  hid_.unplug(path);
  std::lock_guard<std::mutex> lock(mutex_);
  reconnectAtMs_ = clock_.tickMs() + kReconnectGapMs;
}

void World::updateModeRequested() {
  hid_.unplug(donglePath());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    donglePlugged_ = false;
    inUpdateMode_ = true;
  }
  if (onUpdateMode) onUpdateMode();
}

}  // namespace tw::sim
