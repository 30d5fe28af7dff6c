// Files and volumes: what a path names, the logical drives with their types and labels, reading,
// writing, copying, renaming, deleting and listing files, the folders Windows keeps for the user,
// file times, version resources, and the process error mode.
//
// Paths are UTF-8 texts spelt as Windows spells them ("C:\Users\x\AppData\Local\Tarnwick Bridge");
// only the adapter converts them to UTF-16. A failure carries the Windows error number of the call
// that failed; what it means, and whether to try again, is the system's decision.
// Windows: kernel32, shell32 and version. Linux: the simulated file system (src/sim).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace tw {

// Windows error numbers of file calls that the system tells apart.
inline constexpr std::uint32_t FILE_ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t FILE_ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::uint32_t FILE_ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t FILE_ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t FILE_ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::uint32_t FILE_ERROR_NOT_SAME_DEVICE = 17;
inline constexpr std::uint32_t FILE_ERROR_NOT_READY = 21;
inline constexpr std::uint32_t FILE_ERROR_WRITE_FAULT = 29;
inline constexpr std::uint32_t FILE_ERROR_SHARING_VIOLATION = 32;
inline constexpr std::uint32_t FILE_ERROR_HANDLE_EOF = 38;
inline constexpr std::uint32_t FILE_ERROR_DISK_FULL = 112;
inline constexpr std::uint32_t FILE_ERROR_ALREADY_EXISTS = 183;
inline constexpr std::uint32_t FILE_ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr std::uint32_t FILE_ERROR_FILE_TOO_LARGE = 223;
inline constexpr std::uint32_t FILE_ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr std::uint32_t FILE_ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr std::uint32_t FILE_ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr std::uint32_t FILE_ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// File attribute bits as GetFileAttributesExW gives them.
inline constexpr std::uint32_t FILE_ATTRIBUTE_BIT_READONLY = 0x0001;
inline constexpr std::uint32_t FILE_ATTRIBUTE_BIT_DIRECTORY = 0x0010;
inline constexpr std::uint32_t FILE_ATTRIBUTE_BIT_ARCHIVE = 0x0020;
inline constexpr std::uint32_t FILE_ATTRIBUTE_BIT_NORMAL = 0x0080;

// SetErrorMode flags: SEM_FAILCRITICALERRORS and SEM_NOOPENFILEERRORBOX.
inline constexpr std::uint32_t ERROR_MODE_FAIL_CRITICAL_ERRORS = 0x0001;
inline constexpr std::uint32_t ERROR_MODE_NO_OPEN_FILE_ERROR_BOX = 0x8000;

// File times are FILETIME values: 100-nanosecond units since 1601-01-01 UTC.
inline constexpr std::uint64_t FILE_TIME_UNITS_PER_SECOND = 10'000'000;

enum class PathKind { Missing, File, Directory };

// GetDriveTypeW's answers.
enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

// GetFileAttributesExW's standard information.
struct FileAttributes {
  std::uint32_t attributes = 0;  // FILE_ATTRIBUTE_BIT_*
  std::uint64_t size = 0;
  std::uint64_t lastWriteTime = 0;  // FILETIME
  bool directory() const { return (attributes & FILE_ATTRIBUTE_BIT_DIRECTORY) != 0; }
};

// One entry of a folder listing.
struct FolderEntry {
  std::string name;  // the file name only, as stored
  bool directory = false;
};

// VS_FIXEDFILEINFO's file version: HIWORD and LOWORD of dwFileVersionMS, then of dwFileVersionLS.
struct FileVersionParts {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  std::uint16_t build = 0;
  std::uint16_t revision = 0;
};

struct FreeFileBytes {
  void operator()(std::uint8_t* bytes) const noexcept { std::free(bytes); }
};
// A whole file read into memory (malloc'd, so that it can be handed on as other fetched bytes).
using FileBytes = std::unique_ptr<std::uint8_t[], FreeFileBytes>;

