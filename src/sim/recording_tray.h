// A notification area that records what the tray did with it (and can tell a listener, which
// is how the Linux app prints it).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tray.h"

namespace tw::sim {

struct TrayEvent {
  enum class Kind { Add, Modify, Remove, Balloon, Menu };
  Kind kind = Kind::Add;
  NotifyIconRecord record;
  std::string title;  // balloons
  std::string text;   // balloons
  BalloonIcon balloonIcon = BalloonIcon::Info;
  std::vector<MenuItem> menu;
};

class RecordingTray : public TrayPort {
 public:
  void loadIcons() override { iconsLoaded = true; }
  void add(const NotifyIconRecord& record) override;
  void modify(const NotifyIconRecord& record) override;
  void remove(const NotifyIconRecord& record) override;
  void balloon(const NotifyIconRecord& record, const std::string& title, const std::string& text,
               BalloonIcon icon) override;
  bool showPopupMenu(WindowId owner, const std::vector<MenuItem>& items) override;

  std::vector<TrayEvent> events();
  std::vector<TrayEvent> balloons();
  void clear();
  // Whether an icon is in the notification area now, and its record.
  bool visible();
  NotifyIconRecord current();

  bool iconsLoaded = false;
  bool menuCreationFails = false;
  std::function<void(const TrayEvent&)> listener;

 private:
  void record(TrayEvent event);
  std::mutex mutex_;
  std::vector<TrayEvent> events_;
  bool visible_ = false;
  NotifyIconRecord current_;
};

}  // namespace tw::sim
