// Simulated files and volumes with Windows-style paths ("C:\Program Files\x.exe"): which paths
// name files or folders, the logical drives with their types and labels, the program's own path
// and the environment variables that paths are expanded with. Paths compare without regard to
// ASCII case, as on Windows.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/file_lookup.h"

namespace tw::sim {

class SimFileLookup : public FileLookup {
 public:
  void addFile(const std::string& path);
  void addDirectory(const std::string& path);
  void removePath(const std::string& path);
  // A drive letter ('A'..'Z'); a label of nullopt makes the label query fail.
  void addDrive(char letter, DriveType type, std::optional<std::string> label);
  void removeDrive(char letter);
  // nullopt makes the query fail.
  void setModulePath(std::optional<std::string> path);
  void setEnvironment(const std::string& name, const std::string& value);
  int volumeLabelQueries() const;

  PathKind pathKind(const std::string& path) override;
  std::uint32_t logicalDrives() override;
  DriveType driveType(const std::string& root) override;
  bool volumeLabel(const std::string& root, std::size_t maxChars, std::string& label) override;
  bool ownModulePath(std::size_t maxChars, std::string& path) override;
  bool expandEnvironment(const std::string& text, std::size_t maxChars,
                         std::string& expanded) override;

 private:
  struct Drive {
    DriveType type = DriveType::Fixed;
    std::optional<std::string> label;
  };
  const Drive* driveOfRoot(const std::string& root) const;

  mutable std::mutex mutex_;
  std::map<std::string, PathKind> paths_;  // lower-cased path -> kind
  std::map<char, Drive> drives_;
  std::optional<std::string> modulePath_ = std::string("C:\\Program Files\\Tarnwick\\Tarnwick.exe");
  std::map<std::string, std::string> environment_;  // lower-cased name -> value
  int labelQueries_ = 0;
};

}  // namespace tw::sim
