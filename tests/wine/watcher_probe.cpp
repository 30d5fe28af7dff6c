// Runs the firmware side's board watcher through the real Win32 adapters under Wine, built the way
// Tarnwick.exe builds it, for the Wine tests:
//   watcher_probe [pause-ms]...
// One watcher pass at the start and one more after each pause (real time). Before the passes it
// prints what a pass looks at, one "what: value" line each:
//   built-in: <state>                 the image in resource 200, verified as the firmware thread
//   does temp: <path>                      the temporary folder the hands-off marker is looked for
//   in marker: fresh|stale station: yes|no                   the bench tool's window, or its fresh
//   marker picoboot list: ok|fail <n>        the WinUSB adapter's listing of the PICOBOOT class
//   picoboot found: <n>               the same through the system's transport
//   drive: <X:>|none                  findRp2350Drive
//   labelled: <X:> ...                letters isRp2350Drive takes, C: to Z:
// then per pass:
//   pass <n> +<ms>: station=<0|1> present=<0|1> usb=<0|1> drive=<X:> read=<n> seq=<n> why=<text>
//   notice <n>: <information|warning> | <title> | <text>
// The advice after a pass is given as the firmware thread gives it; the thread itself is not
// started, so the passes here are the only ones.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "firmware/built_in_image.h"
#include "flash/firmware_subsystem.h"
#include "flash/picoboot.h"
#include "flash/rp2350_drive.h"
#include "flash/station.h"
#include "platform/win32/cng_signature.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_desktop_shell.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_message_loop.h"
#include "platform/win32/win32_resources.h"
#include "platform/win32/win32_usb.h"
#include "platform/win32/winhttp_https.h"
#include "trusted_release_key.h"

namespace {

void printPass(int number, std::uint64_t sinceStartMs, const tw::FirmwareState& state) {
  const tw::BootBoard& b = state.board;
  std::printf("pass %d +%llu: station=%d present=%d usb=%d drive=%s read=%d seq=%lu why=%s\n",
              number, static_cast<unsigned long long>(sinceStartMs), state.station ? 1 : 0,
              b.present ? 1 : 0, b.usb ? 1 : 0, b.drive.empty() ? "none" : b.drive.c_str(),
              static_cast<int>(b.read), static_cast<unsigned long>(state.firmwareSeq),
              b.why.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The firmware side's ports, as src/main_windows.cpp makes them.
  tw::win32::Win32MessageLoop loop(GetModuleHandleW(nullptr));
  tw::win32::Win32Clock clock;
  tw::win32::Win32DesktopShell shell;
  tw::win32::Win32FileSystem files;
  tw::win32::Win32UsbPort usb;
  tw::win32::Win32HidPort hid;
  tw::DongleLink dongleLink(hid);
  tw::Win32Resources resources;
  // Nothing here checks online; the update host's ports are there because the firmware side has
  // them.
  tw::WinHttpPort https;
  tw::CngSignatureVerifier signatures;
  tw::FirmwareSubsystem firmware(tw::FirmwarePorts{resources, loop, clock, usb, dongleLink, files,
                                                   shell, https, signatures,
                                                   tw::build::kTrustedReleaseKey});

  // What the firmware thread does before its first turn, so that the advice has an offer.
  tw::BuiltInImage image;
  tw::loadBuiltInImage(resources, image);
  firmware.publishBuiltInImage(image);
  std::printf("built-in: %d\n", static_cast<int>(image.builtInState));

  std::string temp;
  files.tempPath(260, temp);
  std::printf("temp: %s\n", temp.c_str());
  std::printf("marker: %s\n", tw::isHandsOffMarkerFresh(files) ? "fresh" : "stale");
  std::printf("station: %s\n", tw::isStationAtWork(shell, files) ? "yes" : "no");

  std::vector<tw::UsbInterfaceEntry> entries;
  const bool listed =
      usb.listInterfaces(tw::kPicobootInterfaceClass, tw::kPicobootMaxInterfaces, entries);
  std::printf("picoboot list: %s %zu\n", listed ? "ok" : "fail", entries.size());
  tw::PicobootInterface found[tw::kPicobootMaxInterfaces];
  std::printf("picoboot found: %d\n",
              tw::findPicobootInterfaces(firmware.picoboot(), found, tw::kPicobootMaxInterfaces));

  std::string drive;
  tw::findRp2350Drive(files, drive);
  std::printf("drive: %s\n", drive.empty() ? "none" : drive.c_str());
  std::printf("labelled:");
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if (tw::isRp2350Drive(files, letter)) std::printf(" %c:", letter);
  }
  std::printf("\n");
  std::fflush(stdout);

  const std::uint64_t start = clock.tickMs();
  for (int pass = 1; pass <= argc; ++pass) {
    if (pass > 1)
      clock.sleepMs(static_cast<std::uint32_t>(std::wcstoul(argv[pass - 1], nullptr, 10)));
    firmware.watchBoards();
    // The rest of the firmware thread's turn: the board's advice when it is due.
    firmware.store().finishWatcherTurn(clock.tickMs());
    printPass(pass, clock.tickMs() - start, firmware.snapshot());
    tw::TrayNotice notice;
    if (firmware.takeNotice(notice)) {
      std::printf("notice %d: %s | %s | %s\n", pass, notice.warning ? "warning" : "information",
                  notice.title.c_str(), notice.text.c_str());
    }
    std::fflush(stdout);
  }
  std::printf("done\n");
  return 0;
}
