// Runs the tray's Win32 adapters against what Wine really does. Prints one line per check and
// exits 0 only when every check held.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/overlapped_io.h"
#include "platform/win32/utf16.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_desktop.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_message_loop.h"
#include "platform/win32/win32_tray.h"

namespace {

int failures = 0;

void check(bool ok, const char* name, const std::string& detail = {}) {
  std::printf("%s %s%s%s\n", ok ? "ok" : "FAIL", name, detail.empty() ? "" : ": ", detail.c_str());
  if (!ok) ++failures;
}

void checkTexts() {
  using tw::win32::copyToField;
  using tw::win32::toUtf16;
  using tw::win32::toUtf8;
  const std::string tip = "Tarnwick Bridge \xE2\x80\x94 looking\xE2\x80\xA6";
  check(toUtf16(tip) == L"Tarnwick Bridge \u2014 looking\u2026", "utf16 from utf8");
  check(toUtf8(toUtf16(tip)) == tip, "utf8 round trip");
  check(toUtf16("").empty() && toUtf8(L"").empty(), "empty texts");

  wchar_t field[5];
  copyToField(field, 5, "abcdefg");
  check(std::wstring(field) == L"abcd", "field cut to capacity - 1");
  // U+1F600 is a surrogate pair; cutting between its halves would leave a lone high surrogate.
  copyToField(field, 5, "abc\xF0\x9F\x98\x80");
  check(std::wstring(field) == L"abc", "field cut keeps surrogate pairs whole");
  copyToField(field, 5, "ab\xF0\x9F\x98\x80");
  check(std::wstring(field) == L"ab\U0001F600", "pair that fits is kept");
}

void checkClock() {
  tw::win32::Win32Clock clock;
  const auto before = clock.tickMs();
  clock.sleepMs(60);
  const auto after = clock.tickMs();
  check(after >= before + 40, "sleep advances the tick", std::to_string(after - before) + " ms");
}

constexpr std::uint32_t kPosted = WM_APP + 5;
constexpr std::uint32_t kAsked = WM_APP + 6;
constexpr UINT_PTR kQuitTimer = 1;
constexpr UINT_PTR kMenuTimer = 2;

// Records what reaches the window and drives the loop to its end: a posted message, then the
// timer that destroys the window, whose WM_DESTROY posts the quit message.
class RecordingHandler : public tw::WindowHandler {
 public:
  explicit RecordingHandler(tw::MessageLoop& loop) : loop_(loop) {}
  tw::LResult onMessage(tw::WindowId window, std::uint32_t message, tw::WParam wParam,
                        tw::LParam lParam) override {
    if (message == WM_NCCREATE || message == WM_CREATE) sawCreation = true;
    if (message == kAsked) return 4242;
    if (message == kPosted) postedArgs = std::to_string(wParam) + "," + std::to_string(lParam);
    if (message == WM_TIMER && wParam == kMenuTimer) {
      loop_.killTimer(window, kMenuTimer);
      EndMenu();
      return 0;
    }
    if (message == WM_TIMER && wParam == kQuitTimer) {
      ++timerTicks;
      loop_.killTimer(window, kQuitTimer);
      loop_.destroyWindow(window);
      return 0;
    }
    if (message == WM_NULL) ++nulls;
    if (message == WM_DESTROY) {
      sawDestroy = true;
      loop_.postQuit(0);
      return 0;
    }
    return loop_.defaultProcedure(window, message, wParam, lParam);
  }
  bool sawCreation = false;
  bool sawDestroy = false;
  int timerTicks = 0;
  int nulls = 0;
  std::string postedArgs;

 private:
  tw::MessageLoop& loop_;
};

void checkWindowAndMessages() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  tw::win32::Win32MessageLoop loop(instance);
  tw::win32::Win32Desktop desktop;
  tw::win32::Win32Tray tray(instance);

  const std::uint32_t registered = loop.registerMessage("TarnwickBridge.AdapterCheck");
  check(registered >= 0xC000 && registered == loop.registerMessage("TarnwickBridge.AdapterCheck"),
        "registered message is stable");

