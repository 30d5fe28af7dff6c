// Runs the file-system and registry adapters against what Wine really does, for the Wine tests:
//   file_system_probe files              the file checks in a fresh folder of local app data
//   file_system_probe registry           the registry checks under HKCU\Software\Tarnwick Probe
//   file_system_probe version <path>...  "version <path> a.b.c.d", or "version <path> none <error>"
//   file_system_probe drive <X:> <size>  what the drive is, the start of its INFO_UF2.TXT, and a
//                                        TARNWICK.UF2 of <size> bytes copied onto it
//   file_system_probe unplug <X:>        takes the drive letter away, as a board's restart does
// Prints "ok <check>" or "FAIL <check>: <detail>" per check and exits 0 only when all held.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/utf16.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_registry.h"
#include "sim/port_conformance.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& name, const std::string& detail) {
  std::printf("%s %s%s%s\n", ok ? "ok" : "FAIL", name.c_str(), ok || detail.empty() ? "" : ": ",
              ok ? "" : detail.c_str());
  if (!ok) ++failures;
}

int runFiles() {
  tw::win32::Win32FileSystem files;
  std::string local;
  std::uint32_t error = 0;
  if (!files.localAppDataFolder(local, error)) {
    check(false, "localAppDataFolder", std::to_string(error));
    return 1;
  }
  // Wine hands out the same process ids run after run: the tick count keeps the folder fresh.
  const std::string base = local + "\\Tarnwick Probe " +
                           std::to_string(static_cast<unsigned long>(GetCurrentProcessId())) + "-" +
                           std::to_string(static_cast<unsigned long long>(GetTickCount64()));
  if (!files.createFolder(base, error)) {
    check(false, "a fresh folder to work in", std::to_string(error));
    return 1;
  }
  std::printf("base %s\n", base.c_str());
  tw::conformance::checkFiles(files, base, check);
  return 0;
}

int runRegistry() {
  const wchar_t* key = L"Software\\Tarnwick Probe";
  RegDeleteTreeW(HKEY_CURRENT_USER, key);
  const DWORD number = 7;
  RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Number", REG_DWORD, &number, sizeof number);
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Tarnwick Probe\\Number", nullptr, REG_DWORD,
                  &number, sizeof number);

  tw::win32::Win32Registry registry;
  tw::conformance::checkRegistry(registry, "Software\\Tarnwick Probe", check);

  // The value as Windows keeps it: REG_SZ, with its terminator counted.
  std::uint32_t error = 0;
  const std::string text =
      "\"C:\\Users\\a\\AppData\\Local\\Tarnwick Bridge\\Tarnwick.exe\" --startup";
  registry.writeText(tw::RegistryHive::CurrentUser, "Software\\Tarnwick Probe\\Run",
                     "Tarnwick Bridge", text, error);
  DWORD type = 0, size = 0;
  const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, L"Software\\Tarnwick Probe\\Run",
                                      L"Tarnwick Bridge", RRF_RT_ANY, &type, nullptr, &size);
  check(status == ERROR_SUCCESS && type == REG_SZ && size == (text.size() + 1) * 2,
        "the value is stored as REG_SZ with its terminator",
        std::to_string(status) + " type " + std::to_string(type) + " size " + std::to_string(size));

  // How RRF_RT_REG_SZ treats a REG_EXPAND_SZ value, for the simulated registry to follow.
  const wchar_t expand[] = L"%SystemRoot%\\x";
  RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Expand", REG_EXPAND_SZ, expand, sizeof expand);
  std::string value;
  error = 0;
  const bool read = registry.readText(tw::RegistryHive::CurrentUser, "Software\\Tarnwick Probe",
                                      "Expand", 1040, value, error);
  std::printf("info expand-sz read %s error %lu value %s\n", read ? "yes" : "no",
              static_cast<unsigned long>(error), value.c_str());

  RegDeleteTreeW(HKEY_CURRENT_USER, key);
  return 0;
}

