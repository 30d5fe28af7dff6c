// The simulated world the Linux app and the tests run on: the dongle with its controller, other
// HID devices, and the changes a person makes (plugging, unplugging, turning the pad off, ...).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "sim/dongle_model.h"
#include "sim/other_devices.h"
#include "sim/sim_hid_port.h"

namespace tw::sim {

class World {
 public:
  struct Options {
    bool donglePlugged = true;
    bool controllerOn = true;
    DongleModel::Options dongle;
  };

  World(Clock& clock, Options options);
  explicit World(Clock& clock) : World(clock, Options{}) {}

  Clock& clock() { return clock_; }
  SimHidPort& hid() { return hid_; }
  DongleModel& dongle() { return *dongle_; }

  // The dongle's USB port decides its device path; another port gives another path.
  void plugDongle(int usbPort = 1);
  void unplugDongle();
  bool donglePlugged();
  std::string donglePath();
  bool dongleInUpdateMode();

  // A plain DualSense on a cable, and a keyboard, beside the dongle.
  void plugDualSense();
  void unplugDualSense();
  std::string dualSensePath() const;
  void plugKeyboard();

  // The controller behind the dongle.
  void setController(const std::function<void(ControllerState&)>& change);
  ControllerState controller();

  // A triple-click of the dongle's button: it restarts into update mode like command 0x04.
  void tripleClickButton() { updateModeRequested(); }

  // Carries out what is due by now (the dongle coming back after a reconnect command). The HID
  // port calls it before every enumeration.
  void update();

  // Called when the dongle restarts into the boot ROM's update mode (a board appears).
  std::function<void()> onUpdateMode;

 private:
  static std::string pathFor(const char* productHex, const char* instance);
  void reconnectRequested();
  void updateModeRequested();

  Clock& clock_;
  SimHidPort hid_;
  std::shared_ptr<DongleModel> dongle_;
  std::shared_ptr<DualSenseModel> dualSense_;
  std::mutex mutex_;
  bool donglePlugged_ = false;
  bool inUpdateMode_ = false;
  int usbPort_ = 1;
  std::uint64_t reconnectAtMs_ = 0;  // 0 = no reconnect pending
};

}  // namespace tw::sim
