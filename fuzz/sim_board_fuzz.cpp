// The simulated board over arbitrary input: flash contents it boots from, and traffic on its
// PICOBOOT interface and its drive. Whatever comes, it must neither crash nor hang, and a
// flash page it reports as programmed must stay inside the flash window.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim/firmware_builder.h"
#include "sim/flash_image_info.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace {

using namespace tw;
using namespace tw::sim;

// Flash contents: the first 4 KB come from the input, the rest erased.
void inspect(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> image(data, data + size);
  image.resize(std::max<std::size_t>(image.size(), 8192), 0xFF);
  FlashImageInfo info = inspectImage(image);
  if (info.program.size() > 63 || info.version.size() > 63) std::abort();
}

// Traffic: each step takes an operation byte and what follows it.
void traffic(const std::uint8_t* data, std::size_t size) {
  VirtualClock clock(0);
  World::Options options;
  options.donglePlugged = false;
  World world(clock, options);
  world.plugBoard(World::BoardSetup::ours());
  std::vector<UsbInterfaceEntry> entries;
  world.usb().listInterfaces(kPicobootInterfaceClass, 1, entries);
  UsbOpenStep step;
  std::uint32_t error = 0;
  auto device = world.usb().open(world.boardPath(), step, error);
  auto writer = world.boardDrive()->create("F.UF2", error);
  std::size_t at = 0;
  while (device && at < size) {
    std::uint8_t op = data[at++];
    std::size_t length = std::min<std::size_t>(size - at, op >> 3);
    const std::uint8_t* body = data + at;
    std::uint32_t done = 0;
    std::uint8_t buffer[512] = {};
    switch (op & 7) {
      case 0: {  // a command block: magic, then the rest from the input
        std::uint8_t block[32] = {0x0b, 0xd1, 0x1f, 0x43};
        std::memcpy(block + 4, body, std::min<std::size_t>(length, 28));
        device->writePipe(0x03, block, 32, done, 200, error);
        break;
      }
      case 1:
        device->writePipe(0x03, body, static_cast<std::uint32_t>(length), done, 200, error);
        break;
      case 2:
        device->readPipe(0x84, buffer, 1 + static_cast<std::uint32_t>(length) * 16, done, 200,
                         error);
        break;
      case 3:
        if (length >= 8) {
          UsbSetupPacket setup{body[0], body[1], std::uint16_t(body[2] | body[3] << 8),
                               std::uint16_t(body[4] | body[5] << 8),
                               std::uint16_t((body[6] | body[7] << 8) % 64)};
          device->controlTransfer(setup, buffer, done, error);
        }
        break;
      case 4:
        device->resetPipe(op & 0x80 ? 0x84 : 0x03, error);
        break;
      case 5:
        if (writer) {
          std::size_t written = 0;
          std::memcpy(buffer, body, length);
          writer->write(buffer, 512, written, error);
        }
        break;
      case 6:
        clock.sleepMs(op);
        world.update();
        break;
      default:
        device->setPipePolicy(0x84, UsbPipePolicy::PipeTransferTimeout, op, error);
        break;
    }
    at += length;
  }
  for (const FlashOperation& flashOp : world.board().counters().flashLog) {
    if (flashOp.address < 0x10000000 || flashOp.address >= 0x12000000) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    inspect(data + 1, size - 1);
  } else {
    traffic(data + 1, size - 1);
  }
  return 0;
}
