#include "sim/sim_drive.h"

#include <algorithm>

#include "sim/windows_names.h"

namespace tw::sim {

bool SimDrive::makeFolder(const std::string&, std::uint32_t& error) {
  error = FILE_ERROR_ACCESS_DENIED;
  return false;
}

bool SimDrive::remove(const std::string&, std::uint32_t& error) {
  error = FILE_ERROR_ACCESS_DENIED;
  return false;
}

bool SimDrive::rename(const std::string&, const std::string&, std::uint32_t& error) {
  error = FILE_ERROR_ACCESS_DENIED;
  return false;
}

bool SimDrive::setLastWriteTime(const std::string&, std::uint64_t, std::uint32_t& error) {
  error = FILE_ERROR_ACCESS_DENIED;
  return false;
}

struct MemoryDrive::State {
  struct Node {
    std::string name;
    bool directory = false;
    std::string content;
    std::uint64_t lastWriteTime = 0;
    int writers = 0;
  };

  std::mutex mutex;
  std::function<std::uint64_t()> now;
  std::optional<std::string> label;
  bool present = true;
  std::map<std::string, Node> nodes;  // lower-cased path -> node; the root is not stored
  int openFiles = 0;

  static std::string parentOf(const std::string& key) {
    const std::size_t slash = key.rfind('\\');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
  }
  static std::string lastPart(const std::string& path) {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }

  bool isFolder(const std::string& key) const {
    if (key.empty()) return true;
    auto it = nodes.find(key);
    return it != nodes.end() && it->second.directory;
  }

  // Windows tells a missing file in an existing folder from a missing folder on the way.
  std::uint32_t missingError(const std::string& key) const {
    return isFolder(parentOf(key)) ? FILE_ERROR_FILE_NOT_FOUND : FILE_ERROR_PATH_NOT_FOUND;
  }

  Node* find(const std::string& key, std::uint32_t& error) {
    if (!present) {
      error = FILE_ERROR_NOT_READY;
      return nullptr;
    }
    auto it = nodes.find(key);
    if (it == nodes.end()) {
      error = missingError(key);
      return nullptr;
    }
    return &it->second;
  }

  void release(const std::string& key) {
    auto it = nodes.find(key);
    if (it != nodes.end() && it->second.writers > 0) --it->second.writers;
    --openFiles;
  }
};

namespace {

bool fail(std::uint32_t& error, std::uint32_t code) {
  error = code;
  return false;
}

class MemoryWriter : public FileWriter {
 public:
  MemoryWriter(std::shared_ptr<MemoryDrive::State> state, std::string key)
      : state_(std::move(state)), key_(std::move(key)) {}
  ~MemoryWriter() override {
    std::lock_guard lock(state_->mutex);
    if (open_) state_->release(key_);
  }
  MemoryWriter(const MemoryWriter&) = delete;
  MemoryWriter& operator=(const MemoryWriter&) = delete;

  bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written,
             std::uint32_t& error) override {
    std::lock_guard lock(state_->mutex);
    written = 0;
    if (!usable(error)) return false;
    auto& node = state_->nodes[key_];
    node.content.append(reinterpret_cast<const char*>(data), size);
    node.lastWriteTime = state_->now();
    written = size;
    return true;
  }

  bool flush(std::uint32_t& error) override {
    std::lock_guard lock(state_->mutex);
    return usable(error);
  }

  bool close(std::uint32_t& error) override {
    std::lock_guard lock(state_->mutex);
    if (!open_) return fail(error, FILE_ERROR_INVALID_HANDLE);
    open_ = false;
    state_->release(key_);
    return true;
  }

 private:
  bool usable(std::uint32_t& error) const {
    if (!open_) return fail(error, FILE_ERROR_INVALID_HANDLE);
    if (!state_->present) return fail(error, FILE_ERROR_DEVICE_NOT_CONNECTED);
    return true;
  }

  std::shared_ptr<MemoryDrive::State> state_;
  const std::string key_;
  bool open_ = true;
};

}  // namespace

