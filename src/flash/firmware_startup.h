// The firmware side as far as it is built: its thread verifies the built-in firmware image at
// start, publishes the result, and then waits for work that does not exist yet (700 ms per turn,
// as the firmware thread will). There is no release check or firmware job yet, so the tray sees
// an idle firmware subsystem. The full firmware subsystem takes this class's place.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "firmware/built_in_image.h"
#include "flash/firmware_service.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/resources.h"

namespace tw {

class FirmwareStartup : public FirmwareService {
 public:
  FirmwareStartup(Resources& resources, MessageLoop& loop, Clock& clock)
      : resources_(resources), loop_(loop), clock_(clock) {}
  ~FirmwareStartup() override { firmwareStop(); }

  void firmwareStart(WindowId trayWindow) override;
  void firmwareStop() override;
  void reportDongle(bool, const std::string&) override {}
  bool isFirmwareBusy() override { return false; }
  bool isBoardInUpdateMode() override { return false; }
  bool jobTrayText(std::string&) override { return false; }
  bool offeredUpdate(std::string&) override { return false; }
  bool takeNotice(TrayNotice&) override { return false; }
  bool startFirmwareAction(const std::string&, bool, std::string& error) override;
  void requestUpdateCheck() override {}

  // The built-in image as published (state 0 until the thread has looked).
  BuiltInImage builtInImage();
  std::uint32_t firmwareSeq();
  // Turns the thread has waited through (for tests).
  std::uint32_t turns() const { return turns_.load(); }

  static constexpr std::uint32_t kTurnWaitMs = 700;
  static constexpr std::uint32_t kStopWaitMs = 4000;

 private:
  void threadMain();

  Resources& resources_;
  MessageLoop& loop_;
  Clock& clock_;
  std::mutex firmwareLock_;
  BuiltInImage builtIn_;
  std::uint32_t firmwareSeq_ = 1;
  WindowId trayWindow_ = 0;
  std::atomic<bool> stopFlag_{false};
  std::atomic<std::uint32_t> turns_{0};
  std::unique_ptr<ClockEvent> wakeEvent_;
  std::unique_ptr<ClockThread> thread_;
};

}  // namespace tw
