#include "sim/sim_file_system.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/port_conformance.h"
#include "sim/virtual_clock.h"
#include "sim/windows_names.h"

namespace tw::sim {
namespace {

const conformance::Check kExpect = [](bool ok, const std::string& name, const std::string& detail) {
  EXPECT_TRUE(ok) << name << ": " << detail;
};

std::string bytes(std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>(i * 31 + i / 512);
  return out;
}

bool writeChunk(FileWriter& writer, const std::string& data, std::uint32_t& error) {
  std::uint32_t written = 0;
  return writer.write(reinterpret_cast<const std::uint8_t*>(data.data()),
                      static_cast<std::uint32_t>(data.size()), written, error);
}

class SimFileSystemTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  SimFileSystem files{clock};
  std::uint32_t error = 0;
};

TEST_F(SimFileSystemTest, MeetsTheChecksWindowsMeets) {
  const std::string base = std::string(SimFileSystem::kLocalAppData) + "\\Conformance";
  ASSERT_TRUE(files.createFolder(base, error));
  conformance::checkFiles(files, base, kExpect);
  EXPECT_EQ(files.openFiles(), 0);
  EXPECT_EQ(files.errorMode(), ERROR_MODE_FAIL_CRITICAL_ERRORS | ERROR_MODE_NO_OPEN_FILE_ERROR_BOX);
}

TEST_F(SimFileSystemTest, RemovableDrivesComeAndGoWithTheirFiles) {
  auto stick = std::make_shared<MemoryDrive>(DriveType::Removable, "STICK", nullptr);
  ASSERT_EQ(files.mountAtFreeLetter(stick), 'D');
  EXPECT_EQ(files.logicalDrives(), (1u << 2) | (1u << 3));
  EXPECT_EQ(files.driveType("D:\\"), DriveType::Removable);
  std::string label;
  ASSERT_TRUE(files.volumeLabel("D:\\", 261, label));
  EXPECT_EQ(label, "STICK");
  EXPECT_FALSE(files.volumeLabel("D:\\", 5, label)) << "five units leave no room for the end";

  ASSERT_TRUE(files.addFile("d:\\kept.txt", "kept"));
  auto writer = files.createFile("D:\\TARNWICK.UF2", error);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writeChunk(*writer, bytes(32768), error));

  // Pulled out mid-copy: the letter is gone and the open file fails.
  EXPECT_EQ(files.unmount('D'), stick);
  EXPECT_FALSE(writeChunk(*writer, bytes(32768), error));
  EXPECT_EQ(error, FILE_ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(writer->flush(error));
  EXPECT_EQ(files.logicalDrives(), 1u << 2);
  EXPECT_EQ(files.driveType("D:\\"), DriveType::NoRootDir);
  EXPECT_FALSE(files.volumeLabel("D:\\", 261, label));
  EXPECT_EQ(files.pathKind("D:\\kept.txt"), PathKind::Missing);
  FileAttributes attributes;
  EXPECT_FALSE(files.fileAttributes("D:\\kept.txt", attributes, error));
  EXPECT_EQ(error, FILE_ERROR_PATH_NOT_FOUND);
  writer.reset();
  EXPECT_EQ(files.openFiles(), 0);

  // Plugged in again, wherever Windows puts it, with what it held.
  files.addDrive('D', DriveType::Fixed, "DATA");
  ASSERT_EQ(files.mountAtFreeLetter(stick), 'E');
  EXPECT_EQ(files.fileContent("E:\\kept.txt"), "kept");
  EXPECT_EQ(files.fileContent("E:\\TARNWICK.UF2"), bytes(32768));
}

// A drive of the kind a board in update mode shows: two files of its own, a copied file taken in
// as it arrives, and gone the moment the last expected byte lands.
class BoardLikeDrive : public SimDrive {
 public:
  explicit BoardLikeDrive(std::size_t expected) : expected_(expected) {}
  std::vector<std::uint32_t> chunks;
  bool gone = false;

