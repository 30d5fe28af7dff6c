#include "drive_mirror.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device_world.h"
#include "platform/win32/utf16.h"

namespace tw::devices {
namespace {

// How often the mirror looks at the board and at the folder. A person's copy takes longer.
constexpr DWORD kTurnMs = 100;
constexpr ULONGLONG kRemountMs = 2500;
constexpr char kLabelFile[] = ".windows-label";  // where Wine keeps a folder drive's label

std::wstring wide(const std::string& text) {
  return win32::toUtf16(text);
}

bool writeWhole(const std::string& path, const void* data, std::size_t size) {
  HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
}

// Whether the program has closed the file: only then can it be opened with no sharing.
bool closedByProgram(const std::string& path) {
  HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// A file the program is copying onto the drive, handed on as it grows, as the drive takes the
// sectors of a copy while it runs.
struct Incoming {
  std::unique_ptr<sim::Uf2Drive::Writer> writer;
  std::uint64_t fed = 0;
  bool refused = false;
};

// Hands on what was added since the last turn; true once the program has closed the file and
// all of it went on.
bool feed(const std::string& path, Incoming& incoming) {
  const bool closed = closedByProgram(path);  // looked at first: what follows is then all of it
  HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(incoming.fed);
  SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
  std::vector<std::uint8_t> chunk(65536);
  DWORD got = 0;
  while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0) {
    std::size_t written = 0;
    std::uint32_t error = 0;
    if (!incoming.refused && !incoming.writer->write(chunk.data(), got, written, error)) {
      std::fprintf(stderr, "[devices] the board's drive refused a write (Windows error %u)\n",
                   static_cast<unsigned>(error));
      incoming.refused = true;
    }
    incoming.fed += got;
  }
  CloseHandle(file);
  return closed;
}

std::vector<std::string> filesIn(const std::string& root) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide(root + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      names.push_back(win32::toUtf8(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// The folder a drive letter of the run points to (TW_DEVICES_DRIVE_DIR, a Unix path), as this
// process reaches it: Wine's Z: drive is the Unix root. While the folder does not exist the
// letter's link dangles and the drive is not there at all, as a board's drive is not.
std::string windowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// Shows the board's drive while the world has it, and hands every file the program writes there
// to the simulated drive once the program has closed it.
void mirror(const std::string& folder) {
  const std::string root = folder + "\\";
  const std::string making = folder + ".new";
  // The run leaves the folder there with the label when Wine starts, which is when Wine reads a
  // drive's label; the first turn takes it away unless the board has its drive.
  bool shown = true;
  std::set<std::string> ours;  // the drive's own files
  std::map<std::string, Incoming> copies;
  ULONGLONG hiddenAt = 0;
  for (;;) {
    Sleep(kTurnMs);
    std::shared_ptr<sim::Uf2Drive> drive;
    for (const auto& present : world().drives())
      if (present == world().boardDrive()) drive = present;
    // A volume comes back some time after its device: Windows mounts it once the device has
    // enumerated again, and Wine looks at its drives at most once a second.
    if (drive && !shown && GetTickCount64() - hiddenAt >= kRemountMs) {
      // Filled beside, then moved into place: the drive appears whole, label and files at once.
      CreateDirectoryW(wide(making).c_str(), nullptr);
      ours.clear();
      for (const sim::Uf2Drive::File& file : drive->files()) {
        writeWhole(making + "\\" + file.name, file.bytes.data(), file.bytes.size());
        ours.insert(file.name);
      }
      const std::string label = drive->label() + "\n";
      writeWhole(making + "\\" + kLabelFile, label.data(), label.size());
      shown = MoveFileW(wide(making).c_str(), wide(folder).c_str()) != FALSE;
    } else if (!drive && shown) {
      // The board left update mode: the drive goes, with whatever was copied onto it.
      for (const std::string& name : filesIn(root)) DeleteFileW(wide(root + name).c_str());
      shown = RemoveDirectoryW(wide(folder).c_str()) == FALSE;
      if (!shown) hiddenAt = GetTickCount64();
    }
    if (!shown) {
      copies.clear();  // the drive went in the middle of them
      continue;
    }
    for (const std::string& name : filesIn(root)) {
      if (name == kLabelFile || ours.count(name) != 0) continue;
      Incoming& incoming = copies[name];
      std::uint32_t error = 0;
      if (!incoming.writer) incoming.writer = drive->create(name, error);
      if (!incoming.writer) {
        copies.erase(name);
        continue;
      }
      if (!feed(root + name, incoming)) continue;
      if (!incoming.refused) incoming.writer->close(error);
      DeleteFileW(wide(root + name).c_str());
      copies.erase(name);
    }
  }
}

}  // namespace

void startDriveMirror() {
  const char* folder = std::getenv("TW_DEVICES_DRIVE_DIR");
  if (folder == nullptr || folder[0] != '/') return;
  std::thread(mirror, windowsPath(folder)).detach();
}

}  // namespace tw::devices
