// The installed copy: the program's own copy in the user's local application data folder that
// the Run value starts at log-on, what version it is, and the clean-up of its folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tw {

inline constexpr const char* INSTALL_FOLDER_NAME = "Tarnwick Bridge";
inline constexpr const char* INSTALLED_COPY_NAME = "Tarnwick.exe";
// An old panel file that earlier builds left in the folder.
inline constexpr const char* OLD_PANEL_FILE_NAME = "Korrinlink.html";
// What the version resource of our program calls it. A copy is taken for ours only when it says
// both; test builds say otherwise, so that the product replaces one it finds installed.
inline constexpr const char* OUR_ORIGINAL_FILENAME = "Tarnwick.exe";
inline constexpr const char* OUR_PRODUCT_NAME = "Tarnwick Bridge";
// Characters, without the terminator.
inline constexpr std::size_t INSTALL_FOLDER_MAX_CHARS = 259;
inline constexpr std::size_t INSTALLED_COPY_MAX_CHARS = 519;
// The buffer the running program's path is read into, with its terminator.
inline constexpr std::size_t PROGRAM_PATH_BUFFER_CHARS = 260;

struct InstallPaths {
  std::string folder;  // installFolder
  std::string copy;    // the installed copy inside it
};

class InstalledCopy {
 public:
  explicit InstalledCopy(FileSystem& files) : files_(files) {}

  // installFolder and the installed copy under the local application data folder. False when
  // that folder cannot be had, or the paths would not fit (a cut path would name another file).
  bool locate(InstallPaths& paths);
  // The running program's path; false when it cannot be read.
  bool runningProgram(std::string& path);
  // Windows spells one file in one way per path, up to case.
  static bool samePath(const std::string& a, const std::string& b);

  // The copy's version packed as major * 1000000 + minor * 1000 + patch from the fixed file
  // information of its version resource (the fourth part does not count). False when the copy
  // is missing, carries no readable version resource, or is not ours by its resource's
  // OriginalFilename and ProductName: a test build or another program put there has no version
  // that could keep the product from replacing it. 64 bits: a part above 4294 must not wrap into
  // a small number.
  bool versionNumber(const InstallPaths& paths, std::uint64_t& number);

  // Deletes the stray programs (any other ".exe") and the old panel file from installFolder;
  // folders and other files stay, and so does the running program. Returns the paths deleted.
  std::vector<std::string> cleanInstallFolder();

 private:
  FileSystem& files_;
};

}  // namespace tw
