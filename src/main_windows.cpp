// Tarnwick.exe: builds the Windows adapters and the system's objects once, wires them together
// and runs the tray for the life of the process.
#include <windows.h>

#include "app/stand_ins.h"
#include "app/tray_app_impl.h"
#include "dongle/dongle_link.h"
#include "flash/firmware_startup.h"
#include "platform/win32/utf16.h"
#include "platform/win32/win32_desktop.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_message_loop.h"
#include "platform/win32/win32_resources.h"
#include "platform/win32/win32_tray.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  tw::win32::Win32MessageLoop loop(instance);
  tw::win32::Win32Tray tray(instance);
  tw::win32::Win32Desktop desktop;
  tw::win32::Win32HidPort hid;
  tw::DongleLink dongleLink(hid);

  tw::NoPanelServer server;
  tw::NoPanelLauncher launcher;
  tw::Win32Resources resources;
  tw::FirmwareStartup firmware(resources, loop);
  tw::NoStartWithWindows startWithWindows;

  tw::TrayApp app(tw::TrayAppConfig{.versionText = TW_VERSION_TEXT,
                                    .commandLine = tw::win32::toUtf8(GetCommandLineW())},
                  tw::TrayAppPorts{loop, tray, desktop}, dongleLink,
                  tw::TrayAppServices{server, launcher, firmware, startWithWindows});
  return app.run();
}
