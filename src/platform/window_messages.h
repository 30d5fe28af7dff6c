// Window message numbers and constants the system uses, with the values Windows gives them, so
// that the tray logic can be written and tested without any OS header. The Windows adapters check
// each value against <windows.h> at compile time.
#pragma once

#include <cstdint>

namespace tw {

// Opaque window handle (an HWND on Windows); 0 means none.
using WindowId = std::uintptr_t;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

namespace msg {
constexpr std::uint32_t NULL_ = 0x0000;  // WM_NULL
constexpr std::uint32_t DESTROY = 0x0002;
constexpr std::uint32_t QUERYENDSESSION = 0x0011;
constexpr std::uint32_t CONTEXTMENU = 0x007B;
constexpr std::uint32_t COMMAND = 0x0111;
constexpr std::uint32_t TIMER = 0x0113;
constexpr std::uint32_t LBUTTONUP = 0x0202;
constexpr std::uint32_t LBUTTONDBLCLK = 0x0203;
constexpr std::uint32_t RBUTTONUP = 0x0205;
constexpr std::uint32_t APP = 0x8000;
constexpr std::uint32_t BALLOON_USER_CLICK = 0x0405;  // NIN_BALLOONUSERCLICK, WM_USER + 5
}  // namespace msg

// Messages posted to the tray window: the icon's callback, and the firmware side's news from its
// threads. The subsystems that post them and the tray that answers them share these numbers.
constexpr std::uint32_t WM_APP_TRAY = msg::APP + 1;      // the icon's callback message
constexpr std::uint32_t WM_APP_FIRMWARE = msg::APP + 2;  // posted by firmware threads
constexpr WParam FW_CHANGED = 1;                         // firmware state changed: refresh
constexpr WParam FW_NOTICE = 2;                          // a balloon may be pending

}  // namespace tw
