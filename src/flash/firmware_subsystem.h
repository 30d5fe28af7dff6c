// The firmware side: its state (a FirmwareStore, behind the firmware lock), and the firmware
// thread, which verifies the built-in image at start and then, turn by turn (woken at once or after
// 700 ms), runs a queued firmware job or watches for boards in update mode, gives their advice and
// starts the release-list check when the schedule says so. The check runs on a short-lived thread
// of its own, one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/thread_safety.h"
#include "dongle/dongle_link.h"
#include "firmware/fetch_firmware.h"
#include "flash/firmware_job_context.h"
#include "flash/firmware_service.h"
#include "flash/firmware_state.h"
#include "flash/firmware_store.h"
#include "flash/picoboot.h"
#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/desktop_shell.h"
#include "platform/file_system.h"
#include "platform/https.h"
#include "platform/message_loop.h"
#include "platform/resources.h"
#include "platform/usb.h"

namespace tw {

struct FirmwarePorts {
  Resources& resources;
  MessageLoop& loop;
  Clock& clock;
  UsbPort& usb;
  DongleLink& dongle;  // the running dongle, for switching it over and seeing it come back
  FileSystem& files;
  DesktopShell& desktop;
  HttpsPort& https;
  SignatureVerifier& signatures;
  const std::uint8_t* releaseKey;  // the 72-byte "ECS1" blob of the release key this build trusts
};

struct FirmwareOptions {
  std::string appVersion;  // this program's version, for the state document
  // What a job does once it has begun; without one, the install pipeline.
  FirmwareJobBody* jobBody = nullptr;
};

class FirmwareSubsystem : public FirmwareService {
 public:
  explicit FirmwareSubsystem(FirmwarePorts ports, FirmwareOptions options = {});
  ~FirmwareSubsystem() override;
  FirmwareSubsystem(const FirmwareSubsystem&) = delete;
  FirmwareSubsystem& operator=(const FirmwareSubsystem&) = delete;

  void firmwareStart(WindowId trayWindow) override;
  void firmwareStop() override;
  void reportDongle(bool present, const std::string& firmware) override;
  bool isFirmwareBusy() override;
  bool isBoardInUpdateMode() override;
  bool jobTrayText(std::string& line) override;
  bool offeredUpdate(std::string& version) override;
  bool takeNotice(TrayNotice& notice) override;
  bool startFirmwareAction(const std::string& action, bool confirm, std::string& error) override;
  void cancelFirmwareJob() override;
  void dismissFirmwareResult() override;
  void requestUpdateCheck() override;
  std::uint32_t firmwareSeq() override;
  bool writeFirmwareState(char* buffer, std::size_t capacity) override;

  // One job from beginning to end on the calling thread (the firmware thread's, exposed for
  // tests): begins it, runs the body, writes its ending.
  void runFirmwareJob(const FirmwareRequest& request);

  // Starts the check thread unless a check is running.
  void startCheck();
  // One complete release-list check. The check thread's body; the firmware job calls it directly
  // after claiming the check itself.
  void runCheck();
  // A release's UF2 file, from the cache or downloaded, checked and signed; on the firmware
  // thread, without the lock.
  bool fetchRelease(const ReleaseInfo& release, FetchedBytes& data, std::size_t& size,
                    std::string& reason, const FirmwareFetchProgress& progress = {});

  // The built-in image has been checked: it is published, and a dongle already reported hears of
  // it now (the firmware thread's first step, exposed for tests).
  void publishBuiltInImage(const BuiltInImage& image);

  // One watcher pass; the firmware thread's, exposed for tests.
  void watchBoards();
  // A consistent copy of the whole firmware state.
  FirmwareState snapshot() const { return store_.snapshot(); }
  // The state's owner, for arranging a state through its named operations.
  FirmwareStore& store() { return store_; }
  const PicobootPorts& picoboot() const { return picoboot_; }

  static constexpr std::uint32_t kTurnWaitMs = 700;
  static constexpr std::uint32_t kStopWaitMs = 4000;

 private:
  void threadMain();
  void takeTurn();
  // The body and ending of a job that has begun.
  void runBegunJob(const FirmwareRequest& request);
  void postToTray(WParam kind);
  void checkThreadMain();

  FirmwarePorts ports_;
  PicobootPorts picoboot_;
  FirmwareOptions options_;
  std::atomic<WindowId> trayWindow_{0};
  FirmwareStore store_;
  std::unique_ptr<FirmwareJobBody> pipeline_;
  std::atomic<bool> stopFlag_{false};
  std::unique_ptr<ClockEvent> wakeEvent_;
  std::unique_ptr<ClockThread> thread_;
  Mutex checkThreadLock_;
  std::unique_ptr<ClockThread> checkThread_ TW_GUARDED_BY(checkThreadLock_);
};

}  // namespace tw
