#include "sim/sim_file_system.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/utf16_units.h"
#include "sim/windows_names.h"

namespace tw::sim {
namespace {

constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorFileNotFoundResult = 0x80070002;  // HRESULT of ERROR_FILE_NOT_FOUND
constexpr std::size_t kMaxPathUnits = 260;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedFileInfoSize = 52;

bool fail(std::uint32_t& error, std::uint32_t code) {
  error = code;
  return false;
}

char upperLetter(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return (c >= 'A' && c <= 'Z') ? c : 0;
}

bool validName(std::string_view name) {
  for (unsigned char c : name) {
    if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) return false;
  }
  return true;
}

struct Tidied {
  char letter = 0;
  std::vector<std::string> parts;
  std::string inside() const {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : "\\") + part;
    return out;
  }
  std::string whole() const { return std::string(1, letter) + ":\\" + inside(); }
};

// Windows' tidying of a full path: either separator, no repeated separators, "." and ".." resolved,
// trailing dots and spaces dropped from names.
bool tidy(std::string_view path, bool longPaths, Tidied& out, std::uint32_t& error) {
  if (!longPaths && utf16Units(path) >= kMaxPathUnits) {
    return fail(error, FILE_ERROR_FILENAME_EXCED_RANGE);
  }
  const bool separated =
      path.size() == 2 || (path.size() > 2 && (path[2] == '\\' || path[2] == '/'));
  if (path.size() < 2 || path[1] != ':' || upperLetter(path[0]) == 0 || !separated) {
    return fail(error, FILE_ERROR_PATH_NOT_FOUND);  // no current folder in this world
  }
  out.letter = upperLetter(path[0]);
  out.parts.clear();
  std::size_t at = 2;
  while (at < path.size()) {
    const std::size_t end = path.find_first_of("\\/", at + 1);
    std::string_view part =
        path.substr(at + 1, (end == std::string_view::npos ? path.size() : end) - at - 1);
    at = end == std::string_view::npos ? path.size() : end;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!out.parts.empty()) out.parts.pop_back();
      continue;
    }
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
    if (part.empty() || !validName(part)) return fail(error, kErrorInvalidName);
    out.parts.emplace_back(part);
  }
  return true;
}

// The calendar: `start` at the clock's tick `startTick`, moving with the clock.
std::uint64_t fileTime(Clock& clock, std::uint64_t start, std::uint64_t startTick) {
  return start + (clock.tickMs() - startTick) * (FILE_TIME_UNITS_PER_SECOND / 1000);
}

void putLittleEndian(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t getLittleEndian(const std::string& in, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[at + i]);
  return value;
}

void putWord(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

std::uint16_t getWord(const std::string& in, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(in[at]) |
                                    (static_cast<unsigned char>(in[at + 1]) << 8));
}

// ASCII as UTF-16LE, with the terminator.
std::string wide(std::string_view ascii) {
  std::string out;
  for (char c : ascii) putWord(out, static_cast<unsigned char>(c));
  putWord(out, 0);
  return out;
}

void padToFour(std::string& out) {
  while (out.size() % 4 != 0) out.push_back('\0');
}

// One String structure of a version resource: length, value length in characters (terminator
// included), type 1 (text), the key, padding, the value, padding.
void putVersionString(std::string& image, std::string_view key, std::string_view value) {
  std::string entry;
  putWord(entry, 0);
  putWord(entry, static_cast<std::uint16_t>(value.size() + 1));
  putWord(entry, 1);
  entry += wide(key);
  padToFour(entry);
  entry += wide(value);
  const std::uint16_t length = static_cast<std::uint16_t>(entry.size());
  entry[0] = static_cast<char>(length & 0xFF);
  entry[1] = static_cast<char>(length >> 8);
  padToFour(entry);
  padToFour(image);
  image += entry;
}

