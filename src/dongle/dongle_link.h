// Finding the running dongle among the HID interfaces, reading its identity, signal and the
// controller's battery, and opening it for the other subsystems.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "dongle/dongle_channel.h"
#include "dongle/dongle_status.h"
#include "platform/hid.h"

namespace tw {

// What a channel to the dongle is opened for; each use asks for the access it needs.
enum class DongleUse {
  FeatureReports,  // read and write access, or none when another program denies that
  OutputReports,   // read and write access, overlapped
  InputReports,    // read access, overlapped
};

class DongleLink {
 public:
  explicit DongleLink(HidPort& hid) : hid_(hid) {}

  // Fills `status`. With `poll` false it only decides which interface is the dongle and updates
  // the remembered path; with `poll` true it also reads signal and battery.
  void discoverDongle(DongleStatus& status, bool poll);

  // Copies the remembered dongle path (at most 511 bytes) into `path`; false when no dongle is
  // known. `rediscover` forgets the remembered path and runs discovery first; otherwise discovery
  // runs only when nothing is remembered.
  bool getDonglePath(std::string& path, bool rediscover);

  // Opens the dongle by its known path; if that open fails, rediscovers once and tries again.
  // nullptr when no dongle is known or both attempts fail.
  std::unique_ptr<HidDevice> openDongle(HidAccess access, bool overlapped);

  // Opens the dongle (as openDongle does) for `use` and reads its capabilities. A channel that
  // did not open ends every exchange NotOpen.
  DongleChannel openChannel(DongleUse use);

  // HIDP_CAPS of an open device (zeroed first); false unless HidP_GetCaps succeeded.
  static bool getHidCaps(HidDevice& device, HidCaps& caps);
  // FeatureReportByteLength, 0 on failure.
  static std::uint32_t featureReportLength(HidDevice& device);

  // The remembered path as it stands (for tests and diagnostics).
  std::string rememberedPathForTest();

 private:
  HidPort& hid_;
  std::mutex dongleLock_;       // guards rememberedPath_ only; never held across device I/O
  std::string rememberedPath_;  // path of the last dongle that answered its identity report
};

}  // namespace tw
