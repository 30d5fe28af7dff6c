#include "sim/recording_tray.h"

namespace tw::sim {
namespace {

TrayEvent makeEvent(TrayEvent::Kind kind, const NotifyIconRecord& record) {
  TrayEvent event;
  event.kind = kind;
  event.record = record;
  return event;
}

}  // namespace

bool RecordingTray::record(TrayEvent event) {
  std::function<void(const TrayEvent&)> notify;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (event.kind) {
      case TrayEvent::Kind::Add:
        // Like Shell_NotifyIconW: an icon id is added once; without a shell nothing is.
        event.succeeded = shellRunning_ && !visible_;
        if (event.succeeded) {
          visible_ = true;
          current_ = event.record;
          if (lateAdds_ > 0) {
            --lateAdds_;
            event.succeeded = false;
          }
        }
        break;
      case TrayEvent::Kind::Modify:
        // Modifying an icon that isn't there changes nothing and fails.
        event.succeeded = shellRunning_ && visible_;
        if (event.succeeded) current_ = event.record;
        break;
      case TrayEvent::Kind::Remove:
        visible_ = false;
        break;
      default:
        break;
    }
    events_.push_back(event);
    notify = listener;
  }
  if (notify) notify(event);
  return event.succeeded;
}

bool RecordingTray::add(const NotifyIconRecord& r) {
  return record(makeEvent(TrayEvent::Kind::Add, r));
}

bool RecordingTray::modify(const NotifyIconRecord& r) {
  return record(makeEvent(TrayEvent::Kind::Modify, r));
}

void RecordingTray::remove(const NotifyIconRecord& r) {
  record(makeEvent(TrayEvent::Kind::Remove, r));
}

void RecordingTray::balloon(const NotifyIconRecord& r, const std::string& title,
                            const std::string& text, BalloonIcon icon) {
  TrayEvent event = makeEvent(TrayEvent::Kind::Balloon, r);
  event.title = title;
  event.text = text;
  event.balloonIcon = icon;
  record(event);
}

bool RecordingTray::showPopupMenu(WindowId owner, const std::vector<MenuItem>& items) {
  if (menuCreationFails) return false;
  NotifyIconRecord menuOwner;
  menuOwner.window = owner;
  TrayEvent event = makeEvent(TrayEvent::Kind::Menu, menuOwner);
  event.menu = items;
  record(event);
  return true;
}

std::vector<TrayEvent> RecordingTray::events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<TrayEvent> RecordingTray::balloons() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<TrayEvent> result;
  for (const TrayEvent& event : events_) {
    if (event.kind == TrayEvent::Kind::Balloon) result.push_back(event);
  }
  return result;
}

void RecordingTray::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
}

bool RecordingTray::visible() {
  std::lock_guard<std::mutex> lock(mutex_);
  return visible_;
}

void RecordingTray::stopShell() {
  std::lock_guard<std::mutex> lock(mutex_);
  shellRunning_ = false;
  visible_ = false;
}

void RecordingTray::startShell() {
  std::lock_guard<std::mutex> lock(mutex_);
  shellRunning_ = true;
  visible_ = false;
}

void RecordingTray::lateAdds(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  lateAdds_ = count;
}

NotifyIconRecord RecordingTray::current() {
  std::lock_guard<std::mutex> lock(mutex_);
  return current_;
}

}  // namespace tw::sim
