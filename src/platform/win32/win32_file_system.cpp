#include "platform/win32/win32_file_system.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "platform/win32/scoped_win.h"
#include "platform/win32/utf16.h"

namespace tw::win32 {
namespace {

// The most one ReadFile or WriteFile is asked to move.
constexpr DWORD kMaxTransfer = 1u << 30;

std::uint64_t combine(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

bool failWithLastError(std::uint32_t& error) {
  error = GetLastError();
  return false;
}

class Win32FileWriter : public FileWriter {
 public:
  explicit Win32FileWriter(HANDLE file) : file_(file) {}
  ~Win32FileWriter() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  Win32FileWriter(const Win32FileWriter&) = delete;
  Win32FileWriter& operator=(const Win32FileWriter&) = delete;

  bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written,
             std::uint32_t& error) override {
    written = 0;
    if (!open(error)) return false;
    DWORD done = 0;
    const BOOL ok = WriteFile(file_, data, size, &done, nullptr);
    written = done;
    return ok ? true : failWithLastError(error);
  }

  bool flush(std::uint32_t& error) override {
    if (!open(error)) return false;
    return FlushFileBuffers(file_) ? true : failWithLastError(error);
  }

  bool close(std::uint32_t& error) override {
    if (!open(error)) return false;
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    return CloseHandle(file) ? true : failWithLastError(error);
  }

 private:
  bool open(std::uint32_t& error) const {
    if (file_ != INVALID_HANDLE_VALUE) return true;
    error = ERROR_INVALID_HANDLE;
    return false;
  }

  HANDLE file_;
};

HANDLE openForReading(const std::string& path) {
  return CreateFileW(toUtf16(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE createForWriting(const std::string& path) {
  return CreateFileW(toUtf16(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

PathKind Win32FileSystem::pathKind(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(toUtf16(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

std::uint32_t Win32FileSystem::logicalDrives() {
  return GetLogicalDrives();
}

DriveType Win32FileSystem::driveType(const std::string& root) {
  switch (GetDriveTypeW(toUtf16(root).c_str())) {
    case DRIVE_NO_ROOT_DIR:
      return DriveType::NoRootDir;
    case DRIVE_REMOVABLE:
      return DriveType::Removable;
    case DRIVE_FIXED:
      return DriveType::Fixed;
    case DRIVE_REMOTE:
      return DriveType::Remote;
    case DRIVE_CDROM:
      return DriveType::CdRom;
    case DRIVE_RAMDISK:
      return DriveType::RamDisk;
    default:
      return DriveType::Unknown;
  }
}

bool Win32FileSystem::volumeLabel(const std::string& root, std::size_t maxChars,
                                  std::string& label) {
  std::vector<wchar_t> buffer(maxChars + 1, L'\0');
  if (!GetVolumeInformationW(toUtf16(root).c_str(), buffer.data(), static_cast<DWORD>(maxChars),
                             nullptr, nullptr, nullptr, nullptr, 0)) {
    return false;
  }
  label = toUtf8(buffer.data());
  return true;
}

bool Win32FileSystem::ownModulePath(std::size_t maxChars, std::string& path) {
  std::vector<wchar_t> buffer(maxChars, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(maxChars));
  // A result that fills the buffer was cut.
  if (length == 0 || length >= maxChars) return false;
  path = toUtf8(std::wstring_view(buffer.data(), length));
  return true;
}

bool Win32FileSystem::expandEnvironment(const std::string& text, std::size_t maxChars,
                                        std::string& expanded) {
  std::vector<wchar_t> buffer(maxChars, L'\0');
  const DWORD needed =
      ExpandEnvironmentStringsW(toUtf16(text).c_str(), buffer.data(), static_cast<DWORD>(maxChars));
  if (needed == 0 || needed > maxChars) return false;
  expanded = toUtf8(buffer.data());
  return true;
}

std::uint32_t Win32FileSystem::tempPath(std::uint32_t bufferUnits, std::string& path) {
  std::vector<wchar_t> buffer(std::max<std::uint32_t>(bufferUnits, 1), L'\0');
  const DWORD length = GetTempPathW(bufferUnits, buffer.data());
  if (length > 0 && length < bufferUnits) path = toUtf8(std::wstring_view(buffer.data(), length));
  return length;
}

bool Win32FileSystem::localAppDataFolder(std::string& path, std::uint32_t& error) {
  PWSTR folder = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder);
  if (SUCCEEDED(result) && folder != nullptr) path = toUtf8(folder);
  // The buffer is freed whether or not the call succeeded.
  CoTaskMemFree(folder);
  if (FAILED(result)) {
    error = static_cast<std::uint32_t>(result);
    return false;
  }
  return true;
}

std::uint64_t Win32FileSystem::systemTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return combine(now.dwHighDateTime, now.dwLowDateTime);
}

std::uint32_t Win32FileSystem::addErrorMode(std::uint32_t flags) {
  const UINT previous = GetErrorMode();
  SetErrorMode(previous | flags);
  return previous;
}

bool Win32FileSystem::fileAttributes(const std::string& path, FileAttributes& out,
                                     std::uint32_t& error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(toUtf16(path).c_str(), GetFileExInfoStandard, &data)) {
    return failWithLastError(error);
  }
  out.attributes = data.dwFileAttributes;
  out.size = combine(data.nFileSizeHigh, data.nFileSizeLow);
  out.lastWriteTime =
      combine(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
  return true;
}

bool Win32FileSystem::createFolder(const std::string& path, std::uint32_t& error) {
  const int result = SHCreateDirectoryExW(nullptr, toUtf16(path).c_str(), nullptr);
  if (result == ERROR_SUCCESS) return true;
  error = static_cast<std::uint32_t>(result);
  return false;
}

std::unique_ptr<FileWriter> Win32FileSystem::createFile(const std::string& path,
                                                        std::uint32_t& error) {
  HANDLE file = createForWriting(path);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  return std::make_unique<Win32FileWriter>(file);
}

bool Win32FileSystem::writeFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                                std::uint32_t& error) {
  HANDLE file = createForWriting(path);
  if (file == INVALID_HANDLE_VALUE) return failWithLastError(error);
  std::size_t done = 0;
  while (done < size) {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size - done, kMaxTransfer));
    DWORD written = 0;
    const BOOL ok = WriteFile(file, data + done, part, &written, nullptr);
    if (!ok || written == 0) {
      // A write that moves nothing would never end.
      error = ok ? ERROR_WRITE_FAULT : GetLastError();
      CloseHandle(file);
      return false;
    }
    done += written;
  }
  return CloseHandle(file) ? true : failWithLastError(error);
}

bool Win32FileSystem::readFile(const std::string& path, std::size_t maxBytes, FileBytes& data,
                               std::size_t& length, std::uint32_t& error) {
  data.reset();
  length = 0;
  ScopedHandle file(openForReading(path));
  if (!file.valid()) return failWithLastError(error);
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return failWithLastError(error);
  if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
    error = ERROR_FILE_TOO_LARGE;
    return false;
  }
  const std::size_t total = static_cast<std::size_t>(size.QuadPart);
  FileBytes buffer(static_cast<std::uint8_t*>(std::malloc(total > 0 ? total : 1)));
  if (!buffer) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  std::size_t done = 0;
  while (done < total) {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(total - done, kMaxTransfer));
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer.get() + done, part, &got, nullptr)) {
      return failWithLastError(error);
    }
    if (got == 0) {
      error = ERROR_HANDLE_EOF;
      return false;
    }
    done += got;
  }
  data = std::move(buffer);
  length = total;
  return true;
}

bool Win32FileSystem::readFileStart(const std::string& path, std::uint8_t* buffer,
                                    std::uint32_t size, std::uint32_t& got, std::uint32_t& error) {
  got = 0;
  ScopedHandle file(openForReading(path));
  if (!file.valid()) return failWithLastError(error);
  DWORD read = 0;
  if (!ReadFile(file.get(), buffer, size, &read, nullptr)) return failWithLastError(error);
  got = read;
  return true;
}

bool Win32FileSystem::renameOver(const std::string& from, const std::string& to,
                                 std::uint32_t& error) {
  if (MoveFileExW(toUtf16(from).c_str(), toUtf16(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  return failWithLastError(error);
}

bool Win32FileSystem::copyFile(const std::string& from, const std::string& to,
                               std::uint32_t& error) {
  if (CopyFileW(toUtf16(from).c_str(), toUtf16(to).c_str(), FALSE)) return true;
  return failWithLastError(error);
}

bool Win32FileSystem::deleteFile(const std::string& path, std::uint32_t& error) {
  if (DeleteFileW(toUtf16(path).c_str())) return true;
  return failWithLastError(error);
}

bool Win32FileSystem::listFolder(const std::string& pattern, std::vector<FolderEntry>& entries,
                                 std::uint32_t& error) {
  entries.clear();
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(toUtf16(pattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return failWithLastError(error);
  do {
    entries.push_back(FolderEntry{toUtf8(found.cFileName),
                                  (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(find, &found));
  const DWORD last = GetLastError();
  FindClose(find);
  if (last == ERROR_NO_MORE_FILES) return true;
  error = last;
  return false;
}

namespace {

// GetFileVersionInfoSizeW and GetFileVersionInfoW: the whole version resource of a file.
bool readVersionBlock(const std::wstring& file, std::unique_ptr<std::uint8_t[]>& block,
                      std::uint32_t& error) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return failWithLastError(error);
  block.reset(new (std::nothrow) std::uint8_t[size]);
  if (!block) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  if (!GetFileVersionInfoW(file.c_str(), 0, size, block.get())) return failWithLastError(error);
  return true;
}

}  // namespace

bool Win32FileSystem::fileVersion(const std::string& path, FileVersionParts& version,
                                  std::uint32_t& error) {
  std::unique_ptr<std::uint8_t[]> block;
  if (!readVersionBlock(toUtf16(path), block, error)) return false;
  void* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.get(), L"\\", &fixed, &length) || fixed == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    error = ERROR_RESOURCE_DATA_NOT_FOUND;
    return false;
  }
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, fixed, sizeof info);
  version.major = HIWORD(info.dwFileVersionMS);
  version.minor = LOWORD(info.dwFileVersionMS);
  version.build = HIWORD(info.dwFileVersionLS);
  version.revision = LOWORD(info.dwFileVersionLS);
  return true;
}

bool Win32FileSystem::fileVersionText(const std::string& path, const std::string& name,
                                      std::string& value, std::uint32_t& error) {
  std::unique_ptr<std::uint8_t[]> block;
  if (!readVersionBlock(toUtf16(path), block, error)) return false;
  void* table = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.get(), L"\\VarFileInfo\\Translation", &table, &length) ||
      table == nullptr || length < 2 * sizeof(WORD)) {
    error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return false;
  }
  WORD language[2];
  std::memcpy(language, table, sizeof language);
  wchar_t prefix[40];
  swprintf(prefix, sizeof prefix / sizeof prefix[0], L"\\StringFileInfo\\%04x%04x\\", language[0],
           language[1]);
  void* text = nullptr;
  if (!VerQueryValueW(block.get(), (prefix + toUtf16(name)).c_str(), &text, &length) ||
      text == nullptr) {
    error = ERROR_RESOURCE_NAME_NOT_FOUND;
    return false;
  }
  // The length counts characters, the terminator included when there is one.
  const wchar_t* chars = static_cast<const wchar_t*>(text);
  std::size_t count = 0;
  while (count < length && chars[count] != L'\0') ++count;
  value = toUtf8(std::wstring_view(chars, count));
  return true;
}

}  // namespace tw::win32