int runVersion(int argc, wchar_t** argv) {
  tw::win32::Win32FileSystem files;
  for (int i = 2; i < argc; ++i) {
    const std::string path = tw::win32::toUtf8(argv[i]);
    tw::FileVersionParts v;
    std::uint32_t error = 0;
    if (files.fileVersion(path, v, error)) {
      std::printf("version %s %u.%u.%u.%u\n", path.c_str(), v.major, v.minor, v.build, v.revision);
    } else {
      std::printf("version %s none %lu\n", path.c_str(), static_cast<unsigned long>(error));
    }
    // The entries the installed-copy rule tells our program by, "-" for one that is missing.
    std::string names[2];
    const char* keys[2] = {"OriginalFilename", "ProductName"};
    for (int k = 0; k < 2; ++k) {
      if (!files.fileVersionText(path, keys[k], names[k], error)) names[k] = "-";
    }
    std::printf("names %s|%s\n", names[0].c_str(), names[1].c_str());
  }
  return 0;
}

const char* typeName(tw::DriveType type) {
  switch (type) {
    case tw::DriveType::Removable:
      return "removable";
    case tw::DriveType::Fixed:
      return "fixed";
    case tw::DriveType::NoRootDir:
      return "none";
    case tw::DriveType::CdRom:
      return "cdrom";
    case tw::DriveType::Remote:
      return "remote";
    case tw::DriveType::RamDisk:
      return "ramdisk";
    default:
      return "unknown";
  }
}

int runDrive(const std::string& drive, std::size_t size) {
  tw::win32::Win32FileSystem files;
  const std::string root = drive + "\\";
  const int letter = drive.empty() ? -1 : (drive[0] | 0x20) - 'a';
  std::printf("logical %s\n", letter >= 0 && letter < 26 && (files.logicalDrives() & (1u << letter))
                                  ? "yes"
                                  : "no");
  std::printf("type %s\n", typeName(files.driveType(root)));
  std::string label;
  if (files.volumeLabel(root, 261, label)) {
    std::printf("label %s\n", label.c_str());
  } else {
    std::printf("label none\n");
  }

  std::uint8_t start[599];
  std::uint32_t got = 0, error = 0;
  if (files.readFileStart(root + "INFO_UF2.TXT", start, sizeof start, got, error)) {
    std::printf("info %lu %.*s\n", static_cast<unsigned long>(got), static_cast<int>(got),
                reinterpret_cast<const char*>(start));
  } else {
    std::printf("info none %lu\n", static_cast<unsigned long>(error));
  }

  // The drive copy: chunks of 32768 bytes, then flush and close.
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 31 + i / 512);
  auto writer = files.createFile(root + "TARNWICK.UF2", error);
  if (!writer) {
    std::printf("copy failed create %lu\n", static_cast<unsigned long>(error));
    return 1;
  }
  std::size_t done = 0;
  int chunks = 0;
  while (done < size) {
    const auto part = static_cast<std::uint32_t>(size - done < 32768 ? size - done : 32768);
    std::uint32_t written = 0;
    if (!writer->write(image.data() + done, part, written, error) || written != part) {
      std::printf("copy failed write %lu at %lu\n", static_cast<unsigned long>(error),
                  static_cast<unsigned long>(done));
      return 1;
    }
    done += written;
    ++chunks;
  }
  const bool flushed = writer->flush(error);
  const bool closed = writer->close(error);
  std::printf("copy %lu bytes in %d chunks%s\n", static_cast<unsigned long>(done), chunks,
              flushed && closed ? "" : " (flush or close failed)");
  return flushed && closed ? 0 : 1;
}

// Wine's programs keep seeing a drive whose folder link was removed, label and all, until its
// DOS device name goes too.
int runUnplug(const std::wstring& drive) {
  if (!DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr)) {
    std::printf("unplug failed %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::printf("unplugged\n");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  int code = 2;
  if (command == L"files") {
    code = runFiles();
  } else if (command == L"registry") {
    code = runRegistry();
  } else if (command == L"version") {
    code = runVersion(argc, argv);
  } else if (command == L"drive" && argc > 3) {
    code = runDrive(tw::win32::toUtf8(argv[2]), std::wcstoul(argv[3], nullptr, 10));
  } else if (command == L"unplug" && argc > 2) {
    code = runUnplug(argv[2]);
  } else {
    std::printf(
        "usage: file_system_probe files | registry | version <path>... | drive <X:> <size> | "
        "unplug <X:>\n");
    return 2;
  }
  std::printf("%d failed\n", failures);
  return code != 0 ? code : (failures == 0 ? 0 : 1);
}
