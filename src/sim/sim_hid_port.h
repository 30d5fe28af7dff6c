// The HID port over the simulated world: enumerates the devices plugged in and hands out handles
// that behave as the Windows HID class driver does (per-handle input buffering, bounded reads,
// handles that go dead when the device is unplugged).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/hid.h"
#include "sim/hid_device_model.h"

namespace tw::sim {

class SimHidPort : public HidPort {
 public:
  explicit SimHidPort(Clock& clock) : clock_(clock) {}

  // Plugs a device in under `path`; unplugging makes its open handles fail.
  void plug(const std::string& path, std::shared_ptr<HidDeviceModel> device);
  void unplug(const std::string& path);
  bool isPlugged(const std::string& path);
  // The enumeration itself can fail (SetupDiGetClassDevsW).
  FaultPlan enumerationFaults;
  // Lets the world bring due changes about before each enumeration.
  std::function<void()> beforeEnumerate;

  bool listInterfaces(std::vector<std::string>& paths) override;
  std::unique_ptr<HidDevice> open(const std::string& path, HidAccess access,
                                  bool overlapped) override;

  // Lengths passed to getFeature, newest last (for checking how the system sizes its reads).
  std::vector<std::size_t> featureLengthsSeen();

 private:
  friend class SimHidHandle;
  struct Slot {
    std::string path;
    std::shared_ptr<HidDeviceModel> device;
    std::uint64_t generation = 0;
  };
  bool alive(const std::string& path, std::uint64_t generation);
  void noteFeatureLength(std::size_t length);

  Clock& clock_;
  std::mutex mutex_;
  std::vector<Slot> slots_;
  std::uint64_t nextGeneration_ = 1;
  std::vector<std::size_t> featureLengths_;
};

}  // namespace tw::sim
