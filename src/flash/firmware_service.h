// What the firmware side offers the rest of the program: the tray reads its state and notices,
// the panel starts its actions. The tray and the panel depend on this, never the reverse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/window_messages.h"

namespace tw {

// A balloon the firmware side leaves for the tray.
struct TrayNotice {
  std::string title;  // at most 63 characters
  std::string text;   // at most 255 characters
  bool warning = false;
};

class FirmwareService {
 public:
  virtual ~FirmwareService() = default;
  // Remembers the window that firmware threads post to and starts the firmware thread.
  virtual void firmwareStart(WindowId trayWindow) = 0;
  // Asks the firmware thread to stop and waits for it at most 4000 ms.
  virtual void firmwareStop() = 0;
  // The running dongle's presence and firmware text after every poll.
  virtual void reportDongle(bool present, const std::string& firmware) = 0;
  virtual bool isFirmwareBusy() = 0;
  virtual bool isBoardInUpdateMode() = 0;
  // True with the job's one-line description while a job is queued or running.
  virtual bool jobTrayText(std::string& line) = 0;
  // True with the version ready to install on the connected dongle.
  virtual bool offeredUpdate(std::string& version) = 0;
  // Takes the pending notice, if any; a notice is shown at most once.
  virtual bool takeNotice(TrayNotice& notice) = 0;
  // Queues a firmware action; false with a one-sentence reason when refused.
  virtual bool startFirmwareAction(const std::string& action, bool confirm, std::string& error) = 0;
  // Drops a queued request, or asks a running job to stop when it can.
  virtual void cancelFirmwareJob() = 0;
  // Forgets a finished job's outcome; nothing while a job is active or queued.
  virtual void dismissFirmwareResult() = 0;
  // Asks for a release-list check whose result is announced as a notice; returns at once.
  virtual void requestUpdateCheck() = 0;
  // The change counter of the firmware state: it moves whenever the state document would change.
  virtual std::uint32_t firmwareSeq() = 0;
  // The state document as one JSON text in `buffer` (`capacity` bytes, terminator included).
  // False when it did not fit: the buffer then holds a cut-off text that must not be sent.
  virtual bool writeFirmwareState(char* buffer, std::size_t capacity) = 0;
};

// A firmware side with nothing to do: for programs and tests that need none.
class IdleFirmware : public FirmwareService {
 public:
  void firmwareStart(WindowId) override {}
  void firmwareStop() override {}
  void reportDongle(bool, const std::string&) override {}
  bool isFirmwareBusy() override { return false; }
  bool isBoardInUpdateMode() override { return false; }
  bool jobTrayText(std::string&) override { return false; }
  bool offeredUpdate(std::string&) override { return false; }
  bool takeNotice(TrayNotice&) override { return false; }
  bool startFirmwareAction(const std::string&, bool, std::string& error) override {
    error = "Firmware updates aren't available in this version of the app.";
    return false;
  }
  void cancelFirmwareJob() override {}
  void dismissFirmwareResult() override {}
  void requestUpdateCheck() override {}
  std::uint32_t firmwareSeq() override { return 1; }
  bool writeFirmwareState(char* buffer, std::size_t capacity) override {
    static constexpr char kNothing[] = "{\"seq\":1}";
    if (capacity < sizeof kNothing) return false;
    std::memcpy(buffer, kNothing, sizeof kNothing);
    return true;
  }
};

}  // namespace tw
