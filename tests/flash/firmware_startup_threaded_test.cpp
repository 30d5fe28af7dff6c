#include "flash/firmware_startup.h"

#include <gtest/gtest.h>

#include "built_in_firmware.h"
#include "platform/host/embedded_resources.h"
#include "platform/host/queue_message_loop.h"
#include "sim/virtual_clock.h"

namespace tw {
namespace {

class Recorder : public WindowHandler {
 public:
  LResult onMessage(WindowId, std::uint32_t message, WParam wParam, LParam) override {
    if (message == WM_APP_FIRMWARE && wParam == FW_CHANGED) ++changes;
    return 0;
  }
  int changes = 0;
};

TEST(FirmwareStartupThreaded, VerifiesTheBuiltInImageAndTellsTheTray) {
  sim::VirtualClock clock;
  QueueMessageLoop loop(clock);
  Recorder tray;
  WindowId window = loop.createHiddenWindow("TarnwickBridgeTrayWnd", "Tarnwick Bridge", &tray);
  EmbeddedResources resources;
  resources.add(kResourceBuiltInFirmware, builtInFirmwareImage, builtInFirmwareImageSize);

  FirmwareStartup firmware(resources, loop, clock);
  EXPECT_EQ(firmware.builtInImage().builtInState, 0);
  firmware.firmwareStart(window);
  firmware.firmwareStop();
  loop.dispatchPending();

  EXPECT_EQ(firmware.builtInImage().builtInState, 1);
  EXPECT_EQ(firmware.builtInImage().size, 2594816u);
  EXPECT_EQ(firmware.firmwareSeq(), 2u);
  EXPECT_EQ(tray.changes, 1);
}

TEST(FirmwareStartupThreaded, AMissingImageIsPublishedAsFailed) {
  sim::VirtualClock clock;
  QueueMessageLoop loop(clock);
  EmbeddedResources none;
  FirmwareStartup firmware(none, loop, clock);
  firmware.firmwareStart(0);  // no tray window known: nothing is posted
  firmware.firmwareStop();
  EXPECT_EQ(firmware.builtInImage().builtInState, -1);
  std::string reason;
  EXPECT_FALSE(firmware.startFirmwareAction("update", false, reason));
  EXPECT_FALSE(reason.empty());
}

TEST(FirmwareStartupThreaded, WaitsInTurnsOnTheClockAndStopsWithinItsBound) {
  sim::VirtualClock clock(0);
  QueueMessageLoop loop(clock);
  EmbeddedResources resources;
  resources.add(kResourceBuiltInFirmware, builtInFirmwareImage, builtInFirmwareImageSize);
  FirmwareStartup firmware(resources, loop, clock);
  firmware.firmwareStart(0);
  clock.sleepMs(10 * FirmwareStartup::kTurnWaitMs + 350);
  EXPECT_EQ(firmware.turns(), 10u);
  firmware.firmwareStop();
  EXPECT_EQ(clock.tickMs(), 10 * FirmwareStartup::kTurnWaitMs + 350);  // woken, not waited out
}

}  // namespace
}  // namespace tw