  DriveType type() override { return DriveType::Removable; }
  std::optional<std::string> label() override { return "RP2350"; }
  bool present() override { return !gone; }
  bool stat(const std::string& path, SimEntry& entry, std::uint32_t& error) override {
    if (path.empty()) {
      entry = SimEntry{"", true, 0, 0};
      return true;
    }
    if (lowerAscii(path) != "info_uf2.txt") {
      error = FILE_ERROR_FILE_NOT_FOUND;
      return false;
    }
    entry = SimEntry{"INFO_UF2.TXT", false, info().size(), 0};
    return true;
  }
  bool list(const std::string&, std::vector<SimEntry>& entries, std::uint32_t&) override {
    entries = {SimEntry{"INFO_UF2.TXT", false, info().size(), 0}};
    return true;
  }
  bool read(const std::string& path, std::string& content, std::uint32_t& error) override {
    SimEntry entry;
    if (!stat(path, entry, error)) return false;
    content = info();
    return true;
  }
  std::unique_ptr<FileWriter> create(const std::string&, std::uint32_t&) override {
    return std::make_unique<Writer>(*this);
  }

 private:
  static std::string info() {
    return "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n" +
           std::string(700, '#');
  }
  class Writer : public FileWriter {
   public:
    explicit Writer(BoardLikeDrive& drive) : drive_(drive) {}
    bool write(const std::uint8_t*, std::uint32_t size, std::uint32_t& written,
               std::uint32_t& error) override {
      if (drive_.gone) {
        written = 0;
        error = FILE_ERROR_DEVICE_NOT_CONNECTED;
        return false;
      }
      drive_.chunks.push_back(size);
      drive_.received_ += size;
      written = size;
      if (drive_.received_ >= drive_.expected_) drive_.gone = true;  // the board restarts
      return true;
    }
    bool flush(std::uint32_t& error) override {
      error = FILE_ERROR_DEVICE_NOT_CONNECTED;
      return !drive_.gone;
    }
    bool close(std::uint32_t&) override { return true; }

