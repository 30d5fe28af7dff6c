#include "app/start_with_windows_setting.h"

#include "app/tray_ids.h"
#include "firmware/versions.h"

namespace tw {

StartWithWindowsSetting::StartWithWindowsSetting(StartWithWindowsPorts ports,
                                                 const std::string& versionText,
                                                 StartWithWindowsListener* listener)
    : ports_(ports),
      runValue_(ports.registry),
      installedCopy_(ports.files),
      ownVersionNumber_(packedVersion(versionText)),
      listener_(listener) {}

bool StartWithWindowsSetting::isStartWithWindowsOn() {
  return runValue_.isStartWithWindowsOn();
}

void StartWithWindowsSetting::writeRunValue(const std::string& programPath) {
  if (runValue_.writeRunValue(programPath) && listener_ != nullptr) {
    listener_->runValueWritten(RunValue::runValueData(programPath));
  }
}

void StartWithWindowsSetting::cleanInstallFolder() {
  for (const std::string& path : installedCopy_.cleanInstallFolder()) {
    if (listener_ != nullptr) listener_->deleted(path);
  }
}

bool StartWithWindowsSetting::copyOver(const std::string& running, const InstallPaths& paths) {
  std::uint32_t error = 0;
  if (!ports_.files.copyFile(running, paths.copy, error)) return false;
  if (listener_ != nullptr) listener_->copied(running, paths.copy);
  return true;
}

void StartWithWindowsSetting::setStartWithWindows(bool on) {
  std::string running;
  const bool runningKnown = installedCopy_.runningProgram(running);
  InstallPaths paths;
  if (!installedCopy_.locate(paths)) return;
  const bool isInstalledCopy = runningKnown && InstalledCopy::samePath(running, paths.copy);
  if (on) {
    turnOn(paths, isInstalledCopy, running);
  } else {
    turnOff(paths, isInstalledCopy, runningKnown);
  }
}

void StartWithWindowsSetting::turnOn(const InstallPaths& paths, bool isInstalledCopy,
                                     const std::string& running) {
  std::uint32_t error = 0;
  ports_.files.createFolder(paths.folder, error);  // one that is there already will do
  // Without a copy the Run value would start nothing (or an older copy), so it stays untouched.
  if (!isInstalledCopy && (running.empty() || !copyOver(running, paths))) {
    ports_.desktop.messageBox(COPY_FAILED_TEXT, APP_NAME, MessageBoxIcon::Warning,
                              MessageBoxButtons::Ok);
    return;
  }
  cleanInstallFolder();
  writeRunValue(paths.copy);
}

void StartWithWindowsSetting::turnOff(const InstallPaths& paths, bool isInstalledCopy,
                                      bool runningKnown) {
  if (runValue_.deleteRunValue() && listener_ != nullptr) listener_->runValueDeleted();
  // The installed copy may be the program that runs now, and that one stays; when the running
  // program's path is unknown, so is whether it is the copy.
  std::uint32_t error = 0;
  if (runningKnown && !isInstalledCopy && ports_.files.deleteFile(paths.copy, error) &&
      listener_ != nullptr) {
    listener_->deleted(paths.copy);
  }
  cleanInstallFolder();
}

void StartWithWindowsSetting::refreshInstalledCopy() {
  if (!runValue_.isStartWithWindowsOn()) return;
  InstallPaths paths;
  if (!installedCopy_.locate(paths)) return;
  std::string running;
  if (!installedCopy_.runningProgram(running)) return;  // nothing to copy from
  if (InstalledCopy::samePath(running, paths.copy)) {
    cleanInstallFolder();
    return;
  }
  // A newer copy stays as it is, with its folder. One without a readable version resource is
  // taken for older.
  std::uint64_t installed = 0;
  if (installedCopy_.versionNumber(paths, installed) && ownVersionNumber_ < installed) return;
  if (!copyOver(running, paths)) return;  // the old copy and its Run value stay
  writeRunValue(paths.copy);
  cleanInstallFolder();
}

}  // namespace tw
