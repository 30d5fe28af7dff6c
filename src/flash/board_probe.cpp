#include "flash/board_probe.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "firmware/firmware_image.h"
#include "firmware/program_info.h"

namespace tw {
namespace {

bool heldByAnotherProgram(std::uint32_t error) {
  return error == USB_ERROR_ACCESS_DENIED || error == USB_ERROR_SHARING_VIOLATION ||
         error == USB_ERROR_BUSY;
}

std::string failureLine(const PicobootDevice& device) {
  char line[kFailureTextCapacity];
  describeFailure(device, line, sizeof line);
  return line;
}

// The rest of the probe once the board is open; the caller closes it.
BoardRead probeOpenBoard(PicobootDevice& device, std::string& program, std::string& version,
                         bool& blank, std::string& why) {
  std::unique_ptr<FlashPageReader> reader(new (std::nothrow) FlashPageReader);
  if (!reader) return BoardRead::Failed;
  reader->device = &device;

  // The board may be taking someone's own UF2 copy through its drive, and the interface reset
  // would drop the block being written; recover only an interface that another program left
  // stuck. A stale state the check cannot see fails the first command, whose recovery resets the
  // interface; the command is then tried once more.
  bool reset = interfaceNeedsReset(device);
  if (reset && !resetInterface(device)) {
    why = failureLine(device);
    return BoardRead::Failed;
  }
  if (!exitXip(device) && (reset || !exitXip(device))) {
    why = failureLine(device);
    return BoardRead::Failed;
  }

  char programText[kProbeNameCapacity], versionText[kProbeNameCapacity];
  int info = readProgramInfo(readFlashCached, reader.get(), programText, sizeof programText,
                             versionText, sizeof versionText);
  // A board that stopped answering halfway through is not a board without a name.
  if (info == 1 && reader->usbFailed) info = -1;
  if (info == 1) {
    program = programText;
    version = versionText;
    return BoardRead::Read;
  }
  if (info < 0) {
    why = failureLine(device);
    return BoardRead::Failed;
  }

  // No program information: tell an erased board from one running something foreign. The first
  // page is usually still in the cache from the search above.
  std::uint8_t first[kFlashSectorSize];
  if (!readFlashCached(reader.get(), kFlashStart, first, sizeof first)) {
    why = failureLine(device);
    return BoardRead::Failed;
  }
  blank = std::all_of(first, first + sizeof first, [](std::uint8_t b) { return b == 0xFF; });
  return BoardRead::Read;
}

}  // namespace

bool readFlashCached(void* context, std::uint32_t address, void* buffer, std::size_t length) {
  auto* reader = static_cast<FlashPageReader*>(context);
  auto* out = static_cast<std::uint8_t*>(buffer);
  // 64 bits so that a request running past the top of the address space meets the window's end
  // instead of wrapping round to its start.
  std::uint64_t current = address;
  while (length > 0) {
    std::uint64_t page = current & ~std::uint64_t(kFlashPageReaderPage - 1);
    if (page < kFlashStart || page > kFlashLast) return false;
    if (!reader->valid || reader->pageAddress != page) {
      if (!readFlash(*reader->device, std::uint32_t(page), reader->page, kFlashPageReaderPage)) {
        reader->valid = false;
        reader->usbFailed = true;
        return false;
      }
      reader->pageAddress = std::uint32_t(page);
      reader->valid = true;
    }
    std::size_t offset = std::size_t(current - page);
    std::size_t count = std::min<std::size_t>(kFlashPageReaderPage - offset, length);
    std::memcpy(out, reader->page + offset, count);
    out += count;
    current += count;
    length -= count;
  }
  return true;
}

BoardRead probeBoard(const PicobootPorts& ports, const std::string& path, std::string& program,
                     std::string& version, bool& blank, std::string& why) {
  program.clear();
  version.clear();
  blank = false;
  why.clear();
  PicobootDevice device;
  if (!openPicoboot(ports, device, path)) {
    why = failureLine(device);
    return heldByAnotherProgram(device.windowsError) ? BoardRead::Busy : BoardRead::Failed;
  }
  BoardRead result = probeOpenBoard(device, program, version, blank, why);
  closePicoboot(device);
  return result;
}

}  // namespace tw
