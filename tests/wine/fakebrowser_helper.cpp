// Stands in for a Chromium-based browser under Wine: appends its command line to the file named
// by TW_FAKE_BROWSER_LOG (UTF-8, one line per start) and exits.
#include <windows.h>

int wmain() {
  wchar_t logPath[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"TW_FAKE_BROWSER_LOG", logPath, MAX_PATH) == 0) return 1;
  HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const wchar_t* line = GetCommandLineW();
  char utf8[4096];
  int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof(utf8) - 2, nullptr, nullptr);
  if (length > 0) {
    utf8[length - 1] = '\n';
    DWORD written = 0;
    WriteFile(file, utf8, static_cast<DWORD>(length), &written, nullptr);
  }
  CloseHandle(file);
  return 0;
}
