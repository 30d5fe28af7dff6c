// Start with Windows without an installer: the program copies itself into the user's local
// application data folder and registers that copy in the Run key; at every start-up a program
// of an equal or newer version refreshes the copy, so what starts at log-on is never older than
// the newest program the user has run.
#pragma once

#include <cstdint>
#include <string>

#include "app/installed_copy.h"
#include "app/run_value.h"
#include "app/start_with_windows.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace tw {

inline constexpr const char* COPY_FAILED_TEXT =
    "Couldn't set Tarnwick Bridge up to start with Windows: copying the app to your AppData "
    "folder failed.";

// What start with Windows changed outside the process, told after each change, for a console
// that shows it. Windows has no use for it.
class StartWithWindowsListener {
 public:
  virtual ~StartWithWindowsListener() = default;
  virtual void copied(const std::string& from, const std::string& to) = 0;
  virtual void deleted(const std::string& path) = 0;
  virtual void runValueWritten(const std::string& data) = 0;
  virtual void runValueDeleted() = 0;
};

struct StartWithWindowsPorts {
  Registry& registry;
  FileSystem& files;
  Desktop& desktop;
};

class StartWithWindowsSetting : public StartWithWindows {
 public:
  // `versionText` is the program's own version, "1.2.0".
  StartWithWindowsSetting(StartWithWindowsPorts ports, const std::string& versionText,
                          StartWithWindowsListener* listener = nullptr);

  bool isStartWithWindowsOn() override;
  void setStartWithWindows(bool on) override;
  void refreshInstalledCopy() override;

  // Sets the Run value to start `programPath` at log-on; failures are silent.
  void writeRunValue(const std::string& programPath);
  void cleanInstallFolder();

 private:
  void turnOn(const InstallPaths& paths, bool isInstalledCopy, const std::string& running);
  void turnOff(const InstallPaths& paths, bool isInstalledCopy, bool runningKnown);
  bool copyOver(const std::string& running, const InstallPaths& paths);

  StartWithWindowsPorts ports_;
  RunValue runValue_;
  InstalledCopy installedCopy_;
  std::uint32_t ownVersionNumber_;
  StartWithWindowsListener* listener_;
};

}  // namespace tw
