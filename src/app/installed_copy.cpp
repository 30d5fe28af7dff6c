#include "app/installed_copy.h"

#include <string_view>

#include "common/text.h"

namespace tw {
namespace {

bool endsWithIgnoreCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && equalsIgnoreCase(text.substr(text.size() - end.size()), end);
}

bool isLeftOver(const FolderEntry& entry) {
  if (entry.directory || equalsIgnoreCase(entry.name, INSTALLED_COPY_NAME)) return false;
  return endsWithIgnoreCase(entry.name, ".exe") ||
         equalsIgnoreCase(entry.name, OLD_PANEL_FILE_NAME);
}

}  // namespace

bool InstalledCopy::locate(InstallPaths& paths) {
  std::string localAppData;
  std::uint32_t error = 0;
  if (!files_.localAppDataFolder(localAppData, error) || localAppData.empty()) return false;
  InstallPaths found;
  found.folder = localAppData + "\\" + INSTALL_FOLDER_NAME;
  found.copy = found.folder + "\\" + INSTALLED_COPY_NAME;
  if (utf16Length(found.folder) > INSTALL_FOLDER_MAX_CHARS ||
      utf16Length(found.copy) > INSTALLED_COPY_MAX_CHARS) {
    return false;
  }
  paths = std::move(found);
  return true;
}

bool InstalledCopy::runningProgram(std::string& path) {
  return files_.ownModulePath(PROGRAM_PATH_BUFFER_CHARS, path) && !path.empty();
}

bool InstalledCopy::samePath(const std::string& a, const std::string& b) {
  return equalsIgnoreCase(a, b);
}

bool InstalledCopy::versionNumber(const InstallPaths& paths, std::uint64_t& number) {
  FileVersionParts version;
  std::uint32_t error = 0;
  if (!files_.fileVersion(paths.copy, version, error)) return false;
  std::string originalFilename;
  std::string productName;
  if (!files_.fileVersionText(paths.copy, "OriginalFilename", originalFilename, error) ||
      !files_.fileVersionText(paths.copy, "ProductName", productName, error) ||
      originalFilename != OUR_ORIGINAL_FILENAME || productName != OUR_PRODUCT_NAME) {
    return false;
  }
  number =
      std::uint64_t{version.major} * 1000000 + std::uint64_t{version.minor} * 1000 + version.build;
  return true;
}

std::vector<std::string> InstalledCopy::cleanInstallFolder() {
  std::vector<std::string> deleted;
  InstallPaths paths;
  if (!locate(paths)) return deleted;
  std::vector<FolderEntry> entries;
  std::uint32_t error = 0;
  // A listing that stops part-way still gives the entries found before; one that cannot start
  // (no folder) gives none.
  files_.listFolder(paths.folder + "\\*", entries, error);
  std::string running;
  if (!runningProgram(running)) running.clear();
  for (const FolderEntry& entry : entries) {
    if (!isLeftOver(entry)) continue;
    const std::string path = paths.folder + "\\" + entry.name;
    // A program started from here under another name stays while it runs, on any file system.
    if (!running.empty() && samePath(path, running)) continue;
    if (files_.deleteFile(path, error)) deleted.push_back(path);
  }
  return deleted;
}

}  // namespace tw