// The value of the String structure `key` in `content`, or nothing. The structure's type word
// (1) must come just before the key, so that "Name" is never found inside "ProductName".
std::optional<std::string> findVersionString(const std::string& content, std::string_view key) {
  const std::string pattern = wide(key);
  for (std::size_t at = content.find(pattern); at != std::string::npos;
       at = content.find(pattern, at + 1)) {
    if (at < 6 || at % 2 != 0 || getWord(content, at - 2) != 1) continue;
    const std::size_t entryLength = getWord(content, at - 6);
    const std::size_t entryEnd = at - 6 + entryLength;
    std::size_t valueAt = at + pattern.size();
    valueAt += (4 - valueAt % 4) % 4;
    if (entryEnd > content.size() || valueAt > entryEnd) return std::nullopt;
    std::string value;
    for (std::size_t i = valueAt; i + 1 < entryEnd; i += 2) {
      const std::uint16_t unit = getWord(content, i);
      if (unit == 0) break;
      value.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return value;
  }
  return std::nullopt;
}

}  // namespace

struct SimFileSystem::Failures {
  std::mutex mutex;
  FaultPlan plan;
  std::map<std::string, std::uint32_t> errors;
  int openFiles = 0;

  bool failing(const char* operation, std::uint32_t& error) {
    if (plan.next(operation) != FaultKind::Fail) return false;
    std::lock_guard lock(mutex);
    error = errors[operation];
    return true;
  }
};

namespace {

// The file system's view of a writer on some drive: failures on demand and the count of open
// files, whatever the drive.
class CountedWriter : public FileWriter {
 public:
  CountedWriter(std::shared_ptr<SimFileSystem::Failures> failures,
                std::unique_ptr<FileWriter> inner)
      : failures_(std::move(failures)), inner_(std::move(inner)) {
    std::lock_guard lock(failures_->mutex);
    ++failures_->openFiles;
  }
  ~CountedWriter() override { release(); }
  CountedWriter(const CountedWriter&) = delete;
  CountedWriter& operator=(const CountedWriter&) = delete;

  bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written,
             std::uint32_t& error) override {
    written = 0;
    if (counted_ && failures_->failing("write", error)) return false;
    return inner_->write(data, size, written, error);
  }

  bool flush(std::uint32_t& error) override {
    if (counted_ && failures_->failing("flush", error)) return false;
    return inner_->flush(error);
  }

  bool close(std::uint32_t& error) override {
    const bool refused = counted_ && failures_->failing("close", error);
    std::uint32_t innerError = 0;
    // A handle is gone after CloseHandle even when the call reports a failure.
    const bool closed = inner_->close(innerError);
    release();
    if (refused) return false;
    if (!closed) error = innerError;
    return closed;
  }

 private:
  void release() {
    if (!counted_) return;
    counted_ = false;
    std::lock_guard lock(failures_->mutex);
    --failures_->openFiles;
  }

  std::shared_ptr<SimFileSystem::Failures> failures_;
  std::unique_ptr<FileWriter> inner_;
  bool counted_ = true;
};

}  // namespace

SimFileSystem::SimFileSystem(Clock& clock, std::uint64_t startTime)
    : clock_(clock),
      startTime_(startTime),
      startTick_(clock.tickMs()),
      failures_(std::make_shared<Failures>()) {
  addDrive('C', DriveType::Fixed, "Windows");
  addDirectory(std::string(kTempFolder));
  addDirectory(std::string(kUserProfile) + "\\Downloads");
  addDirectory("C:\\Program Files (x86)");
  addFile(kProgramPath, programImage({1, 2, 0, 0}));
  setEnvironment("ProgramFiles", "C:\\Program Files");
  setEnvironment("ProgramFiles(x86)", "C:\\Program Files (x86)");
  setEnvironment("USERPROFILE", kUserProfile);
  setEnvironment("LOCALAPPDATA", kLocalAppData);
  setEnvironment("TEMP", "C:\\Users\\Tess\\AppData\\Local\\Temp");
  setEnvironment("TMP", "C:\\Users\\Tess\\AppData\\Local\\Temp");
  setEnvironment("SystemRoot", "C:\\Windows");
}

SimFileSystem::~SimFileSystem() = default;

// --- Drives ---

std::shared_ptr<MemoryDrive> SimFileSystem::addDrive(char letter, DriveType type,
                                                     std::optional<std::string> label) {
  // The drive may outlive the file system; its calendar needs only the clock.
  auto drive = std::make_shared<MemoryDrive>(
      type, std::move(label), [&clock = clock_, start = startTime_, tick = startTick_] {
        return fileTime(clock, start, tick);
      });
  unmount(letter);
  mount(letter, drive);
  return drive;
}

