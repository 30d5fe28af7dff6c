#include "platform/win32/win32_tray.h"

#include <shellapi.h>

#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

// The full-size record, whatever the shell version, so balloons and tips up to their full length
// are understood.
NOTIFYICONDATAW iconData(const NotifyIconRecord& record, HICON icon) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = toHwnd(record.window);
  data.uID = record.iconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = record.callbackMessage;
  data.hIcon = icon;
  copyToField(data.szTip, 128, record.tip);
  return data;
}

bool addIcon(NOTIFYICONDATAW& data) {
  return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

bool modifyIcon(NOTIFYICONDATAW& data) {
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

void deleteIcon(NOTIFYICONDATAW& data) {
  Shell_NotifyIconW(NIM_DELETE, &data);
}

// A balloon rides on a copy that carries only NIF_INFO, so the icon and tip stay as they are.
void showBalloon(const NOTIFYICONDATAW& shown, const std::string& title, const std::string& text,
                 BalloonIcon icon) {
  NOTIFYICONDATAW data = shown;
  data.uFlags = NIF_INFO;
  copyToField(data.szInfoTitle, 64, title);
  copyToField(data.szInfo, 256, text);
  data.dwInfoFlags = icon == BalloonIcon::Warning ? NIIF_WARNING : NIIF_INFO;
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

}  // namespace

void Win32Tray::loadIcons() {
  const int width = GetSystemMetrics(SM_CXSMICON);
  const int height = GetSystemMetrics(SM_CYSMICON);
  for (int i = 0; i < 3; ++i) {
    if (icons_[i].get() != nullptr) continue;
    icons_[i].reset(static_cast<HICON>(
        LoadImageW(instance_, MAKEINTRESOURCEW(i + 1), IMAGE_ICON, width, height, 0)));
  }
}

HICON Win32Tray::iconFor(int resource) const {
  if (resource < 1 || resource > 3) return nullptr;
  return icons_[resource - 1].get();
}

bool Win32Tray::add(const NotifyIconRecord& record) {
  NOTIFYICONDATAW data = iconData(record, iconFor(record.iconResource));
  return addIcon(data);
}

bool Win32Tray::modify(const NotifyIconRecord& record) {
  NOTIFYICONDATAW data = iconData(record, iconFor(record.iconResource));
  return modifyIcon(data);
}

void Win32Tray::remove(const NotifyIconRecord& record) {
  NOTIFYICONDATAW data = iconData(record, iconFor(record.iconResource));
  deleteIcon(data);
}

void Win32Tray::balloon(const NotifyIconRecord& record, const std::string& title,
                        const std::string& text, BalloonIcon icon) {
  showBalloon(iconData(record, iconFor(record.iconResource)), title, text, icon);
}

bool Win32Tray::showPopupMenu(WindowId owner, const std::vector<MenuItem>& items) {
  ScopedMenu menu(CreatePopupMenu());
  if (!menu.valid()) return false;
  for (const MenuItem& item : items) {
    if (item.kind == MenuItem::Kind::Separator) {
      AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING;
    if (item.greyed) flags |= MF_GRAYED;
    if (item.checked) flags |= MF_CHECKED;
    AppendMenuW(menu.get(), flags, item.command, toUtf16(item.text).c_str());
  }
  HWND window = toHwnd(owner);
  POINT cursor{};
  GetCursorPos(&cursor);
  // A popup menu only closes on a click elsewhere when its owner is the foreground window;
  // without this the menu of a hidden window stays open.
  SetForegroundWindow(window);
  TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window,
                 nullptr);
  // Lets the owner's thread see a fresh message, so that a second click on the icon works at once.
  PostMessageW(window, WM_NULL, 0, 0);
  return true;
}

}  // namespace tw::win32
