#include "sim/sim_file_lookup.h"

#include "sim/utf16_units.h"

namespace tw::sim {
namespace {

std::string lowered(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// "E:\" or "e:\" -> 'E'; 0 for anything that is not a drive root.
char rootLetter(const std::string& root) {
  if (root.size() != 3 || root[1] != ':' || root[2] != '\\') return 0;
  char c = root[0];
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return (c >= 'A' && c <= 'Z') ? c : 0;
}

}  // namespace

void SimFileLookup::addFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  paths_[lowered(path)] = PathKind::File;
}

void SimFileLookup::addDirectory(const std::string& path) {
  std::lock_guard lock(mutex_);
  paths_[lowered(path)] = PathKind::Directory;
}

void SimFileLookup::removePath(const std::string& path) {
  std::lock_guard lock(mutex_);
  paths_.erase(lowered(path));
}

void SimFileLookup::addDrive(char letter, DriveType type, std::optional<std::string> label) {
  std::lock_guard lock(mutex_);
  drives_[rootLetter(std::string(1, letter) + ":\\")] = Drive{type, std::move(label)};
}

void SimFileLookup::removeDrive(char letter) {
  std::lock_guard lock(mutex_);
  drives_.erase(rootLetter(std::string(1, letter) + ":\\"));
}

void SimFileLookup::setModulePath(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  modulePath_ = std::move(path);
}

void SimFileLookup::setEnvironment(const std::string& name, const std::string& value) {
  std::lock_guard lock(mutex_);
  environment_[lowered(name)] = value;
}

int SimFileLookup::volumeLabelQueries() const {
  std::lock_guard lock(mutex_);
  return labelQueries_;
}

const SimFileLookup::Drive* SimFileLookup::driveOfRoot(const std::string& root) const {
  auto it = drives_.find(rootLetter(root));
  return it == drives_.end() ? nullptr : &it->second;
}

PathKind SimFileLookup::pathKind(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = paths_.find(lowered(path));
  return it == paths_.end() ? PathKind::Missing : it->second;
}

std::uint32_t SimFileLookup::logicalDrives() {
  std::lock_guard lock(mutex_);
  std::uint32_t mask = 0;
  for (const auto& [letter, drive] : drives_) {
    if (letter != 0) mask |= 1u << (letter - 'A');
  }
  return mask;
}

DriveType SimFileLookup::driveType(const std::string& root) {
  std::lock_guard lock(mutex_);
  const Drive* drive = driveOfRoot(root);
  return drive ? drive->type : DriveType::NoRootDir;
}

bool SimFileLookup::volumeLabel(const std::string& root, std::size_t maxChars, std::string& label) {
  std::lock_guard lock(mutex_);
  ++labelQueries_;
  const Drive* drive = driveOfRoot(root);
  if (!drive || !drive->label || utf16Units(*drive->label) + 1 > maxChars) return false;
  label = *drive->label;
  return true;
}

bool SimFileLookup::ownModulePath(std::size_t maxChars, std::string& path) {
  std::lock_guard lock(mutex_);
  if (!modulePath_ || utf16Units(*modulePath_) + 1 > maxChars) return false;
  path = *modulePath_;
  return true;
}

bool SimFileLookup::expandEnvironment(const std::string& text, std::size_t maxChars,
                                      std::string& expanded) {
  std::lock_guard lock(mutex_);
  // As ExpandEnvironmentStringsW: %NAME% of a known variable is replaced, anything else is kept.
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('%', i);
    if (open == std::string::npos) {
      out += text.substr(i);
      break;
    }
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) {
      out += text.substr(i);
      break;
    }
    out += text.substr(i, open - i);
    auto it = environment_.find(lowered(text.substr(open + 1, close - open - 1)));
    if (it != environment_.end()) {
      out += it->second;
      i = close + 1;
    } else {
      out += text.substr(open, close - open);
      i = close;
    }
  }
  if (utf16Units(out) + 1 > maxChars) return false;
  expanded = out;
  return true;
}

}  // namespace tw::sim
