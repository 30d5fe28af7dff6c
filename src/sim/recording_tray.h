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
  bool succeeded = true;  // what the call returned (adds and modifies)
};

class RecordingTray : public TrayPort {
 public:
  void loadIcons() override { iconsLoaded = true; }
  // Like the shell: an add fails while it has the icon already, a modify while it has none.
  bool add(const NotifyIconRecord& record) override;
  bool modify(const NotifyIconRecord& record) override;
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

  // The shell goes away (at log-on it is not up yet, or Explorer crashed): every add and modify
  // fails and changes nothing until startShell().
  void stopShell();
  // The shell is up again, as after Explorer restarts: without our icon.
  void startShell();
  // The next `count` adds are carried out but report failure, as a shell that answers too late
  // does.
  void lateAdds(int count);

  bool iconsLoaded = false;
  bool menuCreationFails = false;
  std::function<void(const TrayEvent&)> listener;

 private:
  bool record(TrayEvent event);
  std::mutex mutex_;
  std::vector<TrayEvent> events_;
  bool visible_ = false;
  bool shellRunning_ = true;
  int lateAdds_ = 0;
  NotifyIconRecord current_;
};

}  // namespace tw::sim