MemoryDrive::MemoryDrive(DriveType type, std::optional<std::string> label,
                         std::function<std::uint64_t()> now)
    : type_(type), state_(std::make_shared<State>()) {
  state_->now = now ? std::move(now) : [] { return std::uint64_t{0}; };
  state_->label = std::move(label);
}

MemoryDrive::~MemoryDrive() = default;

void MemoryDrive::setLabel(std::optional<std::string> label) {
  std::lock_guard lock(state_->mutex);
  state_->label = std::move(label);
}

void MemoryDrive::setPresent(bool present) {
  std::lock_guard lock(state_->mutex);
  state_->present = present;
}

int MemoryDrive::openFiles() const {
  std::lock_guard lock(state_->mutex);
  return state_->openFiles;
}

DriveType MemoryDrive::type() {
  return type_;
}

std::optional<std::string> MemoryDrive::label() {
  std::lock_guard lock(state_->mutex);
  return state_->label;
}

bool MemoryDrive::present() {
  std::lock_guard lock(state_->mutex);
  return state_->present;
}

void MemoryDrive::plugged() {
  setPresent(true);
}

void MemoryDrive::unplugged() {
  setPresent(false);
}

bool MemoryDrive::stat(const std::string& path, SimEntry& entry, std::uint32_t& error) {
  std::lock_guard lock(state_->mutex);
  if (!state_->present) return fail(error, FILE_ERROR_NOT_READY);
  if (path.empty()) {
    entry = SimEntry{"", true, 0, 0};
    return true;
  }
  const State::Node* node = state_->find(lowerAscii(path), error);
  if (!node) return false;
  entry = SimEntry{node->name, node->directory, node->content.size(), node->lastWriteTime};
  return true;
}

bool MemoryDrive::list(const std::string& folder, std::vector<SimEntry>& entries,
                       std::uint32_t& error) {
  std::lock_guard lock(state_->mutex);
  if (!state_->present) return fail(error, FILE_ERROR_NOT_READY);
  const std::string key = lowerAscii(folder);
  if (!state_->isFolder(key)) return fail(error, FILE_ERROR_PATH_NOT_FOUND);
  entries.clear();
  std::vector<std::pair<std::string, SimEntry>> found;
  for (const auto& [path, node] : state_->nodes) {
    if (State::parentOf(path) != key) continue;
    found.push_back({State::lastPart(path),
                     SimEntry{node.name, node.directory, node.content.size(), node.lastWriteTime}});
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [name, entry] : found) entries.push_back(std::move(entry));
  return true;
}

bool MemoryDrive::read(const std::string& path, std::string& content, std::uint32_t& error) {
  std::lock_guard lock(state_->mutex);
  if (path.empty()) return fail(error, FILE_ERROR_ACCESS_DENIED);
  const State::Node* node = state_->find(lowerAscii(path), error);
  if (!node) return false;
  if (node->directory) return fail(error, FILE_ERROR_ACCESS_DENIED);
  if (node->writers > 0) return fail(error, FILE_ERROR_SHARING_VIOLATION);
  content = node->content;
  return true;
}

