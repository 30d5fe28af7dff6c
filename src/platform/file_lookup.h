// Looking at files and volumes without opening them: what a path names, the logical drives with
// their types and labels, the program's own path and environment expansion.
// Windows: kernel32. Linux: simulated files and drives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tw {

enum class PathKind { Missing, File, Directory };

// GetDriveTypeW's answers.
enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

class FileLookup {
 public:
  virtual ~FileLookup() = default;
  // GetFileAttributesW: Missing when the call fails.
  virtual PathKind pathKind(const std::string& path) = 0;
  // GetLogicalDrives: bit 0 is A:, bit 25 is Z:.
  virtual std::uint32_t logicalDrives() = 0;
  // GetDriveTypeW on a root such as "E:\".
  virtual DriveType driveType(const std::string& root) = 0;
  // GetVolumeInformationW's volume name, at most `maxChars` UTF-16 units with the terminator.
  virtual bool volumeLabel(const std::string& root, std::size_t maxChars, std::string& label) = 0;
  // GetModuleFileNameW of the program itself; false when it fails or does not fit `maxChars`.
  virtual bool ownModulePath(std::size_t maxChars, std::string& path) = 0;
  // ExpandEnvironmentStringsW; false when it fails or the result does not fit `maxChars` with its
  // terminator.
  virtual bool expandEnvironment(const std::string& text, std::size_t maxChars,
                                 std::string& expanded) = 0;
};

}  // namespace tw
