// What each operation of an idle Tarnwick.exe costs under Wine, through the real Win32 adapters:
//   idle_ops_probe <calls> [wineserver-pid]
// Runs every operation the 2-second poll and the firmware thread's turn make, <calls> times each,
// and prints one line per operation:
//   op <name>: calls=<n> program_us=<per call> server_us=<per call> wall_us=<per call>
// program_us is this process's CPU time (user and system, all threads, GetProcessTimes),
// server_us that of wineserver (when its Linux process id is given), read from Linux's /proc
// through Wine's Z: drive as tools/idle_cost.sh reads it from outside.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dongle/dongle_link.h"
#include "flash/board_watcher.h"
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
#include "platform/win32/winsock_sockets.h"
#include "trusted_release_key.h"

namespace {

// This process's user and kernel time, in microseconds.
double programUs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto units = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(units(kernel) + units(user)) / 10.0;
}

// utime + stime of a Linux process, in clock ticks; 0 when it cannot be read. (wineserver opens
// files for its clients, so Z:\proc\self would name wineserver, not this process.)
unsigned long long cpuTicks(const std::string& statPath) {
  std::FILE* file = std::fopen(statPath.c_str(), "rb");
  if (file == nullptr) return 0;
  char text[1024] = {};
  const std::size_t got = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[got] = '\0';
  // Fields after the parenthesised command name; utime and stime are the 12th and 13th of them.
  const char* rest = std::strrchr(text, ')');
  if (rest == nullptr) return 0;
  rest += 2;
  unsigned long long fields[13] = {};
  for (int i = 0; i < 13 && *rest != '\0'; ++i) {
    char* end = nullptr;
    fields[i] = std::strtoull(rest, &end, 10);
    if (end == rest) {  // the state letter
      while (*rest != ' ' && *rest != '\0') ++rest;
    } else {
      rest = end;
    }
    while (*rest == ' ') ++rest;
  }
  return fields[11] + fields[12];
}

struct Meter {
  std::string serverStat;
  long ticksPerSecond = 100;  // Linux's USER_HZ

  void run(const char* name, int calls, const std::function<void()>& operation) const {
    const double program0 = programUs();
    const unsigned long long server0 = serverStat.empty() ? 0 : cpuTicks(serverStat);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < calls; ++i) operation();
    QueryPerformanceCounter(&end);
    const double program1 = programUs();
    const unsigned long long server1 = serverStat.empty() ? 0 : cpuTicks(serverStat);
    const double usPerTick = 1e6 / static_cast<double>(ticksPerSecond);
    std::printf("op %s: calls=%d program_us=%.0f server_us=%.0f wall_us=%.0f\n", name, calls,
                (program1 - program0) / calls,
                static_cast<double>(server1 - server0) * usPerTick / calls,
                static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                    static_cast<double>(frequency.QuadPart) / calls);
    std::fflush(stdout);
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int calls = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 200;
  Meter meter;
  if (argc > 2)
    meter.serverStat = "Z:\\proc\\" + std::to_string(std::wcstoul(argv[2], nullptr, 10)) + "\\stat";

  // The ports as src/main_windows.cpp makes them.
  tw::win32::Win32MessageLoop loop(GetModuleHandleW(nullptr));
  tw::win32::Win32Clock clock;
  tw::win32::Win32DesktopShell shell;
  tw::win32::Win32FileSystem files;
  tw::win32::Win32UsbPort usb;
  tw::win32::Win32HidPort hid;
  tw::DongleLink dongleLink(hid);
  tw::Win32Resources resources;
  tw::WinHttpPort https;
  tw::CngSignatureVerifier signatures;
  tw::FirmwareSubsystem firmware(tw::FirmwarePorts{resources, loop, clock, usb, dongleLink, files,
                                                   shell, https, signatures,
                                                   tw::build::kTrustedReleaseKey});
  files.addErrorMode(tw::ERROR_MODE_FAIL_CRITICAL_ERRORS | tw::ERROR_MODE_NO_OPEN_FILE_ERROR_BOX);

  // The tray poll.
  meter.run("hid-list", calls, [&] {
    std::vector<std::string> paths;
    hid.listInterfaces(paths);
  });
  meter.run("dongle-poll", calls, [&] {
    tw::DongleStatus status;
    dongleLink.discoverDongle(status, true);
  });

  // The watcher pass, piece by piece.
  meter.run("usb-list", calls, [&] {
    tw::PicobootInterface found[tw::kPicobootMaxInterfaces];
    tw::findPicobootInterfaces(firmware.picoboot(), found, tw::kPicobootMaxInterfaces);
  });
  meter.run("logical-drives", calls, [&] { files.logicalDrives(); });
  meter.run("drive-types", calls, [&] {
    const std::uint32_t drives = files.logicalDrives();
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
      if ((drives >> (letter - 'A')) & 1u) files.driveType(std::string(1, letter) + ":\\");
    }
  });
  meter.run("drive-labels", calls, [&] {
    const std::uint32_t drives = files.logicalDrives();
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
      std::string label;
      if ((drives >> (letter - 'A')) & 1u)
        files.volumeLabel(std::string(1, letter) + ":\\", 64, label);
    }
  });
  meter.run("drive-find", calls, [&] {
    std::string drive;
    tw::findRp2350Drive(files, drive);
  });
  meter.run("window-walk", calls, [&] {
    // Every top-level window with its title read, as the station test once looked.
    bool found = false;
    shell.enumerateWindows([&](const tw::TopWindow& window) {
      found = window.title == tw::kBenchToolWindowTitle;
      return !found;
    });
  });
  meter.run("window-find", calls, [&] { shell.findWindowByTitle(tw::kBenchToolWindowTitle); });
  meter.run("marker", calls, [&] { tw::isHandsOffMarkerFresh(files); });
  meter.run("watch-pass", calls, [&] { firmware.watchBoards(); });

  // What every turn and every poll cost besides: a timed wait that runs out, and a posted
  // message that wakes the UI thread.
  std::unique_ptr<tw::ClockEvent> event = clock.createEvent(tw::EventReset::Auto, false);
  meter.run("timed-wait-1ms", calls, [&] { event->wait(1); });
  HWND window = CreateWindowExW(0, L"STATIC", L"idle probe", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  meter.run("post-and-take", calls, [&] {
    PostMessageW(window, WM_APP + 2, 2, 0);
    MSG message;
    GetMessageW(&message, nullptr, 0, 0);
    DispatchMessageW(&message);
  });
  DestroyWindow(window);

  // The panel server's accept thread, waking to look for a stop: one accept wait that runs out.
  tw::WinsockSockets sockets;
  std::unique_ptr<tw::ListeningSocket> listener;
  if (sockets.startup()) listener = sockets.createListener();
  if (listener && listener->bindLoopback(0) && listener->listen(8)) {
    meter.run("accept-wait-1ms", calls, [&] {
      std::unique_ptr<tw::SocketConnection> connection;
      listener->accept(1, connection);
    });
  }
  std::printf("done\n");
  return 0;
}
