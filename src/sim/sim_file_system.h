// The simulated file system: drive letters with their volumes (sim/sim_drive.h), the program's own
// path, the environment, the temporary and local application data folders, a calendar that runs
// with the simulated clock, and failures on demand.
//
// Paths are Windows paths ("C:\Users\Tess\AppData\Local"). As on Windows they compare without
// regard to ASCII case, may use '/' as well as '\', and lose repeated separators, "." and "..";
// a path of 260 UTF-16 units or more fails, as it does without long-path support (which can be
// turned on). The program's
// own file is in use while it runs: it cannot be deleted or replaced.
//
// A fresh file system has a fixed drive C: labelled "Windows" holding the user's folders and the
// program (C:\Program Files\Tarnwick\Tarnwick.exe, file version 1.2.0.0).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "sim/faults.h"
#include "sim/sim_drive.h"

namespace tw::sim {

// The string entries of a program's version resource that name it (ASCII here).
struct ProgramNames {
  std::string originalFilename = "Tarnwick.exe";
  std::string productName = "Tarnwick Bridge";
};

class SimFileSystem : public FileSystem {
 public:
  // 2026-01-01 00:00:00 UTC as a FILETIME: the calendar's date when the file system is made.
  static constexpr std::uint64_t kStartTime = 134116992000000000ull;
  static constexpr const char* kUserProfile = "C:\\Users\\Tess";
  static constexpr const char* kLocalAppData = "C:\\Users\\Tess\\AppData\\Local";
  static constexpr const char* kTempFolder = "C:\\Users\\Tess\\AppData\\Local\\Temp\\";
  static constexpr const char* kProgramPath = "C:\\Program Files\\Tarnwick\\Tarnwick.exe";

  explicit SimFileSystem(Clock& clock, std::uint64_t startTime = kStartTime);
  ~SimFileSystem() override;

  // --- Drives ---
  // A new in-memory drive under `letter` ('A'..'Z'), replacing any drive there.
  std::shared_ptr<MemoryDrive> addDrive(char letter, DriveType type,
                                        std::optional<std::string> label);
  // Plugs `drive` in under `letter`; false when the letter is not free.
  bool mount(char letter, std::shared_ptr<SimDrive> drive);
  // Plugs `drive` in under the first free letter from D:, as Windows gives removable drives
  // letters; the letter, or 0 when none is free.
  char mountAtFreeLetter(std::shared_ptr<SimDrive> drive);
  // Unplugs the drive under `letter` (files open on it fail from now on); the drive, if any.
  std::shared_ptr<SimDrive> unmount(char letter);
  std::shared_ptr<SimDrive> drive(char letter) const;

  // --- Files, for setting up a test ---
  // Writes a file, making the folders above it; false when that fails (no such drive).
  bool addFile(const std::string& path, const std::string& content = "");
  bool addDirectory(const std::string& path);
  bool removeFile(const std::string& path);
  std::optional<std::string> fileContent(const std::string& path);
  bool setLastWriteTime(const std::string& path, std::uint64_t time);
  // Contents of a program file with a version resource whose fixed file information carries
  // `version` and whose string table holds `names`, or without one.
  static std::string programImage(FileVersionParts version, const ProgramNames& names = {});
  static std::string programImageWithoutVersion();

  // --- The program and its environment ---
  // nullopt makes the query fail.
  void setModulePath(std::optional<std::string> path);
  void setEnvironment(const std::string& name, const std::string& value);
  // The temporary folder as GetTempPathW gives it (a final backslash is added when missing).
  void setTempFolder(std::optional<std::string> path);
  void setLocalAppDataFolder(std::optional<std::string> path);
  // Windows with LongPathsEnabled: paths of any length.
  void allowLongPaths(bool allowed);
  std::uint32_t errorMode() const;
  int volumeLabelQueries() const;
  // Files opened for writing through this file system and not yet closed.
  int openFiles() const;

  // --- Failures on demand ---
  // The `nth` call from now (1 = the next) of `operation` fails with `error`, for `count` calls.
  // Operations: the port's method names ("renameOver", "createFile", ...), and "write", "flush"
  // and "close" of the file writers.
  void failCall(const std::string& operation, std::uint32_t error, std::uint32_t nth = 1,
                std::uint32_t count = 1);
  void failAlways(const std::string& operation, std::uint32_t error);
  void clearFailures();

  // --- FileSystem ---
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

  struct Failures;  // shared with the file writers, which may outlive the file system

 private:
  struct Place {
    std::shared_ptr<SimDrive> drive;
    std::string path;  // inside the drive
    std::string key;   // the whole tidied path, lower-cased, to compare with others
  };
  // Resolves `path` to a present drive and the path inside it; false with the Windows error.
  bool locate(const std::string& path, Place& place, std::uint32_t& error) const;
  bool failing(const char* operation, std::uint32_t& error);
  bool isRunningProgram(const Place& place) const;
  bool makeFolders(const Place& place, std::uint32_t& error);
  std::unique_ptr<FileWriter> wrap(std::unique_ptr<FileWriter> writer);
  bool readWhole(const std::string& path, const char* operation, std::string& content,
                 std::uint32_t& error);

  Clock& clock_;
  const std::uint64_t startTime_;
  const std::uint64_t startTick_;
  std::shared_ptr<Failures> failures_;
  mutable std::mutex mutex_;
  std::map<char, std::shared_ptr<SimDrive>> drives_;
  std::optional<std::string> modulePath_ = std::string(kProgramPath);
  std::optional<std::string> tempFolder_ = std::string(kTempFolder);
  std::optional<std::string> localAppData_ = std::string(kLocalAppData);
  std::map<std::string, std::string> environment_;  // lower-cased name -> value
  bool longPaths_ = false;
  std::uint32_t errorMode_ = 0;
  int labelQueries_ = 0;
};

}  // namespace tw::sim
