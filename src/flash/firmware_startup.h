// The firmware side as far as it is built: at start its thread verifies the built-in firmware
// image and publishes the result; there is no release check or firmware job yet, so the tray sees
// an idle firmware subsystem. The full firmware subsystem takes this class's place.
#pragma once

#include <cstdint>
#include <mutex>
#include <thread>

#include "app/tray_services.h"
#include "firmware/built_in_image.h"
#include "platform/message_loop.h"
#include "platform/resources.h"

namespace tw {

class FirmwareStartup : public FirmwareService {
 public:
  FirmwareStartup(Resources& resources, MessageLoop& loop) : resources_(resources), loop_(loop) {}
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

 private:
  void threadMain();

  Resources& resources_;
  MessageLoop& loop_;
  std::mutex firmwareLock_;
  BuiltInImage builtIn_;
  std::uint32_t firmwareSeq_ = 1;
  WindowId trayWindow_ = 0;
  std::thread thread_;
};

}  // namespace tw
