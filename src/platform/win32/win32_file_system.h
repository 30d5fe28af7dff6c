// Files and volumes through kernel32, shell32 and the version library.
#pragma once

#include "platform/file_system.h"

namespace tw::win32 {

class Win32FileSystem : public FileSystem {
 public:
  PathKind pathKind(const std::string& path) override;
  std::uint32_t logicalDrives() override;
  DriveType driveType(const std::string& root) override;
  bool volumeLabel(const std::string& root, std::size_t maxChars, std::string& label) override;
  bool ownModulePath(std::size_t maxChars, std::string& path) override;
  bool expandEnvironment(const std::string& text, std::size_t maxChars,
                         std::string& expanded) override;
  std::uint32_t tempPath(std::uint32_t bufferUnits, std::string& path) override;
  bool localAppDataFolder(std::string& path, std::uint32_t& error) override;
  std::uint64_t systemTimeNow() override;
  std::uint32_t addErrorMode(std::uint32_t flags) override;
  bool fileAttributes(const std::string& path, FileAttributes& out, std::uint32_t& error) override;
  bool createFolder(const std::string& path, std::uint32_t& error) override;
  std::unique_ptr<FileWriter> createFile(const std::string& path, std::uint32_t& error) override;
  bool writeFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                 std::uint32_t& error) override;
  bool readFile(const std::string& path, std::size_t maxBytes, FileBytes& data, std::size_t& length,
                std::uint32_t& error) override;
  bool readFileStart(const std::string& path, std::uint8_t* buffer, std::uint32_t size,
                     std::uint32_t& got, std::uint32_t& error) override;
  bool renameOver(const std::string& from, const std::string& to, std::uint32_t& error) override;
  bool copyFile(const std::string& from, const std::string& to, std::uint32_t& error) override;
  bool deleteFile(const std::string& path, std::uint32_t& error) override;
  bool listFolder(const std::string& pattern, std::vector<FolderEntry>& entries,
                  std::uint32_t& error) override;
  bool fileVersion(const std::string& path, FileVersionParts& version,
                   std::uint32_t& error) override;
  bool fileVersionText(const std::string& path, const std::string& name, std::string& value,
                       std::uint32_t& error) override;
};

}  // namespace tw::win32
