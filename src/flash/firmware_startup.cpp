#include "flash/firmware_startup.h"

#include "app/tray_ids.h"

namespace tw {

void FirmwareStartup::firmwareStart(WindowId trayWindow) {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(firmwareLock_);
    trayWindow_ = trayWindow;
  }
  thread_ = std::thread([this] { threadMain(); });
}

void FirmwareStartup::firmwareStop() {
  // The one step the thread takes is short and bounded (a digest over 2.5 MB).
  if (thread_.joinable()) thread_.join();
}

void FirmwareStartup::threadMain() {
  // Verify without the lock (it reads 2.5 MB); publish the result under it.
  BuiltInImage image;
  loadBuiltInImage(resources_, image);
  WindowId window;
  {
    std::lock_guard<std::mutex> lock(firmwareLock_);
    builtIn_ = image;
    ++firmwareSeq_;
    window = trayWindow_;
  }
  // Posted only after the lock is released, so the tray never waits on firmware state.
  if (window != 0) loop_.postMessage(window, WM_APP_FIRMWARE, FW_CHANGED, 0);
}

bool FirmwareStartup::startFirmwareAction(const std::string&, bool, std::string& error) {
  error = "Firmware updates aren't available in this version of the app.";
  return false;
}

BuiltInImage FirmwareStartup::builtInImage() {
  std::lock_guard<std::mutex> lock(firmwareLock_);
  return builtIn_;
}

std::uint32_t FirmwareStartup::firmwareSeq() {
  std::lock_guard<std::mutex> lock(firmwareLock_);
  return firmwareSeq_;
}

}  // namespace tw
