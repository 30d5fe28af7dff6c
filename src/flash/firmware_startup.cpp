#include "flash/firmware_startup.h"

namespace tw {

void FirmwareStartup::firmwareStart(WindowId trayWindow) {
  if (thread_) return;
  {
    std::lock_guard<std::mutex> lock(firmwareLock_);
    trayWindow_ = trayWindow;
  }
  // Without an event or a thread the firmware side simply does nothing.
  wakeEvent_ = clock_.createEvent(EventReset::Auto, false);
  if (!wakeEvent_) return;
  thread_ = clock_.startThread([this] { threadMain(); });
}

void FirmwareStartup::firmwareStop() {
  if (!thread_) return;
  stopFlag_.exchange(true);
  wakeEvent_->set();
  // A thread that does not end in time is let go; the process is about to end anyway.
  thread_->join(kStopWaitMs);
  thread_.reset();
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
  while (!stopFlag_.load()) {
    wakeEvent_->wait(kTurnWaitMs);
    if (stopFlag_.load()) break;
    turns_.fetch_add(1);
  }
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
