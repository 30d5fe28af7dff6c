// Runs the WinUSB adapter's finding and opening against what Wine has: no USB boards at all.
// Prints one line per call, for the Wine test to read:
//   list <what>: ok <count> [<path> | <parent id>]...   or   list <what>: fail
//   open <what>: ok   or   open <what>: fail step=<open|winusb> error=<n>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/win32_usb.h"

namespace {

constexpr const char* kPicobootClass = "{BC7398C1-73CD-4CB7-98B8-913A8FCA7BF6}";
// The HID class: Wine's own devices, if it has any, show what a found entry looks like.
constexpr const char* kHidClass = "{4D1E55B2-F16F-11CF-88CB-001111000030}";

void list(tw::win32::Win32UsbPort& usb, const char* what, const std::string& classGuid,
          std::size_t maxEntries) {
  std::vector<tw::UsbInterfaceEntry> entries{{"stale", "stale"}};
  if (!usb.listInterfaces(classGuid, maxEntries, entries)) {
    std::printf("list %s: fail %zu\n", what, entries.size());
    return;
  }
  std::printf("list %s: ok %zu", what, entries.size());
  for (const tw::UsbInterfaceEntry& entry : entries)
    std::printf(" [%s | %s]", entry.path.c_str(), entry.parentId.c_str());
  std::printf("\n");
}

void open(tw::win32::Win32UsbPort& usb, const char* what, const std::string& path) {
  tw::UsbOpenStep step = tw::UsbOpenStep::WinUsb;
  std::uint32_t error = 0;
  std::unique_ptr<tw::UsbDevice> device = usb.open(path, step, error);
  if (device) {
    std::printf("open %s: ok\n", what);
    return;
  }
  std::printf("open %s: fail step=%s error=%u\n", what,
              step == tw::UsbOpenStep::Open ? "open" : "winusb", static_cast<unsigned>(error));
}

}  // namespace

int wmain() {
  tw::win32::Win32UsbPort usb;
  list(usb, "picoboot", kPicobootClass, 4);
  list(usb, "picoboot lower case", "{bc7398c1-73cd-4cb7-98b8-913a8fca7bf6}", 4);
  list(usb, "hid", kHidClass, 4);
  list(usb, "hid none wanted", kHidClass, 0);
  list(usb, "not a guid", "BC7398C1-73CD-4CB7", 4);
  open(usb, "missing board",
       "\\\\?\\usb#vid_2e8a&pid_000f#E0C9125B0D9B#{bc7398c1-73cd-4cb7-98b8-913a8fca7bf6}");
  open(usb, "empty path", "");
  std::fflush(stdout);
  return 0;
}
