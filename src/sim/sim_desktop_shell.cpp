#include "sim/sim_desktop_shell.h"

#include <algorithm>

namespace tw::sim {
namespace {

bool sameTitle(const std::string& a, const std::string& b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
    return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
  });
}

}  // namespace

WindowId SimDesktopShell::addWindow(const std::string& className, const std::string& title,
                                    bool visible, bool minimised) {
  std::lock_guard lock(mutex_);
  TopWindow w;
  w.id = nextId_;
  nextId_ += 0x10;
  w.className = className;
  w.title = title;
  w.visible = visible;
  w.minimised = minimised;
  windows_.push_back(w);
  return w.id;
}

void SimDesktopShell::removeWindow(WindowId window) {
  std::lock_guard lock(mutex_);
  std::erase_if(windows_, [&](const TopWindow& w) { return w.id == window; });
  if (foreground_ == window) foreground_ = 0;
}

std::optional<TopWindow> SimDesktopShell::window(WindowId window) const {
  std::lock_guard lock(mutex_);
  for (const TopWindow& w : windows_) {
    if (w.id == window) return w;
  }
  return std::nullopt;
}

WindowId SimDesktopShell::foregroundWindow() const {
  std::lock_guard lock(mutex_);
  return foreground_;
}

int SimDesktopShell::restoreCount() const {
  std::lock_guard lock(mutex_);
  return restores_;
}

std::vector<ShellLaunch> SimDesktopShell::launches() const {
  std::lock_guard lock(mutex_);
  return launches_;
}

void SimDesktopShell::clearLaunches() {
  std::lock_guard lock(mutex_);
  launches_.clear();
}

void SimDesktopShell::setLaunchObserver(std::function<void(const ShellLaunch&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void SimDesktopShell::setShellOpenSucceeds(bool succeeds) {
  std::lock_guard lock(mutex_);
  shellOpenSucceeds_ = succeeds;
}

void SimDesktopShell::setSystemDpi(std::optional<std::uint32_t> dpi) {
  std::lock_guard lock(mutex_);
  systemDpi_ = dpi;
}

void SimDesktopShell::setScreenLogPixelsX(std::uint32_t dpi) {
  std::lock_guard lock(mutex_);
  logPixelsX_ = dpi;
}

void SimDesktopShell::setWorkArea(std::optional<ScreenRect> area) {
  std::lock_guard lock(mutex_);
  workArea_ = area;
}

void SimDesktopShell::enumerateWindows(const std::function<bool(const TopWindow&)>& visit) {
  // A snapshot, so that the visitor may call back into the desktop as a real EnumWindows allows.
  std::vector<TopWindow> snapshot;
  {
    std::lock_guard lock(mutex_);
    snapshot = windows_;
  }
  for (const TopWindow& w : snapshot) {
    if (!visit(w)) break;
  }
}

WindowId SimDesktopShell::findWindowByTitle(const std::string& title) {
  std::lock_guard lock(mutex_);
  for (const TopWindow& w : windows_) {
    if (sameTitle(w.title, title)) return w.id;
  }
  return 0;
}

void SimDesktopShell::restoreWindow(WindowId window) {
  std::lock_guard lock(mutex_);
  ++restores_;
  for (TopWindow& w : windows_) {
    if (w.id == window) {
      w.minimised = false;
      w.visible = true;
    }
  }
}

bool SimDesktopShell::setForegroundWindow(WindowId window) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(windows_.begin(), windows_.end(),
                         [&](const TopWindow& w) { return w.id == window; });
  if (it == windows_.end()) return false;
  foreground_ = window;
  // The foreground window goes to the top of the Z order.
  std::rotate(windows_.begin(), it, it + 1);
  return true;
}

bool SimDesktopShell::shellOpen(const std::string& file, const std::string& parameters) {
  std::function<void(const ShellLaunch&)> observer;
  ShellLaunch launch{file, parameters};
  bool succeeds;
  {
    std::lock_guard lock(mutex_);
    launches_.push_back(launch);
    observer = observer_;
    succeeds = shellOpenSucceeds_;
  }
  if (observer) observer(launch);
  return succeeds;
}

bool SimDesktopShell::systemDpi(std::uint32_t& dpi) {
  std::lock_guard lock(mutex_);
  if (!systemDpi_) return false;
  dpi = *systemDpi_;
  return true;
}

std::uint32_t SimDesktopShell::screenLogPixelsX() {
  std::lock_guard lock(mutex_);
  return logPixelsX_;
}

bool SimDesktopShell::workArea(ScreenRect& area) {
  std::lock_guard lock(mutex_);
  if (!workArea_) return false;
  area = *workArea_;
  return true;
}

}  // namespace tw::sim
