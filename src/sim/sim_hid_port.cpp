#include "sim/sim_hid_port.h"

#include <algorithm>
#include <cctype>

namespace tw::sim {
namespace {

// The HID class driver keeps a ring of this many input reports per open handle.
constexpr std::uint64_t kInputBufferReports = 32;

}  // namespace

class SimHidHandle : public HidDevice {
 public:
  SimHidHandle(SimHidPort& port, std::string path, std::shared_ptr<HidDeviceModel> device,
               std::uint64_t generation, HidAccess access, bool overlapped)
      : port_(port),
        path_(std::move(path)),
        device_(std::move(device)),
        generation_(generation),
        access_(access),
        overlapped_(overlapped) {}

  bool getAttributes(HidAttributes& out) override {
    if (!usable("attributes")) return false;
    out = device_->attributes();
    return true;
  }

  bool getCaps(HidCaps& out) override {
    if (!usable("caps")) return false;
    out = device_->caps();
    return true;
  }

  bool getFeatureReportIds(std::vector<std::uint8_t>& ids) override {
    if (!usable("caps")) return false;
    ids = device_->featureReportIds();
    return true;
  }

  bool getFeature(std::uint8_t* buffer, std::size_t length) override {
    port_.noteFeatureLength(length);
    if (!usable("get-feature")) return false;
    // Like HidD_GetFeature: a buffer shorter than the device's feature report is refused.
    if (length == 0 || length < device_->caps().featureReportByteLength) return false;
    return device_->getFeature(buffer, length);
  }

  bool setFeature(const std::uint8_t* buffer, std::size_t length) override {
    if (!usable("set-feature")) return false;
    if (length == 0 || length < device_->caps().featureReportByteLength) return false;
    return device_->setFeature(buffer, length);
  }

  InputReadResult readInput(std::uint8_t* buffer, std::size_t length, std::uint32_t waitMs,
                            std::uint32_t cancelWaitMs) override {
    Clock& clock = port_.clock_;
    if (!overlapped_ || access_ == HidAccess::None) return {};
    FaultKind fault = device_->faults.next("read-input");
    if (fault == FaultKind::Fail || !port_.alive(path_, generation_)) return {};
    if (length < device_->caps().inputReportByteLength) return {};
    if (fault == FaultKind::Stall) {
      // A read the driver never completes, not even when cancelled in time.
      clock.sleepMs(waitMs);
      clock.sleepMs(cancelWaitMs);
      return {InputReadResult::Outcome::TimedOut, 0};
    }
    std::uint32_t period = device_->inputPeriodMs();
    std::uint64_t now = clock.tickMs();
    if (period == 0) {
      clock.sleepMs(waitMs);  // nothing arrives; the cancel completes at once
      return {InputReadResult::Outcome::TimedOut, 0};
    }
    std::uint64_t epoch = device_->inputEpochMs();
    std::uint64_t newest = now >= epoch ? (now - epoch) / period : 0;
    if (nextReport_ == 0) nextReport_ = newest + 1;  // a new handle sees only later reports
    if (newest >= kInputBufferReports && nextReport_ + kInputBufferReports <= newest) {
      nextReport_ = newest - kInputBufferReports + 1;  // the ring dropped the oldest ones
    }
    std::uint64_t readyAt = epoch + nextReport_ * period;
    if (readyAt > now) {
      if (readyAt - now > waitMs) {
        clock.sleepMs(waitMs);
        return {InputReadResult::Outcome::TimedOut, 0};
      }
      clock.sleepMs(static_cast<std::uint32_t>(readyAt - now));
      if (!port_.alive(path_, generation_)) return {};
    }
    std::size_t reportLength = device_->caps().inputReportByteLength;
    std::fill(buffer, buffer + length, 0);
    device_->fillInputReport(nextReport_, buffer, reportLength);
    ++nextReport_;
    return {InputReadResult::Outcome::Completed, reportLength};
  }

  bool writeOutput(const std::uint8_t* buffer, std::size_t length, std::uint32_t) override {
    if (access_ != HidAccess::ReadWrite) return false;
    if (!usable("write-output")) return false;
    if (length < device_->caps().outputReportByteLength) return false;
    return device_->writeOutput(buffer, length);
  }

 private:
  bool usable(const char* operation) {
    if (!port_.alive(path_, generation_)) return false;
    return device_->faults.next(operation) == FaultKind::None;
  }

  SimHidPort& port_;
  std::string path_;
  std::shared_ptr<HidDeviceModel> device_;
  std::uint64_t generation_;
  HidAccess access_;
  bool overlapped_;
  std::uint64_t nextReport_ = 0;
};

void SimHidPort::plug(const std::string& path, std::shared_ptr<HidDeviceModel> device) {
  std::lock_guard<std::mutex> lock(mutex_);
  slots_.erase(std::remove_if(slots_.begin(), slots_.end(),
                              [&](const Slot& slot) { return slot.path == path; }),
               slots_.end());
  slots_.push_back(Slot{path, std::move(device), nextGeneration_++});
}

void SimHidPort::unplug(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  slots_.erase(std::remove_if(slots_.begin(), slots_.end(),
                              [&](const Slot& slot) { return slot.path == path; }),
               slots_.end());
}

bool SimHidPort::isPlugged(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(slots_.begin(), slots_.end(),
                     [&](const Slot& slot) { return slot.path == path; });
}

bool SimHidPort::listInterfaces(std::vector<std::string>& paths) {
  if (beforeEnumerate) beforeEnumerate();
  if (enumerationFaults.next("enumerate") != FaultKind::None) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  paths.clear();
  for (const Slot& slot : slots_) paths.push_back(slot.path);
  return true;
}

std::unique_ptr<HidDevice> SimHidPort::open(const std::string& path, HidAccess access,
                                            bool overlapped) {
  Slot found;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Device paths are case-insensitive on Windows; the simulated ones are all lower case.
    auto it = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& slot) {
      if (slot.path.size() != path.size()) return false;
      for (std::size_t i = 0; i < path.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(slot.path[i])) !=
            std::tolower(static_cast<unsigned char>(path[i]))) {
          return false;
        }
      }
      return true;
    });
    if (it == slots_.end()) return nullptr;
    found = *it;
  }
  if (found.device->faults.next("open") != FaultKind::None) return nullptr;
  if (access != HidAccess::None &&
      found.device->faults.next("open-with-access") != FaultKind::None) {
    return nullptr;
  }
  return std::make_unique<SimHidHandle>(*this, found.path, found.device, found.generation, access,
                                        overlapped);
}

std::vector<std::size_t> SimHidPort::featureLengthsSeen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return featureLengths_;
}

bool SimHidPort::alive(const std::string& path, std::uint64_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(slots_.begin(), slots_.end(), [&](const Slot& slot) {
    return slot.path == path && slot.generation == generation;
  });
}

void SimHidPort::noteFeatureLength(std::size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  featureLengths_.push_back(length);
  if (featureLengths_.size() > 1000) featureLengths_.erase(featureLengths_.begin());
}

}  // namespace tw::sim
