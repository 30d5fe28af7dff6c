// A firmware side on the simulated world and virtual time, for the job's and the state document's
// tests: the subsystem with a job body of the test's choosing, a tray window that records what is
// posted to it, and small job bodies that wait, report, fail and succeed.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "built_in_firmware.h"
#include "firmware/update_host.h"
#include "flash/firmware_subsystem.h"
#include "platform/host/embedded_resources.h"
#include "platform/host/openssl_signature.h"
#include "platform/host/queue_message_loop.h"
#include "sim/sim_desktop_shell.h"
#include "sim/sim_file_system.h"
#include "sim/sim_releases.h"
#include "sim/uf2_drive_volume.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"
#include "trusted_release_key.h"

namespace tw::test {

// What the firmware side posted to the tray window, in order.
class PostRecorder : public WindowHandler {
 public:
  LResult onMessage(WindowId, std::uint32_t message, WParam wParam, LParam) override {
    if (message == WM_APP_FIRMWARE) kinds.push_back(wParam);
    return 0;
  }
  std::vector<WParam> kinds;
};

// A job body made of a function, so that each test says what its job does.
class ScriptedJob : public FirmwareJobBody {
 public:
  using Script = std::function<FirmwareJobEnding(FirmwareJobContext&, const FirmwareRequest&)>;
  ScriptedJob() = default;
  explicit ScriptedJob(Script script) : script(std::move(script)) {}
  FirmwareJobEnding runFirmwareJob(FirmwareJobContext& job,
                                   const FirmwareRequest& request) override {
    {
      std::lock_guard<std::mutex> lock(seenLock);
      requests.push_back(request);
    }
    return script(job, request);
  }
  Script script;
  std::mutex seenLock;
  std::vector<FirmwareRequest> requests;
};

// A job that reports a downloading step and waits `waitMs` in it; cancelled when the wait says so,
// otherwise an install that ends ok on 0.9.3.
inline ScriptedJob::Script waitingJob(std::uint32_t waitMs) {
  return [waitMs](FirmwareJobContext& job, const FirmwareRequest&) {
    job.setProgress(JobPhase::Download, 5, "Downloading firmware\xE2\x80\xA6 40%%");
    job.setDetail("It takes a moment.");
    if (!job.cancellableWait(waitMs)) return FirmwareJobEnding::cancelled();
    return FirmwareJobEnding::ok("0.9.3", "Firmware 0.9.3 is on.", true,
                                 " Turn your controller on to use it.");
  };
}

// Flash bytes that read as erased.
inline bool allErased(const std::vector<std::uint8_t>& bytes) {
  for (std::uint8_t b : bytes) {
    if (b != 0xFF) return false;
  }
  return true;
}

inline sim::World::Options worldWithoutDongle() {
  sim::World::Options options;
  options.donglePlugged = false;
  return options;
}

struct FirmwareFixture {
  explicit FirmwareFixture(FirmwareJobBody* body = nullptr, bool withBuiltInImage = true)
      : world(clock, worldWithoutDongle()),
        files(clock),
        loop(clock),
        firmware(FirmwarePorts{resources, loop, clock, world.usb(), dongle, files, desktop,
                               updateHost, signatures, build::kTrustedReleaseKey},
                 FirmwareOptions{"1.2.0", body}) {
    if (withBuiltInImage) {
      resources.add(kResourceBuiltInFirmware, builtInFirmwareImage, builtInFirmwareImageSize);
    }
    window = loop.createHiddenWindow("TarnwickBridgeTrayWnd", "Tarnwick Bridge", &tray);
    sim::mountBoardDrive(world, files);
  }
  ~FirmwareFixture() { firmware.firmwareStop(); }

  // What the firmware thread does first, for tests that run no thread: the built-in image verified.
  void verifyBuiltIn() {
    BuiltInImage image;
    loadBuiltInImage(resources, image);
    firmware.publishBuiltInImage(image);
  }
  // Lets the firmware thread take its turns for `ms` of virtual time, then hands its posts to the
  // tray.
  void run(std::uint32_t ms) {
    clock.sleepMs(ms);
    loop.dispatchPending();
  }
  // Copies of the record, the request and the board, from one consistent copy of the state.
  FirmwareJob job() { return firmware.snapshot().job; }
  bool queued() { return firmware.snapshot().request.queued; }
  BootBoard board() { return firmware.snapshot().board; }
  std::vector<TrayNotice> notices() {
    std::vector<TrayNotice> taken;
    TrayNotice notice;
    while (firmware.takeNotice(notice)) taken.push_back(notice);
    return taken;
  }
  std::string document() {
    std::string text(FIRMWARE_STATE_DOCUMENT_CAPACITY, '\0');
    if (!firmware.writeFirmwareState(text.data(), text.size())) return "(incomplete)";
    text.resize(text.find('\0'));
    return text;
  }
  static constexpr std::size_t FIRMWARE_STATE_DOCUMENT_CAPACITY = 16384;

  sim::VirtualClock clock;
  sim::World world;
  DongleLink dongle{world.hid()};
  sim::SimFileSystem files;
  sim::SimDesktopShell desktop;
  QueueMessageLoop loop;
  PostRecorder tray;
  WindowId window = 0;
  EmbeddedResources resources;
  // The update host publishes nothing until a test does.
  sim::SimUpdateHost updateHost{UpdateHost};
  sim::SimReleases releases{updateHost, clock, UpdateHost};
  OpenSslSignatureVerifier signatures;
  FirmwareSubsystem firmware;
};

}  // namespace tw::test