// A file open for writing. Destroying it closes the file.
class FileWriter {
 public:
  virtual ~FileWriter() = default;
  // One WriteFile of `size` bytes at the current end; `written` tells how many went out, also on
  // failure (a drive that goes away mid-write).
  virtual bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written,
                     std::uint32_t& error) = 0;
  // FlushFileBuffers.
  virtual bool flush(std::uint32_t& error) = 0;
  // CloseHandle. Every call after it fails with FILE_ERROR_INVALID_HANDLE.
  virtual bool close(std::uint32_t& error) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // --- Volumes ---
  // GetFileAttributesW: Missing when the call fails.
  virtual PathKind pathKind(const std::string& path) = 0;
  // GetLogicalDrives: bit 0 is A:, bit 25 is Z:.
  virtual std::uint32_t logicalDrives() = 0;
  // GetDriveTypeW on a root such as "E:\".
  virtual DriveType driveType(const std::string& root) = 0;
  // GetVolumeInformationW's volume name, at most `maxChars` UTF-16 units with the terminator.
  virtual bool volumeLabel(const std::string& root, std::size_t maxChars, std::string& label) = 0;

  // --- The program and its environment ---
  // GetModuleFileNameW of the program itself; false when it fails or does not fit `maxChars`.
  virtual bool ownModulePath(std::size_t maxChars, std::string& path) = 0;
  // ExpandEnvironmentStringsW; false when it fails or the result does not fit `maxChars` with its
  // terminator.
  virtual bool expandEnvironment(const std::string& text, std::size_t maxChars,
                                 std::string& expanded) = 0;
  // GetTempPathW with a buffer of `bufferUnits` UTF-16 units, returning what it returns: 0 on
  // failure; the length without the terminator when the path fitted (then `path` holds it, with
  // its final backslash); the size needed with the terminator when it did not (`path` untouched).
  virtual std::uint32_t tempPath(std::uint32_t bufferUnits, std::string& path) = 0;
  // SHGetKnownFolderPath(FOLDERID_LocalAppData), without a final backslash. `error` is the
  // HRESULT on failure.
  virtual bool localAppDataFolder(std::string& path, std::uint32_t& error) = 0;
  // GetSystemTimeAsFileTime.
  virtual std::uint64_t systemTimeNow() = 0;
  // SetErrorMode(GetErrorMode() | flags) with ERROR_MODE_* flags; returns the mode before.
  virtual std::uint32_t addErrorMode(std::uint32_t flags) = 0;

  // --- Files and folders ---
  // GetFileAttributesExW.
  virtual bool fileAttributes(const std::string& path, FileAttributes& out,
                              std::uint32_t& error) = 0;
  // SHCreateDirectoryExW: the folder and any missing folders above it. A folder that is already
  // there fails with FILE_ERROR_ALREADY_EXISTS, which callers usually take as success.
  virtual bool createFolder(const std::string& path, std::uint32_t& error) = 0;
  // CreateFileW for writing, no sharing, CREATE_ALWAYS, normal attributes: a new empty file, or an
  // existing one cut to nothing. nullptr with the error when it cannot be opened.
  virtual std::unique_ptr<FileWriter> createFile(const std::string& path, std::uint32_t& error) = 0;
  // createFile, WriteFile until every byte is out, CloseHandle. A failure leaves whatever was
  // written behind; removing it is the caller's call.
  virtual bool writeFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                         std::uint32_t& error) = 0;
  // Opens the file for reading (sharing reading only) and reads all of it. A file larger than
  // `maxBytes` fails with FILE_ERROR_FILE_TOO_LARGE without being read; one that comes up short
  // while read fails with FILE_ERROR_HANDLE_EOF. An empty file gives a non-null buffer of length 0.
  virtual bool readFile(const std::string& path, std::size_t maxBytes, FileBytes& data,
                        std::size_t& length, std::uint32_t& error) = 0;
  // Opens the file for reading (sharing reading only) and reads at most `size` bytes from its
  // start into `buffer` with one ReadFile; `got` may be less at the end of the file.
  virtual bool readFileStart(const std::string& path, std::uint8_t* buffer, std::uint32_t size,
                             std::uint32_t& got, std::uint32_t& error) = 0;
  // MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: `from` takes the place of
  // `to`, replacing a file there. Both on one volume.
  virtual bool renameOver(const std::string& from, const std::string& to, std::uint32_t& error) = 0;
  // CopyFileW, overwriting a file at `to`.
  virtual bool copyFile(const std::string& from, const std::string& to, std::uint32_t& error) = 0;
  // DeleteFileW.
  virtual bool deleteFile(const std::string& path, std::uint32_t& error) = 0;
  // FindFirstFileW / FindNextFileW / FindClose over `pattern` (a folder joined with a name that may
  // hold * and ?), in the order Windows gives them, "." and ".." included when they match.
  // Nothing matching fails with FILE_ERROR_FILE_NOT_FOUND, a missing folder with
  // FILE_ERROR_PATH_NOT_FOUND; a failure part-way keeps the entries found before it.
  virtual bool listFolder(const std::string& pattern, std::vector<FolderEntry>& entries,
                          std::uint32_t& error) = 0;
  // GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW(L"\\"): the file version of
  // the root block's fixed file information. False when the file has no version resource or the
  // block is shorter than VS_FIXEDFILEINFO.
  virtual bool fileVersion(const std::string& path, FileVersionParts& version,
                           std::uint32_t& error) = 0;
  // The same resource's string entry `name` (such as "OriginalFilename") in the first language
  // of its translation table (VerQueryValueW of L"\\VarFileInfo\\Translation", then of
  // L"\\StringFileInfo\\<language><code page>\\<name>"), in UTF-8. False when the file has no
  // version resource, the resource lists no translation, or it has no such entry.
  virtual bool fileVersionText(const std::string& path, const std::string& name, std::string& value,
                               std::uint32_t& error) = 0;
};

}  // namespace tw