  RecordingHandler handler(loop);
  const tw::WindowId window = loop.createHiddenWindow("TwAdapterCheckWnd", "Check", &handler);
  check(window != 0, "hidden window created");
  if (window == 0) return;
  check(!handler.sawCreation, "messages during creation go to the default procedure");
  check(!IsWindowVisible(reinterpret_cast<HWND>(window)), "window stays hidden");
  check((GetWindowLongPtrW(reinterpret_cast<HWND>(window), GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0,
        "tool window style");
  loop.allowMessage(window, registered);

  check(desktop.findWindowByClass("TwAdapterCheckWnd") == window, "found by class");
  check(desktop.findWindowByClass("TwNoSuchClassWnd") == 0, "unknown class not found");
  check(desktop.windowProcessId(window) == GetCurrentProcessId(), "window's process id");
  std::uintptr_t answer = 0;
  const bool sent = desktop.sendMessageWithTimeout(window, kAsked, 0, 0, 2000, answer);
  check(sent && answer == 4242, "send with time-out returns the handler's result",
        std::to_string(answer));

  // A menu tracked on this thread: the timer closes it, showing that items append and the
  // modal loop returns.
  const std::vector<tw::MenuItem> items = {
      {tw::MenuItem::Kind::Command, 1001, "Open control panel", false, false},
      {tw::MenuItem::Kind::Separator, 0, "", false, false},
      {tw::MenuItem::Kind::Command, 1002, "Connected \xE2\x80\xA2 battery good", true, false},
      {tw::MenuItem::Kind::Command, 1003, "Start with Windows", false, true},
  };
  loop.setTimer(window, kMenuTimer, 300);
  check(tray.showPopupMenu(window, items), "popup menu shown and closed");

  // The tray icon calls must not upset the loop, with or without icon resources.
  tray.loadIcons();
  tw::NotifyIconRecord record;
  record.window = window;
  record.callbackMessage = WM_APP + 1;
  record.tip = std::string(200, 'x');  // longer than the field: cut, never overflowed
  // The tray relies on the shell refusing a second add of the same icon and a modify of an icon
  // it does not have.
  const bool added = tray.add(record);
  const bool addedTwice = tray.add(record);
  const bool modified = tray.modify(record);
  std::printf("info shell answers: add %d, add again %d, modify %d\n", added, addedTwice, modified);
  tray.balloon(record, std::string(100, 't'), std::string(400, 'b'), tw::BalloonIcon::Warning);
  tray.remove(record);
  const bool modifiedGone = tray.modify(record);
  check(!modifiedGone, "modify of a removed icon fails");
  if (added) {
    check(!addedTwice, "a second add of the same icon fails");
    check(modified, "modify of a shown icon succeeds");
  }

  check(loop.postMessage(window, kPosted, 7, -9), "post accepted");
  check(loop.setTimer(window, kQuitTimer, 50), "timer set");
  loop.run();
  check(handler.postedArgs == "7,-9", "posted message arrives with its arguments",
        handler.postedArgs);
  check(handler.timerTicks == 1, "timer fired once and was killed");
  check(handler.sawDestroy, "destroy reached the handler and ended the loop");
  check(handler.nulls >= 1, "menu posts WM_NULL to its owner");
  check(desktop.findWindowByClass("TwAdapterCheckWnd") == 0, "destroyed window is gone");
}

void checkMessageOnlyWindow() {
  tw::win32::Win32Desktop desktop;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"TwAdapterCheckMsgWnd";
  RegisterClassW(&windowClass);
  HWND hwnd = CreateWindowExW(0, L"TwAdapterCheckMsgWnd", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  check(desktop.findMessageOnlyWindowByClass("TwAdapterCheckMsgWnd") ==
            reinterpret_cast<tw::WindowId>(hwnd),
        "message-only window found among message-only windows");
  DestroyWindow(hwnd);
}

DWORD WINAPI ownAndLeave(void* name) {
  CreateMutexW(nullptr, TRUE, static_cast<const wchar_t*>(name));
  return 0;  // ends without releasing: the mutex is abandoned
}

void checkMutexAndWaits() {
  tw::win32::Win32Desktop desktop;
  bool existed = true;
  auto first = desktop.createOwnedMutex("TarnwickBridge.CheckMutex", existed);
  check(first != nullptr && !existed, "new mutex");
  auto second = desktop.createOwnedMutex("TarnwickBridge.CheckMutex", existed);
  check(second != nullptr && existed, "existing mutex reported");
  if (second) check(second->wait(0) == tw::WaitOutcome::Signalled, "owner takes it again");
  second.reset();
  first.reset();

  static wchar_t abandonedName[] = L"TarnwickBridge.CheckAbandoned";
  HANDLE thread = CreateThread(nullptr, 0, ownAndLeave, abandonedName, 0, nullptr);
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  auto abandoned = desktop.createOwnedMutex("TarnwickBridge.CheckAbandoned", existed);
  check(abandoned && abandoned->wait(1000) == tw::WaitOutcome::Abandoned,
        "abandoned mutex is taken as abandoned");
  abandoned.reset();

  auto self = desktop.openProcessForWaiting(GetCurrentProcessId());
  check(self != nullptr, "own process opened for waiting");
  if (self) check(self->wait(20) == tw::WaitOutcome::TimedOut, "a running process times out");
  self.reset();
  check(desktop.openProcessForWaiting(0x7FFFFFF0) == nullptr, "no such process");
}

// A message-mode pipe stands in for a HID interface: each write is one report.
struct PipeServer {
  HANDLE pipe;
  bool write(const char* bytes, DWORD length) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL ok = WriteFile(pipe, bytes, length, nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
      ok = GetOverlappedResult(pipe, &overlapped, &written, TRUE);
    CloseHandle(overlapped.hEvent);
    return ok;
  }
  std::string read() {
    char bytes[256];
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD got = 0;
    BOOL ok = ReadFile(pipe, bytes, sizeof bytes, nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING &&
        WaitForSingleObject(overlapped.hEvent, 2000) == WAIT_OBJECT_0)
      ok = TRUE;
    if (ok) GetOverlappedResult(pipe, &overlapped, &got, FALSE);
    CloseHandle(overlapped.hEvent);
    return std::string(bytes, ok ? got : 0);
  }
};

DWORD WINAPI writeLater(void* server) {
  Sleep(150);
  static_cast<PipeServer*>(server)->write("\x01late", 5);
  return 0;
}

void checkOverlappedIo() {
  tw::win32::Win32HidPort hid;
  std::vector<std::string> paths;
  check(hid.listInterfaces(paths), "HID interface list", std::to_string(paths.size()) + " found");
  check(hid.open("\\\\.\\pipe\\tw-no-such-pipe", tw::HidAccess::ReadWrite, true) == nullptr,
        "open of a missing path fails");

  const char* path = "\\\\.\\pipe\\tw-adapter-check";
  PipeServer server{
      CreateNamedPipeW(L"\\\\.\\pipe\\tw-adapter-check", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096, 4096, 0, nullptr)};
  if (server.pipe == INVALID_HANDLE_VALUE) {
    check(false, "pipe server");
    return;
  }
  auto device = hid.open(path, tw::HidAccess::ReadWrite, true);
  check(device != nullptr, "overlapped open");
  if (!device) return;

  std::uint8_t report[64] = {};
  const ULONGLONG started = GetTickCount64();
  tw::InputReadResult read = device->readInput(report, sizeof report, 200, 200);
  const ULONGLONG waited = GetTickCount64() - started;
  check(read.outcome == tw::InputReadResult::Outcome::TimedOut, "idle read times out");
  check(waited >= 180 && waited < 1500, "idle read waits about as long as asked",
        std::to_string(waited) + " ms");

  server.write("\x01\x02\x03\x04", 4);
  read = device->readInput(report, sizeof report, 400, 200);
  check(read.outcome == tw::InputReadResult::Outcome::Completed && read.bytes == 4 &&
            std::memcmp(report, "\x01\x02\x03\x04", 4) == 0,
        "waiting report read at once after a cancelled read");

  HANDLE writer = CreateThread(nullptr, 0, writeLater, &server, 0, nullptr);
  std::memset(report, 0, sizeof report);
  read = device->readInput(report, sizeof report, 3000, 200);
  WaitForSingleObject(writer, 5000);
  CloseHandle(writer);
  check(read.outcome == tw::InputReadResult::Outcome::Completed && read.bytes == 5 &&
            std::memcmp(report, "\x01late", 5) == 0,
        "report arriving during the wait is read");

  // The caller's buffer is never written beyond the length it gave.
  server.write("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
  std::uint8_t small[6] = {0, 0, 0, 0, 0xEE, 0xEE};
  read = device->readInput(small, 4, 400, 200);
  check(read.outcome != tw::InputReadResult::Outcome::Completed || read.bytes <= 4,
        "short buffer not overrun by the count");
  check(small[4] == 0xEE && small[5] == 0xEE, "short buffer not overrun");

  const std::uint8_t output[] = {0x02, 0xAA, 0xBB};
  check(device->writeOutput(output, sizeof output, 1000), "output write");
  check(server.read() == std::string("\x02\xAA\xBB", 3), "output bytes arrive");

  DisconnectNamedPipe(server.pipe);
  read = device->readInput(report, sizeof report, 200, 200);
  check(read.outcome == tw::InputReadResult::Outcome::Failed, "read of a broken pipe fails");
  device.reset();
  CloseHandle(server.pipe);

  // Without FILE_FLAG_OVERLAPPED a read could block for ever; it is refused instead.
  server.pipe =
      CreateNamedPipeW(L"\\\\.\\pipe\\tw-adapter-check", PIPE_ACCESS_DUPLEX,
                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096, 4096, 0, nullptr);
  auto plain = hid.open(path, tw::HidAccess::ReadWrite, false);
  check(plain != nullptr, "plain open");
  if (plain)
    check(plain->readInput(report, sizeof report, 100, 100).outcome ==
              tw::InputReadResult::Outcome::Failed,
          "read on a handle without overlapped I/O is refused");
  plain.reset();
  CloseHandle(server.pipe);
}

// Reads on a pipe whose driver does not let go when asked: the cancel does nothing, so a read
// that times out is still pending when its owner goes away.
class StubbornReads : public tw::win32::OverlappedCalls {
 public:
  explicit StubbornReads(HANDLE file) : file_(file) {}
  BOOL start(std::uint8_t* buffer, DWORD length, OVERLAPPED* record) override {
    event = record->hEvent;
    return ReadFile(file_, buffer, length, nullptr, record);
  }
  BOOL result(OVERLAPPED* record, DWORD& bytes) override {
    return GetOverlappedResult(file_, record, &bytes, FALSE);
  }
  void cancel(OVERLAPPED*) override {}
  HANDLE event = nullptr;

 private:
  HANDLE file_;
};

void checkPendingTransferAtClose() {
  const wchar_t* name = L"\\\\.\\pipe\\tw-adapter-check-pending";
  HANDLE server =
      CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096, 4096, 0, nullptr);
  HANDLE client = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (server == INVALID_HANDLE_VALUE || client == INVALID_HANDLE_VALUE) {
    check(false, "pending-transfer pipe");
    return;
  }
  StubbornReads reads(client);
  auto transfer = std::make_unique<tw::win32::OverlappedTransfer>();
  DWORD bytes = 0;
  DWORD error = 0;
  PipeServer{server}.write("\x01ok", 3);
  std::uint8_t* buffer = transfer->prepare(64, 0);
  tw::win32::TransferOutcome outcome = transfer->run(reads, 64, 500, 50, bytes, error);
  check(buffer != nullptr && outcome == tw::win32::TransferOutcome::Done && bytes == 3 &&
            error == 0 && std::memcmp(buffer, "\x01ok", 3) == 0,
        "a waiting message is read into the transfer's own buffer");

  const bool prepared = transfer->prepare(64, 0) != nullptr;
  outcome = transfer->run(reads, 64, 50, 50, bytes, error);
  check(prepared && outcome == tw::win32::TransferOutcome::TimedOut && error == ERROR_SEM_TIMEOUT &&
            transfer->inFlight(),
        "a read whose cancel does not land times out and stays in flight");
  ULONGLONG started = GetTickCount64();
  check(transfer->prepare(64, 100) == nullptr, "the record is not reused while the driver has it");
  ULONGLONG waited = GetTickCount64() - started;
  check(waited < 1000, "that refusal waits only as long as asked", std::to_string(waited) + " ms");

  started = GetTickCount64();
  transfer.reset();
  waited = GetTickCount64() - started;
  check(waited < 100, "closing with a read still pending returns at once",
        std::to_string(waited) + " ms");
  // The transfer is gone, but its record now waits in the thread pool; closing the file cancels
  // the read for good, and the record's event is closed once it has landed.
  CloseHandle(client);
  DWORD state = WAIT_OBJECT_0;
  for (int i = 0; i < 200 && state != WAIT_FAILED; ++i) {
    state = WaitForSingleObject(reads.event, 0);
    if (state != WAIT_FAILED) Sleep(10);
  }
  check(state == WAIT_FAILED, "the record is freed once the cancelled read lands");

  // A transfer that cannot start fails with the Windows error of the call.
  StubbornReads nowhere(INVALID_HANDLE_VALUE);
  tw::win32::OverlappedTransfer failing;
  failing.prepare(64, 0);
  outcome = failing.run(nowhere, 64, 50, 50, bytes, error);
  check(outcome == tw::win32::TransferOutcome::Failed && error == ERROR_INVALID_HANDLE,
        "a failed start reports its Windows error", std::to_string(error));
  CloseHandle(server);
}

}  // namespace

int wmain() {
  checkTexts();
  checkClock();
  checkWindowAndMessages();
  checkMessageOnlyWindow();
  checkMutexAndWaits();
  checkOverlappedIo();
  checkPendingTransferAtClose();
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
