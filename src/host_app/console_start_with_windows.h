// Shows what start with Windows does to the simulated desktop's files and registry.
#pragma once

#include <string>

#include "app/start_with_windows_setting.h"
#include "host_app/console.h"

namespace tw::host {

class ConsoleStartWithWindows : public StartWithWindowsListener {
 public:
  explicit ConsoleStartWithWindows(Console& console) : console_(console) {}
  void copied(const std::string& from, const std::string& to) override {
    say("copied " + from + " to " + to);
  }
  void deleted(const std::string& path) override { say("deleted " + path); }
  void runValueWritten(const std::string& data) override {
    say(std::string("HKCU\\") + RUN_KEY + " \"" + RUN_VALUE_NAME + "\" = " + data);
  }
  void runValueDeleted() override {
    say(std::string("removed HKCU\\") + RUN_KEY + " \"" + RUN_VALUE_NAME + "\"");
  }

 private:
  void say(const std::string& what) { console_.printLine("[start with Windows] " + what); }
  Console& console_;
};

}  // namespace tw::host