bool SimFileSystem::mount(char letter, std::shared_ptr<SimDrive> drive) {
  letter = upperLetter(letter);
  if (letter == 0 || !drive) return false;
  {
    std::lock_guard lock(mutex_);
    if (!drives_.emplace(letter, drive).second) return false;
  }
  drive->plugged();
  return true;
}

char SimFileSystem::mountAtFreeLetter(std::shared_ptr<SimDrive> drive) {
  if (!drive) return 0;
  char letter = 'D';
  {
    std::lock_guard lock(mutex_);
    while (letter <= 'Z' && drives_.count(letter) != 0) ++letter;
    if (letter > 'Z') return 0;
    drives_.emplace(letter, drive);
  }
  drive->plugged();
  return letter;
}

std::shared_ptr<SimDrive> SimFileSystem::unmount(char letter) {
  std::shared_ptr<SimDrive> drive;
  {
    std::lock_guard lock(mutex_);
    auto it = drives_.find(upperLetter(letter));
    if (it == drives_.end()) return nullptr;
    drive = std::move(it->second);
    drives_.erase(it);
  }
  drive->unplugged();
  return drive;
}

std::shared_ptr<SimDrive> SimFileSystem::drive(char letter) const {
  std::lock_guard lock(mutex_);
  auto it = drives_.find(upperLetter(letter));
  return it == drives_.end() ? nullptr : it->second;
}

bool SimFileSystem::locate(const std::string& path, Place& place, std::uint32_t& error) const {
  Tidied tidied;
  bool longPaths = false;
  {
    std::lock_guard lock(mutex_);
    longPaths = longPaths_;
  }
  if (!tidy(path, longPaths, tidied, error)) return false;
  {
    std::lock_guard lock(mutex_);
    auto it = drives_.find(tidied.letter);
    if (it != drives_.end()) place.drive = it->second;
  }
  // A letter without a drive, or whose drive has gone, names nothing.
  if (!place.drive || !place.drive->present()) return fail(error, FILE_ERROR_PATH_NOT_FOUND);
  place.path = tidied.inside();
  place.key = lowerAscii(tidied.whole());
  return true;
}

bool SimFileSystem::failing(const char* operation, std::uint32_t& error) {
  return failures_->failing(operation, error);
}

bool SimFileSystem::isRunningProgram(const Place& place) const {
  std::optional<std::string> module;
  {
    std::lock_guard lock(mutex_);
    module = modulePath_;
  }
  Tidied tidied;
  std::uint32_t ignored = 0;
  return module && tidy(*module, true, tidied, ignored) && lowerAscii(tidied.whole()) == place.key;
}

std::unique_ptr<FileWriter> SimFileSystem::wrap(std::unique_ptr<FileWriter> writer) {
  if (!writer) return nullptr;
  return std::make_unique<CountedWriter>(failures_, std::move(writer));
}

// --- Files, for setting up a test ---

bool SimFileSystem::makeFolders(const Place& place, std::uint32_t& error) {
  std::string path;
  std::size_t at = 0;
  while (at <= place.path.size() && !place.path.empty()) {
    const std::size_t end = place.path.find('\\', at);
    path = place.path.substr(0, end);
    SimEntry entry;
    std::uint32_t ignored = 0;
    const bool last = end == std::string::npos;
    if (place.drive->stat(path, entry, ignored)) {
      // Something by that name is already there: the last part fails, a file on the way too.
      if (last) return fail(error, FILE_ERROR_ALREADY_EXISTS);
      if (!entry.directory) return fail(error, FILE_ERROR_PATH_NOT_FOUND);
    } else if (!place.drive->makeFolder(path, error)) {
      return false;
    }
    if (last) return true;
    at = end + 1;
  }
  return fail(error, FILE_ERROR_ALREADY_EXISTS);  // the root
}

