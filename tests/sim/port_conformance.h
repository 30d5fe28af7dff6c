// What the file-system and registry ports must do, checked the same way on the simulated world
// (tests/sim/sim_file_system_test.cpp) and through the Win32 adapters under Wine
// (tests/wine/file_system_probe.cpp), so that the simulation cannot drift away from Windows.
// Only what Windows itself guarantees is checked here; the simulation's extras have tests of their
// own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/registry.h"

namespace tw::conformance {

// Reports one check: whether it held, its name, and what was seen when it did not.
using Check = std::function<void(bool ok, const std::string& name, const std::string& detail)>;

inline std::string describe(bool ok, std::uint32_t error) {
  return ok ? std::string("succeeded") : "failed with error " + std::to_string(error);
}

inline std::string readAll(FileSystem& files, const std::string& path, std::size_t maxBytes,
                           bool& ok, std::uint32_t& error) {
  FileBytes data;
  std::size_t length = 0;
  error = 0;
  ok = files.readFile(path, maxBytes, data, length, error);
  if (!ok) return {};
  return std::string(reinterpret_cast<const char*>(data.get()), length);
}

inline bool writeAll(FileSystem& files, const std::string& path, const std::string& text,
                     std::uint32_t& error) {
  return files.writeFile(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                         error);
}

inline bool writeChunk(FileWriter& writer, const std::string& text, std::uint32_t& error) {
  std::uint32_t written = 0;
  return writer.write(reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<std::uint32_t>(text.size()), written, error) &&
         written == text.size();
}

// `base` is an existing empty folder (without a final backslash) that the checks may fill.
inline void checkFiles(FileSystem& files, const std::string& base, const Check& check) {
  std::uint32_t error = 0;
  bool ok = false;
  const std::string a = base + "\\a";
  const std::uint64_t before = files.systemTimeNow();

  // Folders with their parents.
  ok = files.createFolder(a + "\\b\\c", error);
  check(ok, "createFolder makes the missing folders above", describe(ok, error));
  check(files.pathKind(a + "\\b") == PathKind::Directory, "the folder above exists", "");
  error = 0;
  ok = files.createFolder(a + "\\b\\c", error);
  check(!ok && error == FILE_ERROR_ALREADY_EXISTS, "createFolder of an existing folder",
        describe(ok, error));

  // Whole files.
  ok = writeAll(files, a + "\\one.txt", "hello", error);
  check(ok, "writeFile", describe(ok, error));
  check(files.pathKind(a + "\\one.txt") == PathKind::File, "pathKind of a file", "");
  check(files.pathKind(a + "\\none.txt") == PathKind::Missing, "pathKind of nothing", "");
  FileAttributes attributes;
  ok = files.fileAttributes(a + "\\one.txt", attributes, error);
  const std::uint64_t after = files.systemTimeNow();
  // File systems keep times coarser than the clock: two seconds of slack either side.
  const std::uint64_t slack = 2 * FILE_TIME_UNITS_PER_SECOND;
  check(ok && !attributes.directory() && attributes.size == 5 &&
            attributes.lastWriteTime + slack >= before && attributes.lastWriteTime <= after + slack,
        "fileAttributes of a file just written",
        describe(ok, error) + ", size " + std::to_string(attributes.size) + ", written at " +
            std::to_string(attributes.lastWriteTime) + " between " + std::to_string(before) +
            " and " + std::to_string(after));
  ok = files.fileAttributes(a + "\\b", attributes, error);
  check(ok && attributes.directory(), "fileAttributes of a folder", describe(ok, error));
  ok = files.fileAttributes(a + "\\none.txt", attributes, error);
  check(!ok && error == FILE_ERROR_FILE_NOT_FOUND, "fileAttributes of nothing",
        describe(ok, error));

  std::string text = readAll(files, a + "\\one.txt", 5, ok, error);
  check(ok && text == "hello", "readFile within its limit", describe(ok, error) + ": " + text);
  readAll(files, a + "\\one.txt", 4, ok, error);
  check(!ok && error == FILE_ERROR_FILE_TOO_LARGE, "readFile over its limit", describe(ok, error));
  readAll(files, a + "\\none.txt", 100, ok, error);
  check(!ok && error == FILE_ERROR_FILE_NOT_FOUND, "readFile of a missing file",
        describe(ok, error));
  readAll(files, a + "\\nowhere\\none.txt", 100, ok, error);
  check(!ok && error == FILE_ERROR_PATH_NOT_FOUND, "readFile in a missing folder",
        describe(ok, error));
  std::uint8_t start[8] = {};
  std::uint32_t got = 0;
  ok = files.readFileStart(a + "\\one.txt", start, 3, got, error);
  check(ok && got == 3 && std::memcmp(start, "hel", 3) == 0, "readFileStart of the first bytes",
        describe(ok, error));
  ok = files.readFileStart(a + "\\one.txt", start, sizeof start, got, error);
  check(ok && got == 5, "readFileStart of a shorter file", describe(ok, error));
  ok = writeAll(files, a + "\\one.txt", "bye", error);
  text = readAll(files, a + "\\one.txt", 100, ok, error);
  check(ok && text == "bye", "writeFile replaces a file", text);

  // A file written in chunks, then renamed over an older one.
  const std::string part = a + "\\two.uf2.part";
  const std::string cached = a + "\\two.uf2";
  writeAll(files, cached, "old", error);
  std::unique_ptr<FileWriter> writer = files.createFile(part, error);
  check(writer != nullptr, "createFile", describe(writer != nullptr, error));
  if (writer) {
    ok = writeChunk(*writer, "abc", error) && writeChunk(*writer, "def", error);
    check(ok, "write in chunks", describe(ok, error));
    ok = writer->flush(error);
    check(ok, "flush", describe(ok, error));
    // Opened without sharing: nobody else gets in until it is closed.
    error = 0;
    std::unique_ptr<FileWriter> second = files.createFile(part, error);
    check(!second && error == FILE_ERROR_SHARING_VIOLATION, "a second createFile is refused",
          describe(second != nullptr, error));
    readAll(files, part, 100, ok, error);
    check(!ok && error == FILE_ERROR_SHARING_VIOLATION, "reading an open file is refused",
          describe(ok, error));
    ok = files.deleteFile(part, error);
    check(!ok && error == FILE_ERROR_SHARING_VIOLATION, "deleting an open file is refused",
          describe(ok, error));
    ok = files.renameOver(part, a + "\\moved", error);
    check(!ok && error == FILE_ERROR_SHARING_VIOLATION, "renaming an open file is refused",
          describe(ok, error));
    ok = writer->close(error);
    check(ok, "close", describe(ok, error));
    error = 0;
    ok = writer->close(error);
    check(!ok && error == FILE_ERROR_INVALID_HANDLE, "a second close", describe(ok, error));
    ok = writeChunk(*writer, "x", error);
    check(!ok && error == FILE_ERROR_INVALID_HANDLE, "write after close", describe(ok, error));
  }
  ok = files.renameOver(part, cached, error);
  check(ok, "renameOver an existing file", describe(ok, error));
  text = readAll(files, cached, 100, ok, error);
  check(ok && text == "abcdef", "the renamed file replaced the old one", text);
  check(files.pathKind(part) == PathKind::Missing, "the renamed file left its old name", "");
  ok = files.renameOver(part, cached, error);
  check(!ok && error == FILE_ERROR_FILE_NOT_FOUND, "renameOver of a missing file",
        describe(ok, error));
  ok = files.renameOver(cached, a + "\\nowhere\\two.uf2", error);
  check(!ok && error == FILE_ERROR_PATH_NOT_FOUND, "renameOver into a missing folder",
        describe(ok, error));

  // Destroying a writer closes its file; creating cuts an existing file to nothing.
  writer = files.createFile(a + "\\one.txt", error);
  writer.reset();
  text = readAll(files, a + "\\one.txt", 100, ok, error);
  check(ok && text.empty(), "a destroyed writer leaves its file closed and empty",
        describe(ok, error) + ": " + text);

  // Copies.
  ok = files.copyFile(cached, a + "\\three.exe", error);
  check(ok, "copyFile", describe(ok, error));
  writeAll(files, a + "\\four.exe", "four", error);
  ok = files.copyFile(cached, a + "\\four.exe", error);
  text = readAll(files, a + "\\four.exe", 100, ok, error);
  check(ok && text == "abcdef", "copyFile overwrites", text);
  ok = files.copyFile(a + "\\none.exe", a + "\\five.exe", error);
  check(!ok && error == FILE_ERROR_FILE_NOT_FOUND, "copyFile of a missing file",
        describe(ok, error));

  // Listing, in whatever order the volume keeps.
  std::vector<FolderEntry> entries;
  ok = files.listFolder(a + "\\*", entries, error);
  std::set<std::pair<std::string, bool>> seen;
  for (const FolderEntry& e : entries) seen.insert({e.name, e.directory});
  const std::set<std::pair<std::string, bool>> expected = {
      {".", true},        {"..", true},         {"b", true},        {"one.txt", false},
      {"two.uf2", false}, {"three.exe", false}, {"four.exe", false}};
  std::string names;
  for (const auto& [name, directory] : seen) names += name + (directory ? "\\ " : " ");
  check(ok && seen == expected && entries.size() == expected.size(), "listFolder *", names);
  ok = files.listFolder(a + "\\TWO*.UF2*", entries, error);
  check(ok && entries.size() == 1 && entries[0].name == "two.uf2" && !entries[0].directory,
        "listFolder by a pattern, without regard to case", describe(ok, error));
  ok = files.listFolder(a + "\\*.zip", entries, error);
  check(!ok && error == FILE_ERROR_FILE_NOT_FOUND, "listFolder matching nothing",
        describe(ok, error));
  ok = files.listFolder(a + "\\nowhere\\*", entries, error);
  check(!ok && error == FILE_ERROR_PATH_NOT_FOUND, "listFolder of a missing folder",
        describe(ok, error));

  // Deleting.
  ok = files.deleteFile(a + "\\three.exe", error);
  check(ok && files.pathKind(a + "\\three.exe") == PathKind::Missing, "deleteFile",
        describe(ok, error));
  ok = files.deleteFile(a + "\\three.exe", error);
  check(!ok && error == FILE_ERROR_FILE_NOT_FOUND, "deleteFile of a missing file",
        describe(ok, error));
  ok = files.deleteFile(a + "\\b", error);
  check(
      !ok && error == FILE_ERROR_ACCESS_DENIED && files.pathKind(a + "\\b") == PathKind::Directory,
      "deleteFile of a folder", describe(ok, error));

  FileVersionParts version;
  ok = files.fileVersion(cached, version, error);
  check(!ok, "a file without a version resource has no version", describe(ok, error));
  std::string name = "untouched";
  ok = files.fileVersionText(cached, "ProductName", name, error);
  check(!ok && name == "untouched", "a file without a version resource has no names",
        describe(ok, error));

  // The folders Windows keeps for the user.
  std::string temp;
  const std::uint32_t length = files.tempPath(260, temp);
  check(length > 0 && length < 260 && !temp.empty() && temp.back() == '\\' &&
            files.pathKind(temp) == PathKind::Directory,
        "tempPath", std::to_string(length) + " " + temp);
  std::string untouched = "untouched";
  const std::uint32_t needed = files.tempPath(2, untouched);
  check(needed == length + 1 && untouched == "untouched",
        "tempPath without room gives the size needed", std::to_string(needed));
  std::string local;
  ok = files.localAppDataFolder(local, error);
  check(
      ok && !local.empty() && local.back() != '\\' && files.pathKind(local) == PathKind::Directory,
      "localAppDataFolder", describe(ok, error) + ": " + local);
  // 2020-01-01 as a FILETIME: any clock of this program's lifetime is later.
  check(files.systemTimeNow() > 132223104000000000ull, "systemTimeNow is a FILETIME", "");

  const std::uint32_t flags = ERROR_MODE_FAIL_CRITICAL_ERRORS | ERROR_MODE_NO_OPEN_FILE_ERROR_BOX;
  const std::uint32_t first = files.addErrorMode(flags);
  const std::uint32_t second = files.addErrorMode(0);
  check((second & flags) == flags && (second & ~flags) == (first & ~flags),
        "addErrorMode adds its flags to the mode",
        std::to_string(first) + " " + std::to_string(second));
}

// `key` is a key under HKEY_CURRENT_USER that the checks may fill; its value "Number" must be a
// REG_DWORD and its subkey "Number" must have a REG_DWORD default value.
inline void checkRegistry(Registry& registry, const std::string& key, const Check& check) {
  const RegistryHive user = RegistryHive::CurrentUser;
  const std::string run = key + "\\Run";
  std::uint32_t error = 0;
  std::string value;
  bool ok = registry.readText(user, run, "Tarnwick Bridge", 1040, value, error);
  check(!ok && error == REGISTRY_ERROR_FILE_NOT_FOUND, "readText of a missing key",
        describe(ok, error));

  const std::string text = "\"C:\\Users\\T\xC3\xA9ss\\Tarnwick.exe\" --startup";
  ok = registry.writeText(user, run, "Tarnwick Bridge", text, error);
  check(ok, "writeText makes the key", describe(ok, error));
  ok = registry.readText(user, run, "Tarnwick Bridge", 1040, value, error);
  check(ok && value == text, "readText gives the text back", describe(ok, error) + ": " + value);
  ok = registry.readText(user, run, "tarnwick bridge", 1040, value, error);
  check(ok && value == text, "value names compare without regard to case", describe(ok, error));
  // The text takes 38 units and its terminator one more: 78 bytes.
  ok = registry.readText(user, run, "Tarnwick Bridge", 78, value, error);
  check(ok, "readText with just enough room", describe(ok, error));
  ok = registry.readText(user, run, "Tarnwick Bridge", 76, value, error);
  check(!ok && error == REGISTRY_ERROR_MORE_DATA, "readText without room for the terminator",
        describe(ok, error));
  ok = registry.readText(user, run, "Other", 1040, value, error);
  check(!ok && error == REGISTRY_ERROR_FILE_NOT_FOUND, "readText of a missing value",
        describe(ok, error));
  ok = registry.readText(user, key, "Number", 1040, value, error);
  check(!ok && error == REGISTRY_ERROR_UNSUPPORTED_TYPE, "readText of a REG_DWORD",
        describe(ok, error));

  ok = registry.writeText(user, run, "", "default text", error);
  check(ok && registry.readDefaultText(user, run, 1040, value) && value == "default text",
        "an empty name writes the default value", describe(ok, error) + ": " + value);
  check(!registry.readDefaultText(user, run, 24, value),
        "readDefaultText without room for the terminator", "");
  check(!registry.readDefaultText(user, key + "\\Number", 1040, value),
        "readDefaultText of a REG_DWORD", "");

  ok = registry.deleteValue(user, run, "Tarnwick Bridge", error);
  check(ok, "deleteValue", describe(ok, error));
  ok = registry.readText(user, run, "Tarnwick Bridge", 1040, value, error);
  check(!ok && error == REGISTRY_ERROR_FILE_NOT_FOUND, "a deleted value is gone",
        describe(ok, error));
  ok = registry.deleteValue(user, run, "Tarnwick Bridge", error);
  check(!ok && error == REGISTRY_ERROR_FILE_NOT_FOUND, "deleteValue of a missing value",
        describe(ok, error));
  ok = registry.deleteValue(user, key + "\\Nowhere", "Tarnwick Bridge", error);
  check(!ok && error == REGISTRY_ERROR_FILE_NOT_FOUND, "deleteValue in a missing key",
        describe(ok, error));
}

}  // namespace tw::conformance
