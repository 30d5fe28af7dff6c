#include "platform/win32/win32_file_lookup.h"

#include <windows.h>

#include <vector>

#include "platform/win32/utf16.h"

namespace tw::win32 {

PathKind Win32FileLookup::pathKind(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(toUtf16(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

std::uint32_t Win32FileLookup::logicalDrives() {
  return GetLogicalDrives();
}

DriveType Win32FileLookup::driveType(const std::string& root) {
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

bool Win32FileLookup::volumeLabel(const std::string& root, std::size_t maxChars,
                                  std::string& label) {
  std::vector<wchar_t> buffer(maxChars + 1, L'\0');
  if (!GetVolumeInformationW(toUtf16(root).c_str(), buffer.data(), static_cast<DWORD>(maxChars),
                             nullptr, nullptr, nullptr, nullptr, 0)) {
    return false;
  }
  label = toUtf8(buffer.data());
  return true;
}

bool Win32FileLookup::ownModulePath(std::size_t maxChars, std::string& path) {
  std::vector<wchar_t> buffer(maxChars, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(maxChars));
  // A result that fills the buffer was cut.
  if (length == 0 || length >= maxChars) return false;
  path = toUtf8(std::wstring_view(buffer.data(), length));
  return true;
}

bool Win32FileLookup::expandEnvironment(const std::string& text, std::size_t maxChars,
                                        std::string& expanded) {
  std::vector<wchar_t> buffer(maxChars, L'\0');
  const DWORD needed =
      ExpandEnvironmentStringsW(toUtf16(text).c_str(), buffer.data(), static_cast<DWORD>(maxChars));
  if (needed == 0 || needed > maxChars) return false;
  expanded = toUtf8(buffer.data());
  return true;
}

}  // namespace tw::win32