bool SimFileSystem::addFile(const std::string& path, const std::string& content) {
  Place place;
  std::uint32_t error = 0;
  if (!locate(path, place, error)) return false;
  const std::size_t slash = place.path.rfind('\\');
  if (slash != std::string::npos) {
    Place folder{place.drive, place.path.substr(0, slash), {}};
    if (!makeFolders(folder, error) && error != FILE_ERROR_ALREADY_EXISTS) return false;
  }
  auto writer = place.drive->create(place.path, error);
  std::uint32_t written = 0;
  return writer &&
         writer->write(reinterpret_cast<const std::uint8_t*>(content.data()),
                       static_cast<std::uint32_t>(content.size()), written, error) &&
         writer->close(error);
}

bool SimFileSystem::addDirectory(const std::string& path) {
  Place place;
  std::uint32_t error = 0;
  if (!locate(path, place, error)) return false;
  return makeFolders(place, error) || error == FILE_ERROR_ALREADY_EXISTS;
}

bool SimFileSystem::removeFile(const std::string& path) {
  Place place;
  std::uint32_t error = 0;
  return locate(path, place, error) && place.drive->remove(place.path, error);
}

std::optional<std::string> SimFileSystem::fileContent(const std::string& path) {
  Place place;
  std::uint32_t error = 0;
  std::string content;
  if (!locate(path, place, error) || !place.drive->read(place.path, content, error)) {
    return std::nullopt;
  }
  return content;
}

bool SimFileSystem::setLastWriteTime(const std::string& path, std::uint64_t time) {
  Place place;
  std::uint32_t error = 0;
  return locate(path, place, error) && place.drive->setLastWriteTime(place.path, time, error);
}

std::string SimFileSystem::programImage(FileVersionParts version, const ProgramNames& names) {
  std::string image = programImageWithoutVersion();
  image += "VS_VERSION_INFO";
  image.append(3, '\0');
  // VS_FIXEDFILEINFO: signature, structure version, file version, product version, flags mask,
  // flags, OS, type, subtype, date.
  putLittleEndian(image, kFixedFileInfoSignature);
  putLittleEndian(image, 0x00010000);
  const std::uint32_t ms = (std::uint32_t{version.major} << 16) | version.minor;
  const std::uint32_t ls = (std::uint32_t{version.build} << 16) | version.revision;
  for (std::uint32_t value : {ms, ls, ms, ls, 0x3Fu, 0u, 0x40004u, 1u, 0u, 0u, 0u}) {
    putLittleEndian(image, value);
  }
  image.append(64, '\0');
  // The string table, with the entries that name the program among others.
  image += wide("StringFileInfo");
  image += wide("040904b0");
  putVersionString(image, "CompanyName", "Tarnwick");
  putVersionString(image, "OriginalFilename", names.originalFilename);
  putVersionString(image, "ProductName", names.productName);
  image.append(16, '\0');
  return image;
}

std::string SimFileSystem::programImageWithoutVersion() {
  std::string image = "MZ";
  image.append(62, '\0');
  image += "This program cannot be run in DOS mode.";
  image.append(32, '\0');
  return image;
}

// --- The program and its environment ---

void SimFileSystem::setModulePath(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  modulePath_ = std::move(path);
}

void SimFileSystem::setEnvironment(const std::string& name, const std::string& value) {
  std::lock_guard lock(mutex_);
  environment_[lowerAscii(name)] = value;
}

void SimFileSystem::setTempFolder(std::optional<std::string> path) {
  if (path && (path->empty() || path->back() != '\\')) *path += '\\';
  std::lock_guard lock(mutex_);
  tempFolder_ = std::move(path);
}

void SimFileSystem::setLocalAppDataFolder(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  localAppData_ = std::move(path);
}

void SimFileSystem::allowLongPaths(bool allowed) {
  std::lock_guard lock(mutex_);
  longPaths_ = allowed;
}

std::uint32_t SimFileSystem::errorMode() const {
  std::lock_guard lock(mutex_);
  return errorMode_;
}

int SimFileSystem::volumeLabelQueries() const {
  std::lock_guard lock(mutex_);
  return labelQueries_;
}

int SimFileSystem::openFiles() const {
  std::lock_guard lock(failures_->mutex);
  return failures_->openFiles;
}

