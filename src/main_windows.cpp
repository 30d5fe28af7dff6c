// Tarnwick.exe: builds the Windows adapters and the system's objects once, wires them together
// and runs the tray for the life of the process.
#include <windows.h>

#include "app/start_with_windows_setting.h"
#include "app/tray_app_impl.h"
#include "dongle/dongle_link.h"
#include "firmware/update_host.h"
#include "flash/firmware_subsystem.h"
#include "panel/http_server.h"
#include "panel/panel_launcher.h"
#include "panel_page_asset.h"
#include "platform/win32/cng_signature.h"
#include "platform/win32/cryptoapi_random.h"
#include "platform/win32/utf16.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_desktop.h"
#include "platform/win32/win32_desktop_shell.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_message_loop.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_resources.h"
#include "platform/win32/win32_tray.h"
#include "platform/win32/win32_usb.h"
#include "platform/win32/winhttp_https.h"
#include "platform/win32/winsock_sockets.h"
#include "trusted_release_key.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  tw::win32::Win32MessageLoop loop(instance);
  tw::win32::Win32Tray tray(instance);
  tw::win32::Win32Desktop desktop;
  tw::win32::Win32HidPort hid;
  tw::DongleLink dongleLink(hid);

  tw::win32::Win32Clock clock;
  tw::win32::Win32DesktopShell shell;
  tw::win32::Win32Registry registry;
  tw::win32::Win32FileSystem files;
  tw::win32::Win32UsbPort usb;
  tw::Win32Resources resources;
  tw::WinHttpPort https;
  tw::CngSignatureVerifier signatures;
  tw::FirmwareSubsystem firmware(tw::FirmwarePorts{resources, loop, clock, usb, dongleLink, files, shell, https,
                                                   signatures, tw::build::kTrustedReleaseKey},
                                 tw::FirmwareOptions{TW_VERSION_TEXT});

  tw::WinsockSockets sockets;
  tw::CryptoApiRandom random;
  // This process ends with ExitProcess and never stops its server, so the accept thread need not
  // wake to look for a stop: once an hour instead of four times a second, which an idle tray
  // program would otherwise pay all day.
  tw::HttpServerSettings serverSettings;
  serverSettings.acceptWaitMs = 3600 * 1000;
  tw::PanelHttpServer server(tw::HttpServerPorts{sockets, random, clock}, dongleLink, firmware,
                             tw::assets::panelPageAsset(), serverSettings);

  tw::ControlPanelLauncher launcher(tw::PanelLauncherPorts{shell, registry, files, desktop}, server,
                                    tw::PanelLauncherConfig{tw::UpdateHost});
  tw::StartWithWindowsSetting startWithWindows(tw::StartWithWindowsPorts{registry, files, desktop},
                                               TW_VERSION_TEXT);

  tw::TrayApp app(tw::TrayAppConfig{.versionText = TW_VERSION_TEXT,
                                    .commandLine = tw::win32::toUtf8(GetCommandLineW())},
                  tw::TrayAppPorts{loop, tray, desktop}, dongleLink,
                  tw::TrayAppServices{server, launcher, firmware, startWithWindows});
  int code = app.run();
  // The server's threads end with the process; nothing waits for them.
  ExitProcess(static_cast<UINT>(code));
}
