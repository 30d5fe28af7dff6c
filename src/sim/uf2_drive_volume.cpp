#include "sim/uf2_drive_volume.h"

#include "sim/windows_names.h"

namespace tw::sim {
namespace {

class Uf2FileWriter : public FileWriter {
 public:
  explicit Uf2FileWriter(std::unique_ptr<Uf2Drive::Writer> writer) : writer_(std::move(writer)) {}
  ~Uf2FileWriter() override {
    std::uint32_t ignored = 0;
    if (writer_) writer_->close(ignored);
  }
  bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written,
             std::uint32_t& error) override {
    written = 0;
    if (!writer_) return closed(error);
    std::size_t done = 0;
    bool ok = writer_->write(data, size, done, error);
    written = static_cast<std::uint32_t>(done);
    return ok;
  }
  bool flush(std::uint32_t& error) override { return writer_ ? true : closed(error); }
  bool close(std::uint32_t& error) override {
    if (!writer_) return closed(error);
    bool ok = writer_->close(error);
    writer_.reset();
    return ok;
  }

 private:
  static bool closed(std::uint32_t& error) {
    error = FILE_ERROR_INVALID_HANDLE;
    return false;
  }
  std::unique_ptr<Uf2Drive::Writer> writer_;
};

// The drive keeps every file in its root: a path is a bare name.
bool isRootName(const std::string& path) {
  return !path.empty() && path.find('\\') == std::string::npos;
}

}  // namespace

bool Uf2DriveVolume::present() {
  if (catchUp_) catchUp_();
  return drive_->attached();
}

std::optional<std::string> Uf2DriveVolume::label() {
  if (!drive_->mediaPresent()) return std::nullopt;
  return drive_->label();
}

bool Uf2DriveVolume::stat(const std::string& path, SimEntry& entry, std::uint32_t& error) {
  if (!drive_->mediaPresent()) {
    error = FILE_ERROR_NOT_READY;
    return false;
  }
  if (path.empty()) {
    entry = SimEntry{"", true, 0, 0};
    return true;
  }
  for (const Uf2Drive::File& file : drive_->files()) {
    if (isRootName(path) && lowerAscii(file.name) == lowerAscii(path)) {
      entry = SimEntry{file.name, false, file.bytes.size(), 0};
      return true;
    }
  }
  error = isRootName(path) ? FILE_ERROR_FILE_NOT_FOUND : FILE_ERROR_PATH_NOT_FOUND;
  return false;
}

bool Uf2DriveVolume::list(const std::string& folder, std::vector<SimEntry>& entries,
                          std::uint32_t& error) {
  entries.clear();
  if (!drive_->mediaPresent()) {
    error = FILE_ERROR_NOT_READY;
    return false;
  }
  if (!folder.empty()) {
    error = FILE_ERROR_PATH_NOT_FOUND;
    return false;
  }
  for (const Uf2Drive::File& file : drive_->files()) {
    entries.push_back(SimEntry{file.name, false, file.bytes.size(), 0});
  }
  return true;
}

bool Uf2DriveVolume::read(const std::string& path, std::string& content, std::uint32_t& error) {
  std::vector<std::uint8_t> bytes;
  if (!drive_->readFile(path, bytes, error)) return false;
  content.assign(bytes.begin(), bytes.end());
  return true;
}

std::unique_ptr<FileWriter> Uf2DriveVolume::create(const std::string& path, std::uint32_t& error) {
  if (!isRootName(path)) {
    error = FILE_ERROR_ACCESS_DENIED;
    return nullptr;
  }
  std::unique_ptr<Uf2Drive::Writer> writer = drive_->create(path, error);
  if (!writer) return nullptr;
  return std::make_unique<Uf2FileWriter>(std::move(writer));
}

bool mountBoardDrive(World& world, SimFileSystem& files, char letter) {
  return files.mount(letter, std::make_shared<Uf2DriveVolume>(world.board().drive(),
                                                              [&world] { world.update(); }));
}

}  // namespace tw::sim