void SimFileSystem::failCall(const std::string& operation, std::uint32_t error, std::uint32_t nth,
                             std::uint32_t count) {
  {
    std::lock_guard lock(failures_->mutex);
    failures_->errors[operation] = error;
  }
  failures_->plan.inject(operation, FaultKind::Fail, nth, count);
}

void SimFileSystem::failAlways(const std::string& operation, std::uint32_t error) {
  {
    std::lock_guard lock(failures_->mutex);
    failures_->errors[operation] = error;
  }
  failures_->plan.always(operation, FaultKind::Fail);
}

void SimFileSystem::clearFailures() {
  failures_->plan.clearAll();
}

// --- FileSystem: volumes ---

PathKind SimFileSystem::pathKind(const std::string& path) {
  Place place;
  std::uint32_t error = 0;
  SimEntry entry;
  if (!locate(path, place, error) || !place.drive->stat(place.path, entry, error)) {
    return PathKind::Missing;
  }
  return entry.directory ? PathKind::Directory : PathKind::File;
}

std::uint32_t SimFileSystem::logicalDrives() {
  std::map<char, std::shared_ptr<SimDrive>> drives;
  {
    std::lock_guard lock(mutex_);
    drives = drives_;
  }
  std::uint32_t mask = 0;
  for (const auto& [letter, drive] : drives) {
    if (drive->present()) mask |= 1u << (letter - 'A');
  }
  return mask;
}

DriveType SimFileSystem::driveType(const std::string& root) {
  // GetDriveTypeW wants the root with its backslash.
  if (root.size() != 3 || root[1] != ':' || root[2] != '\\') return DriveType::NoRootDir;
  std::shared_ptr<SimDrive> found = drive(root[0]);
  if (!found || !found->present()) return DriveType::NoRootDir;
  return found->type();
}

bool SimFileSystem::volumeLabel(const std::string& root, std::size_t maxChars, std::string& label) {
  {
    std::lock_guard lock(mutex_);
    ++labelQueries_;
  }
  std::uint32_t error = 0;
  if (failing("volumeLabel", error)) return false;
  if (root.size() != 3 || root[1] != ':' || root[2] != '\\') return false;
  std::shared_ptr<SimDrive> found = drive(root[0]);
  if (!found || !found->present()) return false;
  const std::optional<std::string> name = found->label();
  if (!name || utf16Units(*name) + 1 > maxChars) return false;
  label = *name;
  return true;
}

// --- FileSystem: the program and its environment ---

bool SimFileSystem::ownModulePath(std::size_t maxChars, std::string& path) {
  std::lock_guard lock(mutex_);
  if (!modulePath_ || utf16Units(*modulePath_) + 1 > maxChars) return false;
  path = *modulePath_;
  return true;
}

