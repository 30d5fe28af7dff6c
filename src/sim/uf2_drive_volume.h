// A board's UF2 drive as a volume of the simulated file system: the letter shows the drive while
// the board keeps it attached, and files copied onto it go to the board chunk by chunk.
#pragma once

#include <functional>
#include <memory>

#include "sim/sim_drive.h"
#include "sim/sim_file_system.h"
#include "sim/uf2_drive.h"
#include "sim/world.h"

namespace tw::sim {

class Uf2DriveVolume : public SimDrive {
 public:
  // `catchUp` brings the world up to now before the drive is looked at (a board restarting after
  // a reboot takes its drive away).
  Uf2DriveVolume(std::shared_ptr<Uf2Drive> drive, std::function<void()> catchUp = {})
      : drive_(std::move(drive)), catchUp_(std::move(catchUp)) {}

  DriveType type() override { return DriveType::Removable; }
  std::optional<std::string> label() override;
  bool present() override;
  bool stat(const std::string& path, SimEntry& entry, std::uint32_t& error) override;
  bool list(const std::string& folder, std::vector<SimEntry>& entries,
            std::uint32_t& error) override;
  bool read(const std::string& path, std::string& content, std::uint32_t& error) override;
  std::unique_ptr<FileWriter> create(const std::string& path, std::uint32_t& error) override;

 private:
  std::shared_ptr<Uf2Drive> drive_;
  std::function<void()> catchUp_;
};

// Gives the world's board its drive letter: the drive shows there whenever the board is in
// update mode with its drive. False when the letter is taken.
bool mountBoardDrive(World& world, SimFileSystem& files, char letter = 'E');

}  // namespace tw::sim