   private:
    BoardLikeDrive& drive_;
  };
  const std::size_t expected_;
  std::size_t received_ = 0;
};

TEST_F(SimFileSystemTest, ADeviceDriveSeesEachChunkAndVanishesAfterTheLast) {
  auto board = std::make_shared<BoardLikeDrive>(100000);
  const char letter = files.mountAtFreeLetter(board);
  ASSERT_EQ(letter, 'D');
  EXPECT_EQ(files.driveType("D:\\"), DriveType::Removable);

  std::uint8_t start[599];
  std::uint32_t got = 0;
  ASSERT_TRUE(files.readFileStart("D:\\INFO_UF2.TXT", start, sizeof start, got, error));
  EXPECT_EQ(got, 599u);
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(files.listFolder("D:\\*", entries, error));
  ASSERT_EQ(entries.size(), 1u) << "a root lists neither itself nor a parent";
  EXPECT_EQ(entries[0].name, "INFO_UF2.TXT");

  auto writer = files.createFile("D:\\TARNWICK.UF2", error);
  ASSERT_TRUE(writer);
  const std::string image = bytes(100000);
  for (std::size_t done = 0; done < image.size(); done += 32768) {
    ASSERT_TRUE(writeChunk(*writer, image.substr(done, 32768), error));
  }
  EXPECT_EQ(board->chunks, (std::vector<std::uint32_t>{32768, 32768, 32768, 1696}));
  EXPECT_FALSE(writer->flush(error));
  EXPECT_EQ(error, FILE_ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(files.logicalDrives() & (1u << 3), 0u);
  EXPECT_FALSE(files.readFileStart("D:\\INFO_UF2.TXT", start, sizeof start, got, error));
  EXPECT_EQ(error, FILE_ERROR_PATH_NOT_FOUND);
}

TEST_F(SimFileSystemTest, ProgramFilesCarryTheirVersionResource) {
  FileVersionParts version;
  ASSERT_TRUE(files.fileVersion(SimFileSystem::kProgramPath, version, error));
  EXPECT_EQ(version.major, 1);
  EXPECT_EQ(version.minor, 2);
  EXPECT_EQ(version.build, 0);
  EXPECT_EQ(version.revision, 0);

  // A copy keeps the resource and the original's last-write time.
  const std::string installed = std::string(SimFileSystem::kLocalAppData) + "\\T\\Tarnwick.exe";
  ASSERT_TRUE(files.addFile(installed, SimFileSystem::programImage({1, 3, 7, 9})));
  ASSERT_TRUE(files.fileVersion(installed, version, error));
  EXPECT_EQ(version.minor, 3);
  EXPECT_EQ(version.revision, 9);
  clock.advance(60000);
  ASSERT_TRUE(files.copyFile(SimFileSystem::kProgramPath, installed, error));
  ASSERT_TRUE(files.fileVersion(installed, version, error));
  EXPECT_EQ(version.minor, 2);
  FileAttributes original, copy;
  files.fileAttributes(SimFileSystem::kProgramPath, original, error);
  files.fileAttributes(installed, copy, error);
  EXPECT_EQ(copy.lastWriteTime, original.lastWriteTime);

  const std::string full = SimFileSystem::programImage({1, 2, 0, 0});
  const struct {
    const char* what;
    std::string content;
    std::uint32_t error;
  } missing[] = {
      {"a program without a version resource", SimFileSystem::programImageWithoutVersion(),
       FILE_ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"a text file", "just text", FILE_ERROR_RESOURCE_DATA_NOT_FOUND},
      {"fixed file information cut short", full.substr(0, full.find("\xBD\x04\xEF\xFE") + 32),
       FILE_ERROR_RESOURCE_DATA_NOT_FOUND},
  };
  for (const auto& c : missing) {
    ASSERT_TRUE(files.addFile("C:\\x.exe", c.content));
    EXPECT_FALSE(files.fileVersion("C:\\x.exe", version, error)) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
  EXPECT_FALSE(files.fileVersion("C:\\none.exe", version, error));
  EXPECT_EQ(error, FILE_ERROR_FILE_NOT_FOUND);
}

TEST_F(SimFileSystemTest, ProgramFilesCarryTheNamesOfTheirVersionResource) {
  const std::string test = "C:\\T\\TarnwickNewer.exe";
  ASSERT_TRUE(files.addFile(
      test, SimFileSystem::programImage({1, 2, 1, 0}, {"TarnwickNewer-test.exe", "Other Name"})));
  ASSERT_TRUE(files.addFile("C:\\T\\bare.exe", SimFileSystem::programImageWithoutVersion()));
  const struct {
    std::string path;
    const char* name;
    const char* value;  // nullptr: no such entry
    std::uint32_t error;
  } cases[] = {
      {SimFileSystem::kProgramPath, "OriginalFilename", "Tarnwick.exe", 0},
      {SimFileSystem::kProgramPath, "ProductName", "Tarnwick Bridge", 0},
      {SimFileSystem::kProgramPath, "CompanyName", "Tarnwick", 0},
      {test, "OriginalFilename", "TarnwickNewer-test.exe", 0},
      {test, "ProductName", "Other Name", 0},
      // A key is found whole, never as the end of a longer one.
      {test, "Name", nullptr, FILE_ERROR_RESOURCE_NAME_NOT_FOUND},
      {test, "InternalName", nullptr, FILE_ERROR_RESOURCE_NAME_NOT_FOUND},
      {"C:\\T\\bare.exe", "ProductName", nullptr, FILE_ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"C:\\T\\none.exe", "ProductName", nullptr, FILE_ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    std::string value = "untouched";
    const bool ok = files.fileVersionText(c.path, c.name, value, error);
    EXPECT_EQ(ok, c.value != nullptr) << c.path << " " << c.name;
    if (c.value != nullptr) {
      EXPECT_EQ(value, c.value) << c.path << " " << c.name;
    } else {
      EXPECT_EQ(error, c.error) << c.path << " " << c.name;
    }
  }
}

TEST_F(SimFileSystemTest, TheRunningProgramCannotBeDeletedOrReplaced) {
  const std::string program = SimFileSystem::kProgramPath;
  const std::string other = "C:\\Users\\Tess\\Downloads\\Tarnwick.exe";
  ASSERT_TRUE(files.addFile(other, SimFileSystem::programImage({1, 2, 1, 0})));
  EXPECT_FALSE(files.deleteFile(program, error));
  EXPECT_EQ(error, FILE_ERROR_ACCESS_DENIED);
  EXPECT_FALSE(files.copyFile(other, program, error));
  EXPECT_EQ(error, FILE_ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(files.renameOver(other, "c:\\program files\\TARNWICK\\tarnwick.exe", error));
  EXPECT_EQ(error, FILE_ERROR_ACCESS_DENIED);
  EXPECT_FALSE(files.createFile(program, error));
  EXPECT_EQ(files.fileContent(program), SimFileSystem::programImage({1, 2, 0, 0}));
  // Copying the running program elsewhere is fine; the copy is an ordinary file.
  EXPECT_TRUE(files.copyFile(program, other, error));
  EXPECT_TRUE(files.deleteFile(other, error));

  files.setModulePath(other);
  EXPECT_TRUE(files.deleteFile(program, error)) << "no longer the running program";
}

TEST_F(SimFileSystemTest, PathsAreTidiedAsWindowsTidiesThem) {
  ASSERT_TRUE(files.addFile("C:\\Users\\Tess\\AppData\\Local\\Temp\\marker", "m"));
  for (const char* spelling : {"c:/users/tess/appdata/local/temp/marker",
                               "C:\\Users\\\\Tess\\AppData\\Local\\Temp\\..\\Temp\\.\\marker",
                               "C:\\USERS\\TESS\\APPDATA\\LOCAL\\TEMP\\MARKER. ",
                               "C:\\..\\Users\\Tess\\AppData\\Local\\Temp\\marker"}) {
    EXPECT_EQ(files.pathKind(spelling), PathKind::File) << spelling;
  }
  FileAttributes attributes;
  const struct {
    std::string path;
    std::uint32_t error;
  } refused[] = {
      {"Users\\Tess\\marker", FILE_ERROR_PATH_NOT_FOUND},
      {"C:marker", FILE_ERROR_PATH_NOT_FOUND},
      {"C:\\a|b", 123},
      {"C:\\" + std::string(256, 'x') + "y", FILE_ERROR_FILENAME_EXCED_RANGE},
      {"Q:\\marker", FILE_ERROR_PATH_NOT_FOUND},
      {"C:\\Users\\Nobody\\marker", FILE_ERROR_PATH_NOT_FOUND},
  };
  for (const auto& r : refused) {
    EXPECT_FALSE(files.fileAttributes(r.path, attributes, error)) << r.path;
    EXPECT_EQ(error, r.error) << r.path;
  }
  files.allowLongPaths(true);
  EXPECT_TRUE(files.addFile("C:\\" + std::string(300, 'x'), "long"));
}

TEST_F(SimFileSystemTest, TheCalendarAndTheUsersFoldersFollowTheirSettings) {
  EXPECT_EQ(files.systemTimeNow(), SimFileSystem::kStartTime);
  clock.advance(1500);
  const std::uint64_t now = SimFileSystem::kStartTime + 15'000'000;
  EXPECT_EQ(files.systemTimeNow(), now);
  ASSERT_TRUE(files.addFile("C:\\stamped", "x"));
  FileAttributes attributes;
  ASSERT_TRUE(files.fileAttributes("C:\\stamped", attributes, error));
  EXPECT_EQ(attributes.lastWriteTime, now);
  ASSERT_TRUE(files.setLastWriteTime("C:\\stamped", now + 1));
  ASSERT_TRUE(files.fileAttributes("C:\\stamped", attributes, error));
  EXPECT_EQ(attributes.lastWriteTime, now + 1);

  // GetTempPathW's answers around its buffer: 259 units fit 260, 260 units need 261.
  std::string temp;
  const std::string folder259 = "C:\\" + std::string(255, 't') + "\\";
  files.setTempFolder(folder259);
  EXPECT_EQ(files.tempPath(260, temp), 259u);
  EXPECT_EQ(temp, folder259);
  files.setTempFolder("C:\\" + std::string(256, 't'));  // the backslash is added
  temp.clear();
  EXPECT_EQ(files.tempPath(260, temp), 261u);
  EXPECT_EQ(temp, "");
  files.setTempFolder(std::nullopt);
  EXPECT_EQ(files.tempPath(260, temp), 0u);

  std::string local;
  ASSERT_TRUE(files.localAppDataFolder(local, error));
  EXPECT_EQ(local, SimFileSystem::kLocalAppData);
  files.setLocalAppDataFolder(std::nullopt);
  EXPECT_FALSE(files.localAppDataFolder(local, error));
}

TEST_F(SimFileSystemTest, FailuresOnDemandHitTheCallsAskedFor) {
  const std::string path = "C:\\f.bin";
  auto writer = files.createFile(path, error);
  ASSERT_TRUE(writer);
  files.failCall("write", FILE_ERROR_DISK_FULL, 2);
  EXPECT_TRUE(writeChunk(*writer, "a", error));
  EXPECT_FALSE(writeChunk(*writer, "b", error));
  EXPECT_EQ(error, FILE_ERROR_DISK_FULL);
  EXPECT_TRUE(writeChunk(*writer, "c", error));
  files.failCall("close", FILE_ERROR_WRITE_FAULT);
  EXPECT_FALSE(writer->close(error));
  EXPECT_EQ(error, FILE_ERROR_WRITE_FAULT);
  EXPECT_EQ(files.openFiles(), 0) << "a failed close still closes";
  EXPECT_EQ(files.fileContent(path), "ac");

  files.failCall("renameOver", FILE_ERROR_ACCESS_DENIED);
  EXPECT_FALSE(files.renameOver(path, "C:\\g.bin", error));
  EXPECT_EQ(error, FILE_ERROR_ACCESS_DENIED);
  EXPECT_TRUE(files.renameOver(path, "C:\\g.bin", error));

  files.failAlways("createFolder", FILE_ERROR_ACCESS_DENIED);
  EXPECT_FALSE(files.createFolder("C:\\new", error));
  EXPECT_FALSE(files.createFolder("C:\\new", error));
  files.clearFailures();
  EXPECT_TRUE(files.createFolder("C:\\new", error));
}

TEST_F(SimFileSystemTest, AFileOpenForWritingCannotBeMovedOrDeleted) {
  auto writer = files.createFile("C:\\open.part", error);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(files.addFile("C:\\other", "o"));
  EXPECT_FALSE(files.deleteFile("C:\\open.part", error));
  EXPECT_EQ(error, FILE_ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(files.renameOver("C:\\open.part", "C:\\done", error));
  EXPECT_EQ(error, FILE_ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(files.renameOver("C:\\other", "C:\\open.part", error));
  EXPECT_EQ(error, FILE_ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(files.copyFile("C:\\open.part", "C:\\copy", error));
  EXPECT_EQ(error, FILE_ERROR_SHARING_VIOLATION);
  ASSERT_TRUE(writer->close(error));
  EXPECT_TRUE(files.renameOver("C:\\open.part", "C:\\done", error));
}

TEST_F(SimFileSystemTest, FoldersListInNameOrderAndMoveWithWhatTheyHold) {
  for (const char* name : {"C:\\L\\b.txt", "C:\\L\\A.txt", "C:\\L\\c\\inner.txt"}) {
    ASSERT_TRUE(files.addFile(name));
  }
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(files.listFolder("C:\\L\\*", entries, error));
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name + (e.directory ? "\\" : ""));
  EXPECT_EQ(names, (std::vector<std::string>{".\\", "..\\", "A.txt", "b.txt", "c\\"}));

  ASSERT_TRUE(files.renameOver("C:\\L\\c", "C:\\L\\d", error));
  EXPECT_EQ(files.pathKind("C:\\L\\d\\inner.txt"), PathKind::File);
  EXPECT_EQ(files.pathKind("C:\\L\\c"), PathKind::Missing);
  EXPECT_FALSE(files.renameOver("C:\\L\\d", "C:\\L\\d\\e", error)) << "not into itself";
  EXPECT_FALSE(files.renameOver("C:\\L\\b.txt", "D:\\b.txt", error));
  files.addDrive('D', DriveType::Fixed, "DATA");
  EXPECT_FALSE(files.renameOver("C:\\L\\b.txt", "D:\\b.txt", error));
  EXPECT_EQ(error, FILE_ERROR_NOT_SAME_DEVICE);
}

TEST(WindowsNames, WildcardsMatchAsFindFirstFileMatches) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*", "anything.txt", true},
      {"*.*", "no-extension", true},
      {"tarnwick-bridge-*.uf2*", "tarnwick-bridge-0.9.3.uf2", true},
      {"tarnwick-bridge-*.uf2*", "Tarnwick-Bridge-1.0.0-rc1.UF2.part", true},
      {"tarnwick-bridge-*.uf2*", "tarnwick-bridge.uf2", false},
      {"*.exe", "Tarnwick.EXE", true},
      {"*.exe", "a.exe.bak", false},
      {"?.txt", "ab.txt", false},
      {"??.txt", "ab.txt", true},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"INFO_UF2.TXT", "info_uf2.txt", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(matchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
  }
}

}  // namespace
}  // namespace tw::sim