bool SimFileSystem::expandEnvironment(const std::string& text, std::size_t maxChars,
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
    auto it = environment_.find(lowerAscii(text.substr(open + 1, close - open - 1)));
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

std::uint32_t SimFileSystem::tempPath(std::uint32_t bufferUnits, std::string& path) {
  std::uint32_t error = 0;
  if (failing("tempPath", error)) return 0;
  std::lock_guard lock(mutex_);
  if (!tempFolder_) return 0;
  const auto length = static_cast<std::uint32_t>(utf16Units(*tempFolder_));
  if (length >= bufferUnits) return length + 1;
  path = *tempFolder_;
  return length;
}

bool SimFileSystem::localAppDataFolder(std::string& path, std::uint32_t& error) {
  if (failing("localAppDataFolder", error)) return false;
  std::lock_guard lock(mutex_);
  if (!localAppData_) return fail(error, kErrorFileNotFoundResult);
  path = *localAppData_;
  return true;
}

std::uint64_t SimFileSystem::systemTimeNow() {
  return fileTime(clock_, startTime_, startTick_);
}

std::uint32_t SimFileSystem::addErrorMode(std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  const std::uint32_t previous = errorMode_;
  errorMode_ |= flags;
  return previous;
}

// --- FileSystem: files and folders ---

bool SimFileSystem::fileAttributes(const std::string& path, FileAttributes& out,
                                   std::uint32_t& error) {
  if (failing("fileAttributes", error)) return false;
  Place place;
  SimEntry entry;
  if (!locate(path, place, error) || !place.drive->stat(place.path, entry, error)) return false;
  out.attributes = entry.directory ? FILE_ATTRIBUTE_BIT_DIRECTORY : FILE_ATTRIBUTE_BIT_ARCHIVE;
  out.size = entry.directory ? 0 : entry.size;
  out.lastWriteTime = entry.lastWriteTime;
  return true;
}

bool SimFileSystem::createFolder(const std::string& path, std::uint32_t& error) {
  if (failing("createFolder", error)) return false;
  Place place;
  return locate(path, place, error) && makeFolders(place, error);
}

std::unique_ptr<FileWriter> SimFileSystem::createFile(const std::string& path,
                                                      std::uint32_t& error) {
  if (failing("createFile", error)) return nullptr;
  Place place;
  if (!locate(path, place, error)) return nullptr;
  if (isRunningProgram(place)) {
    error = FILE_ERROR_SHARING_VIOLATION;
    return nullptr;
  }
  return wrap(place.drive->create(place.path, error));
}

bool SimFileSystem::writeFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                              std::uint32_t& error) {
  if (failing("writeFile", error)) return false;
  std::unique_ptr<FileWriter> writer = createFile(path, error);
  if (!writer) return false;
  std::size_t done = 0;
  while (done < size) {
    const auto part = static_cast<std::uint32_t>(std::min<std::size_t>(size - done, 1u << 30));
    std::uint32_t written = 0;
    if (!writer->write(data + done, part, written, error)) return false;
    if (written == 0) return fail(error, FILE_ERROR_WRITE_FAULT);
    done += written;
  }
  return writer->close(error);
}

bool SimFileSystem::readWhole(const std::string& path, const char* operation, std::string& content,
                              std::uint32_t& error) {
  if (failing(operation, error)) return false;
  Place place;
  return locate(path, place, error) && place.drive->read(place.path, content, error);
}

bool SimFileSystem::readFile(const std::string& path, std::size_t maxBytes, FileBytes& data,
                             std::size_t& length, std::uint32_t& error) {
  data.reset();
  length = 0;
  std::string content;
  if (!readWhole(path, "readFile", content, error)) return false;
  if (content.size() > maxBytes) return fail(error, FILE_ERROR_FILE_TOO_LARGE);
  FileBytes buffer(static_cast<std::uint8_t*>(std::malloc(content.empty() ? 1 : content.size())));
  if (!buffer) return fail(error, FILE_ERROR_NOT_ENOUGH_MEMORY);
  std::memcpy(buffer.get(), content.data(), content.size());
  data = std::move(buffer);
  length = content.size();
  return true;
}

bool SimFileSystem::readFileStart(const std::string& path, std::uint8_t* buffer, std::uint32_t size,
                                  std::uint32_t& got, std::uint32_t& error) {
  got = 0;
  std::string content;
  if (!readWhole(path, "readFileStart", content, error)) return false;
  got = static_cast<std::uint32_t>(std::min<std::size_t>(size, content.size()));
  std::memcpy(buffer, content.data(), got);
  return true;
}

bool SimFileSystem::renameOver(const std::string& from, const std::string& to,
                               std::uint32_t& error) {
  if (failing("renameOver", error)) return false;
  Place source, target;
  if (!locate(from, source, error) || !locate(to, target, error)) return false;
  if (source.drive != target.drive) return fail(error, FILE_ERROR_NOT_SAME_DEVICE);
  if (isRunningProgram(target)) return fail(error, FILE_ERROR_ACCESS_DENIED);
  return source.drive->rename(source.path, target.path, error);
}

bool SimFileSystem::copyFile(const std::string& from, const std::string& to, std::uint32_t& error) {
  if (failing("copyFile", error)) return false;
  Place source, target;
  std::string content;
  SimEntry entry;
  if (!locate(from, source, error) || !source.drive->stat(source.path, entry, error) ||
      !source.drive->read(source.path, content, error) || !locate(to, target, error)) {
    return false;
  }
  if (isRunningProgram(target) || source.key == target.key) {
    return fail(error, FILE_ERROR_SHARING_VIOLATION);
  }
  std::unique_ptr<FileWriter> writer = target.drive->create(target.path, error);
  std::uint32_t written = 0;
  if (!writer ||
      !writer->write(reinterpret_cast<const std::uint8_t*>(content.data()),
                     static_cast<std::uint32_t>(content.size()), written, error) ||
      !writer->close(error)) {
    return false;
  }
  // CopyFileW gives the copy the original's last-write time.
  std::uint32_t ignored = 0;
  target.drive->setLastWriteTime(target.path, entry.lastWriteTime, ignored);
  return true;
}

