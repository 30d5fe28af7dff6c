// A volume behind a drive letter of the simulated file system (sim/sim_file_system.h). A drive
// says what it is (type, label), whether it is still there, which files it shows, and takes files
// written onto it chunk by chunk. MemoryDrive keeps its files in memory; a device that shows a
// drive of its own (a board in update mode with its UF2 drive) implements SimDrive itself, or
// derives from MemoryDrive and takes over `create` to see each chunk as it lands.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tw::sim {

// A file or folder as a drive shows it.
struct SimEntry {
  std::string name;  // the last part of its path, as stored
  bool directory = false;
  std::uint64_t size = 0;
  std::uint64_t lastWriteTime = 0;  // FILETIME
};

// Paths given to a drive are relative to its root, their parts joined by '\' with nothing before
// the first or after the last ("" is the root itself); the file system has checked and tidied them
// first. Names compare without regard to ASCII case. Every failure carries a Windows error number.
class SimDrive {
 public:
  virtual ~SimDrive() = default;

  virtual DriveType type() = 0;
  // nullopt: the volume label cannot be read.
  virtual std::optional<std::string> label() = 0;
  // False once the drive has gone away (pulled out, or its board restarted): its letter then
  // shows nothing, and files still open on it fail.
  virtual bool present() = 0;
  // The file system gave the drive a letter, or took it away (the drive was unplugged).
  virtual void plugged() {}
  virtual void unplugged() {}

  // What lies at `path`; FILE_ERROR_FILE_NOT_FOUND or FILE_ERROR_PATH_NOT_FOUND when nothing does.
  virtual bool stat(const std::string& path, SimEntry& entry, std::uint32_t& error) = 0;
  // The entries directly inside the folder `folder`, in the order the volume keeps them.
  virtual bool list(const std::string& folder, std::vector<SimEntry>& entries,
                    std::uint32_t& error) = 0;
  // A whole file's bytes.
  virtual bool read(const std::string& path, std::string& content, std::uint32_t& error) = 0;
  // A new empty file, or an existing one cut to nothing, open for writing without sharing.
  virtual std::unique_ptr<FileWriter> create(const std::string& path, std::uint32_t& error) = 0;

  // A drive that does not take these refuses them with FILE_ERROR_ACCESS_DENIED.
  virtual bool makeFolder(const std::string& path, std::uint32_t& error);
  virtual bool remove(const std::string& path, std::uint32_t& error);
  // Moves `from` to `to`, replacing a file there.
  virtual bool rename(const std::string& from, const std::string& to, std::uint32_t& error);
  virtual bool setLastWriteTime(const std::string& path, std::uint64_t time, std::uint32_t& error);
};

// A drive whose files live in memory, listed in name order as NTFS lists them. A file open for
// writing cannot be opened, read, replaced, renamed or deleted until it is closed, as a file
// opened without sharing cannot. Thread-safe.
class MemoryDrive : public SimDrive {
 public:
  // `now` gives the FILETIME stamped on files as they are written.
  MemoryDrive(DriveType type, std::optional<std::string> label, std::function<std::uint64_t()> now);
  ~MemoryDrive() override;

  void setLabel(std::optional<std::string> label);
  // Takes the drive away (false) or brings it back with its files (true).
  void setPresent(bool present);
  // Files open for writing on this drive.
  int openFiles() const;

  DriveType type() override;
  std::optional<std::string> label() override;
  bool present() override;
  void plugged() override;
  void unplugged() override;
  bool stat(const std::string& path, SimEntry& entry, std::uint32_t& error) override;
  bool list(const std::string& folder, std::vector<SimEntry>& entries,
            std::uint32_t& error) override;
  bool read(const std::string& path, std::string& content, std::uint32_t& error) override;
  std::unique_ptr<FileWriter> create(const std::string& path, std::uint32_t& error) override;
  bool makeFolder(const std::string& path, std::uint32_t& error) override;
  bool remove(const std::string& path, std::uint32_t& error) override;
  bool rename(const std::string& from, const std::string& to, std::uint32_t& error) override;
  bool setLastWriteTime(const std::string& path, std::uint64_t time, std::uint32_t& error) override;

  struct State;  // shared with the writers, which may outlive the drive

 private:
  const DriveType type_;
  std::shared_ptr<State> state_;
};

}  // namespace tw::sim
