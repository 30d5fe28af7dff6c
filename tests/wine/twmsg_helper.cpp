// Talks to a running tray from outside, the way another instance of the program would, and can
// stand in for a running instance to record what a newly started one sends it.
//
//   twmsg_helper find                 "found visible=<0|1> pid=<n>" or "not found"
//   twmsg_helper version              "version <n>" from the registered version message
//   twmsg_helper command <id>         posts WM_COMMAND <id> to the tray window
//   twmsg_helper fake <version> [message-only]
//       owns the single-instance mutex, runs a window of the tray's class that answers the
//       version message with <version>, and prints "command <id>" for every WM_COMMAND. It ends
//       on command 1005 (quit, like the real tray) or 9999 (the test is done with it), or after
//       60 seconds, printing "done".
//   twmsg_helper rig                  shows the bench flashing tool's window ("Tarnwick Pellmark
//       Rig"), prints "ready", and ends when it is closed or after 60 seconds, printing "done"
//   twmsg_helper close-rig            closes that window: "closed" or "not found"
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

const wchar_t kClass[] = L"TarnwickBridgeTrayWnd";
const wchar_t kVersionMessage[] = L"TarnwickBridge.Version";
const wchar_t kMutex[] = L"TarnwickBridgeTray.Single";
constexpr WPARAM kQuit = 1005;
constexpr WPARAM kStop = 9999;
constexpr UINT_PTR kGiveUpTimer = 1;

HWND findTray() {
  HWND window = FindWindowW(kClass, nullptr);
  if (window == nullptr) window = FindWindowExW(HWND_MESSAGE, nullptr, kClass, nullptr);
  return window;
}

int find() {
  HWND window = findTray();
  if (window == nullptr) {
    std::printf("not found\n");
    return 1;
  }
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  std::printf("found visible=%d pid=%lu\n", IsWindowVisible(window) ? 1 : 0, processId);
  return 0;
}

int version() {
  HWND window = findTray();
  UINT message = RegisterWindowMessageW(kVersionMessage);
  DWORD_PTR answer = 0;
  if (window == nullptr || message == 0 ||
      !SendMessageTimeoutW(window, message, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 2000, &answer)) {
    std::printf("no answer\n");
    return 1;
  }
  std::printf("version %llu\n", static_cast<unsigned long long>(answer));
  return 0;
}

int command(WPARAM id) {
  HWND window = findTray();
  if (window == nullptr || !PostMessageW(window, WM_COMMAND, id, 0)) {
    std::printf("not posted\n");
    return 1;
  }
  std::printf("posted\n");
  return 0;
}

UINT fakeVersionMessage = 0;
LRESULT fakeVersion = 0;

LRESULT CALLBACK fakeProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (fakeVersionMessage != 0 && message == fakeVersionMessage) return fakeVersion;
  switch (message) {
    case WM_COMMAND:
      std::printf("command %u\n", static_cast<unsigned>(LOWORD(wParam)));
      std::fflush(stdout);
      if (LOWORD(wParam) == kQuit || LOWORD(wParam) == kStop) DestroyWindow(hwnd);
      return 0;
    case WM_TIMER:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

int fake(LRESULT answer, bool messageOnly) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutex);
  fakeVersionMessage = RegisterWindowMessageW(kVersionMessage);
  fakeVersion = answer;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = fakeProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClass;
  RegisterClassExW(&windowClass);
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kClass, L"Tarnwick Bridge", WS_POPUP, 0, 0, 0, 0,
                                messageOnly ? HWND_MESSAGE : nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  if (window == nullptr) {
    std::printf("no window\n");
    return 1;
  }
  ChangeWindowMessageFilterEx(window, fakeVersionMessage, MSGFLT_ALLOW, nullptr);
  SetTimer(window, kGiveUpTimer, 60000, nullptr);
  std::printf("ready\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  std::printf("done\n");
  std::fflush(stdout);
  // Ending without releasing leaves the mutex abandoned, as a real instance's exit does.
  (void)mutex;
  return 0;
}

const wchar_t kRigClass[] = L"TarnwickProbeRigWnd";
const wchar_t kRigTitle[] = L"Tarnwick Pellmark Rig";

LRESULT CALLBACK rigProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

int rig() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = rigProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kRigClass;
  RegisterClassExW(&windowClass);
  HWND window = CreateWindowExW(0, kRigClass, kRigTitle, WS_OVERLAPPEDWINDOW, 40, 40, 320, 200,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) {
    std::printf("no window\n");
    return 1;
  }
  ShowWindow(window, SW_SHOWNORMAL);
  SetTimer(window, kGiveUpTimer, 60000, nullptr);
  std::printf("ready\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  std::printf("done\n");
  std::fflush(stdout);
  return 0;
}

int closeRig() {
  HWND window = FindWindowW(kRigClass, kRigTitle);
  if (window == nullptr) {
    std::printf("not found\n");
    return 1;
  }
  SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 5000, nullptr);
  std::printf("closed\n");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wcscmp(argv[1], L"find") == 0) return find();
  if (argc >= 2 && std::wcscmp(argv[1], L"version") == 0) return version();
  if (argc >= 3 && std::wcscmp(argv[1], L"command") == 0)
    return command(static_cast<WPARAM>(std::wcstoul(argv[2], nullptr, 10)));
  if (argc >= 3 && std::wcscmp(argv[1], L"fake") == 0)
    return fake(static_cast<LRESULT>(std::wcstoul(argv[2], nullptr, 10)),
                argc >= 4 && std::wcscmp(argv[3], L"message-only") == 0);
  if (argc >= 2 && std::wcscmp(argv[1], L"rig") == 0) return rig();
  if (argc >= 2 && std::wcscmp(argv[1], L"close-rig") == 0) return closeRig();
  std::printf(
      "usage: twmsg_helper find | version | command <id> | fake <version> [message-only] | rig |"
      " close-rig\n");
  return 2;
}