bool SimFileSystem::deleteFile(const std::string& path, std::uint32_t& error) {
  if (failing("deleteFile", error)) return false;
  Place place;
  if (!locate(path, place, error)) return false;
  if (isRunningProgram(place)) return fail(error, FILE_ERROR_ACCESS_DENIED);
  return place.drive->remove(place.path, error);
}

bool SimFileSystem::listFolder(const std::string& pattern, std::vector<FolderEntry>& entries,
                               std::uint32_t& error) {
  entries.clear();
  if (failing("listFolder", error)) return false;
  const std::size_t slash = pattern.find_last_of("\\/");
  if (slash == std::string::npos) return fail(error, FILE_ERROR_PATH_NOT_FOUND);
  const std::string name = pattern.substr(slash + 1);
  if (name.empty()) return fail(error, FILE_ERROR_FILE_NOT_FOUND);
  Place folder;
  SimEntry entry;
  if (!locate(pattern.substr(0, slash + 1), folder, error)) return false;
  if (!folder.drive->stat(folder.path, entry, error) || !entry.directory) {
    return fail(error, FILE_ERROR_PATH_NOT_FOUND);
  }
  std::vector<SimEntry> inside;
  if (!folder.drive->list(folder.path, inside, error)) return false;
  // Every folder but a root lists itself and its parent first.
  if (!folder.path.empty()) {
    for (const char* dots : {"..", "."}) inside.insert(inside.begin(), SimEntry{dots, true, 0, 0});
  }
  for (const SimEntry& found : inside) {
    if (matchesWildcard(name, found.name))
      entries.push_back(FolderEntry{found.name, found.directory});
  }
  if (entries.empty()) return fail(error, FILE_ERROR_FILE_NOT_FOUND);
  return true;
}

bool SimFileSystem::fileVersion(const std::string& path, FileVersionParts& version,
                                std::uint32_t& error) {
  std::string content;
  if (!readWhole(path, "fileVersion", content, error)) return false;
  // Windows finds no resources in a file that is not a program.
  if (content.compare(0, 2, "MZ") != 0) return fail(error, FILE_ERROR_RESOURCE_DATA_NOT_FOUND);
  const std::string signature = [] {
    std::string bytes;
    putLittleEndian(bytes, kFixedFileInfoSignature);
    return bytes;
  }();
  const std::size_t at = content.find(signature);
  if (at == std::string::npos) return fail(error, FILE_ERROR_RESOURCE_TYPE_NOT_FOUND);
  if (content.size() - at < kFixedFileInfoSize)
    return fail(error, FILE_ERROR_RESOURCE_DATA_NOT_FOUND);
  const std::uint32_t ms = getLittleEndian(content, at + 8);
  const std::uint32_t ls = getLittleEndian(content, at + 12);
  version = FileVersionParts{
      static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms & 0xFFFF),
      static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls & 0xFFFF)};
  return true;
}

bool SimFileSystem::fileVersionText(const std::string& path, const std::string& name,
                                    std::string& value, std::uint32_t& error) {
  std::string content;
  if (!readWhole(path, "fileVersionText", content, error)) return false;
  if (content.compare(0, 2, "MZ") != 0) return fail(error, FILE_ERROR_RESOURCE_DATA_NOT_FOUND);
  std::string signature;
  putLittleEndian(signature, kFixedFileInfoSignature);
  if (content.find(signature) == std::string::npos) {
    return fail(error, FILE_ERROR_RESOURCE_TYPE_NOT_FOUND);
  }
  const std::optional<std::string> found = findVersionString(content, name);
  if (!found) return fail(error, FILE_ERROR_RESOURCE_NAME_NOT_FOUND);
  value = *found;
  return true;
}

}  // namespace tw::sim
