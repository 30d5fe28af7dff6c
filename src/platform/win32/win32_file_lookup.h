// File attributes, logical drives, volume labels, the module path and environment expansion.
#pragma once

#include "platform/file_lookup.h"

namespace tw::win32 {

class Win32FileLookup : public FileLookup {
 public:
  PathKind pathKind(const std::string& path) override;
  std::uint32_t logicalDrives() override;
  DriveType driveType(const std::string& root) override;
  bool volumeLabel(const std::string& root, std::size_t maxChars, std::string& label) override;
  bool ownModulePath(std::size_t maxChars, std::string& path) override;
  bool expandEnvironment(const std::string& text, std::size_t maxChars,
                         std::string& expanded) override;
};

}  // namespace tw::win32