std::unique_ptr<FileWriter> MemoryDrive::create(const std::string& path, std::uint32_t& error) {
  std::lock_guard lock(state_->mutex);
  if (!state_->present) {
    error = FILE_ERROR_NOT_READY;
    return nullptr;
  }
  const std::string key = lowerAscii(path);
  if (key.empty()) {
    error = FILE_ERROR_ACCESS_DENIED;
    return nullptr;
  }
  if (!state_->isFolder(State::parentOf(key))) {
    error = FILE_ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  auto it = state_->nodes.find(key);
  if (it != state_->nodes.end()) {
    if (it->second.directory) {
      error = FILE_ERROR_ACCESS_DENIED;
      return nullptr;
    }
    if (it->second.writers > 0) {
      error = FILE_ERROR_SHARING_VIOLATION;
      return nullptr;
    }
    // An existing file keeps the spelling of its name.
    it->second.content.clear();
  } else {
    it = state_->nodes.emplace(key, State::Node{State::lastPart(path), false, {}, 0, 0}).first;
  }
  it->second.lastWriteTime = state_->now();
  ++it->second.writers;
  ++state_->openFiles;
  return std::make_unique<MemoryWriter>(state_, key);
}

bool MemoryDrive::makeFolder(const std::string& path, std::uint32_t& error) {
  std::lock_guard lock(state_->mutex);
  if (!state_->present) return fail(error, FILE_ERROR_NOT_READY);
  const std::string key = lowerAscii(path);
  if (key.empty() || state_->nodes.count(key) != 0) return fail(error, FILE_ERROR_ALREADY_EXISTS);
  if (!state_->isFolder(State::parentOf(key))) return fail(error, FILE_ERROR_PATH_NOT_FOUND);
  state_->nodes.emplace(key, State::Node{State::lastPart(path), true, {}, state_->now(), 0});
  return true;
}

bool MemoryDrive::remove(const std::string& path, std::uint32_t& error) {
  std::lock_guard lock(state_->mutex);
  if (path.empty()) return fail(error, FILE_ERROR_ACCESS_DENIED);
  const std::string key = lowerAscii(path);
  State::Node* node = state_->find(key, error);
  if (!node) return false;
  if (node->directory) return fail(error, FILE_ERROR_ACCESS_DENIED);
  if (node->writers > 0) return fail(error, FILE_ERROR_SHARING_VIOLATION);
  state_->nodes.erase(key);
  return true;
}

bool MemoryDrive::rename(const std::string& from, const std::string& to, std::uint32_t& error) {
  std::lock_guard lock(state_->mutex);
  if (from.empty() || to.empty()) return fail(error, FILE_ERROR_ACCESS_DENIED);
  const std::string fromKey = lowerAscii(from);
  const std::string toKey = lowerAscii(to);
  State::Node* source = state_->find(fromKey, error);
  if (!source) return false;
  if (source->writers > 0) return fail(error, FILE_ERROR_SHARING_VIOLATION);
  if (!state_->isFolder(State::parentOf(toKey))) return fail(error, FILE_ERROR_PATH_NOT_FOUND);
  if (fromKey == toKey) {
    source->name = State::lastPart(to);  // a change of case only
    return true;
  }
  auto target = state_->nodes.find(toKey);
  if (target != state_->nodes.end()) {
    if (target->second.directory || source->directory) return fail(error, FILE_ERROR_ACCESS_DENIED);
    if (target->second.writers > 0) return fail(error, FILE_ERROR_SHARING_VIOLATION);
  }
  const std::string inside = fromKey + "\\";
  if (source->directory && toKey.compare(0, inside.size(), inside) == 0) {
    return fail(error, FILE_ERROR_ACCESS_DENIED);  // a folder cannot move into itself
  }
  // A folder takes everything below it along.
  std::vector<std::string> keys;
  for (const auto& [key, node] : state_->nodes) {
    if (key != fromKey && key.compare(0, inside.size(), inside) != 0) continue;
    if (node.writers > 0) return fail(error, FILE_ERROR_SHARING_VIOLATION);
    keys.push_back(key);
  }
  state_->nodes.erase(toKey);
  for (const std::string& key : keys) {
    auto node = state_->nodes.extract(key);
    node.key() = toKey + key.substr(fromKey.size());
    if (key == fromKey) node.mapped().name = State::lastPart(to);
    state_->nodes.insert(std::move(node));
  }
  return true;
}

bool MemoryDrive::setLastWriteTime(const std::string& path, std::uint64_t time,
                                   std::uint32_t& error) {
  std::lock_guard lock(state_->mutex);
  if (path.empty()) return fail(error, FILE_ERROR_ACCESS_DENIED);
  State::Node* node = state_->find(lowerAscii(path), error);
  if (!node) return false;
  node->lastWriteTime = time;
  return true;
}

}  // namespace tw::sim
