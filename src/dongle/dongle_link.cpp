#include "dongle/dongle_link.h"

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "dongle/dongle_reports.h"

namespace tw {
namespace {

using namespace dongle;

constexpr std::size_t kFeatureBufferSize = 256;
constexpr std::size_t kMaxPathBytes = 511;
// Byte 53 of the controller's input report (counting the id) carries battery and power state.
constexpr std::size_t kBatteryByteOffset = 53;
constexpr std::size_t kMinInputReportLength = kBatteryByteOffset + 1;
// The poll runs on the UI thread: bound the input read, then give the cancel a moment to land.
constexpr std::uint32_t kInputReadWaitMs = 400;
constexpr std::uint32_t kInputCancelWaitMs = 200;

bool hasDongleIdentity(const HidAttributes& attributes) {
  return attributes.vendorId == SONY_VENDOR_ID &&
         (attributes.productId == DUALSENSE_PRODUCT_ID ||
          attributes.productId == DUALSENSE_EDGE_PRODUCT_ID);
}

// The interface that passed every test in discoverDongle, kept open for the poll's reads.
struct AcceptedInterface {
  std::unique_ptr<HidDevice> device;
  bool canReadInput = false;
  std::size_t featureLength = 0;
  std::uint16_t inputLength = 0;
};

void readBattery(AcceptedInterface& accepted, DongleStatus& status) {
  if (!accepted.canReadInput || accepted.inputLength < kMinInputReportLength) return;
  std::vector<std::uint8_t> report(accepted.inputLength, 0);
  InputReadResult read = accepted.device->readInput(report.data(), report.size(), kInputReadWaitMs,
                                                    kInputCancelWaitMs);
  if (read.outcome != InputReadResult::Outcome::Completed) return;
  if (read.bytes < kMinInputReportLength || report[0] != CONTROLLER_INPUT_REPORT) return;
  std::uint8_t battery = report[kBatteryByteOffset];
  status.batteryLevel = std::min(battery & 0x0F, 10);
  status.batteryState = battery >> 4;
}

}  // namespace

void DongleLink::discoverDongle(DongleStatus& status, bool poll) {
  status = DongleStatus{};
  std::vector<std::string> paths;
  if (!hid_.listInterfaces(paths)) return;

  AcceptedInterface accepted;
  for (const std::string& path : paths) {
    bool canReadInput = true;
    std::unique_ptr<HidDevice> device = hid_.open(path, HidAccess::ReadWrite, true);
    if (!device) {
      // Another program may hold the pad exclusively; feature reports still work without access.
      device = hid_.open(path, HidAccess::None, false);
      canReadInput = false;
    }
    if (!device) continue;

    HidAttributes attributes;
    if (!device->getAttributes(attributes) || !hasDongleIdentity(attributes)) continue;
    HidCaps caps;
    if (!getHidCaps(*device, caps)) continue;
    if (caps.usagePage != GENERIC_DESKTOP_PAGE || caps.usage != GAME_PAD_USAGE) continue;
    if (caps.featureReportByteLength <= 2) continue;

    std::size_t featureLength =
        std::min<std::size_t>(caps.featureReportByteLength, kFeatureBufferSize);
    std::uint8_t buffer[kFeatureBufferSize] = {};
    buffer[0] = IDENTITY_REPORT;
    if (device->getFeature(buffer, featureLength)) {
      std::string identity = identityTextFromReport(buffer, featureLength);
      if (identity.empty()) continue;
      status.firmware = identity;
      status.present = true;
      std::lock_guard<std::mutex> lock(dongleLock_);
      rememberedPath_ = std::string(utf8Prefix(path, kMaxPathBytes));
    } else {
      // A dongle busy with something else may fail the identity read; a plain DualSense never
      // answers it. Only the path of a dongle seen before tells them apart.
      std::lock_guard<std::mutex> lock(dongleLock_);
      if (rememberedPath_.empty() || !equalsIgnoreCase(path, rememberedPath_)) continue;
      status.present = true;
    }
    accepted = AcceptedInterface{std::move(device), canReadInput, featureLength,
                                 caps.inputReportByteLength};
    break;
  }
  if (!status.present || !poll) return;

  std::uint8_t buffer[kFeatureBufferSize] = {};
  buffer[0] = SIGNAL_REPORT;
  if (accepted.device->getFeature(buffer, accepted.featureLength)) {
    status.signalDbm = static_cast<std::int8_t>(buffer[1]);
  }
  readBattery(accepted, status);
}

bool DongleLink::getDonglePath(std::string& path, bool rediscover) {
  bool needDiscovery = rediscover;
  {
    std::lock_guard<std::mutex> lock(dongleLock_);
    if (rediscover) rememberedPath_.clear();
    needDiscovery = needDiscovery || rememberedPath_.empty();
  }
  if (needDiscovery) {
    DongleStatus scratch;
    discoverDongle(scratch, false);
  }
  std::lock_guard<std::mutex> lock(dongleLock_);
  if (rememberedPath_.empty()) return false;
  path = rememberedPath_;
  return true;
}

DongleChannel DongleLink::openChannel(DongleUse use) {
  switch (use) {
    case DongleUse::FeatureReports:
      if (std::unique_ptr<HidDevice> device = openDongle(HidAccess::ReadWrite, false)) {
        return DongleChannel(std::move(device));
      }
      // Another program holding the pad may deny read and write access; feature reports still
      // pass on a handle without access rights.
      return DongleChannel(openDongle(HidAccess::None, false));
    case DongleUse::OutputReports:
      return DongleChannel(openDongle(HidAccess::ReadWrite, true));
    case DongleUse::InputReports:
      return DongleChannel(openDongle(HidAccess::Read, true));
  }
  return DongleChannel();
}

std::unique_ptr<HidDevice> DongleLink::openDongle(HidAccess access, bool overlapped) {
  std::string path;
  if (!getDonglePath(path, false)) return nullptr;
  if (std::unique_ptr<HidDevice> device = hid_.open(path, access, overlapped)) return device;
  // The remembered path may be stale (the dongle was replugged into another port).
  if (!getDonglePath(path, true)) return nullptr;
  return hid_.open(path, access, overlapped);
}

bool DongleLink::getHidCaps(HidDevice& device, HidCaps& caps) {
  caps = HidCaps{};
  return device.getCaps(caps);
}

std::uint32_t DongleLink::featureReportLength(HidDevice& device) {
  HidCaps caps;
  return getHidCaps(device, caps) ? caps.featureReportByteLength : 0;
}

std::string DongleLink::rememberedPathForTest() {
  std::lock_guard<std::mutex> lock(dongleLock_);
  return rememberedPath_;
}

}  // namespace tw
