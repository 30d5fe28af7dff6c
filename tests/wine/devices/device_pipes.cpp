#include "device_pipes.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device_world.h"
#include "platform/win32/utf16.h"

namespace tw::devices {
namespace {

constexpr char kWorldPrefix[] = "\\\\?\\";
constexpr char kPipePrefix[] = "\\\\.\\pipe\\tw-";
constexpr wchar_t kPipeNamePrefix[] = L"\\tw-";  // how FileNameInfo names our pipes
// How often a waiting listener looks whether its device is still there.
// A waiting listener looks whether its device is still there when the world changes through the
// control port, and otherwise this often (the program's own commands can take a device away).
constexpr DWORD kPresenceCheckMs = 250;
constexpr std::size_t kSpareInstances = 4;

struct Listener {
  std::string worldPath;
  StillPresent present;
  ServeConnection serve;
  HANDLE worldChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  bool finished = false;  // guarded by the registry's mutex
  ~Listener() { CloseHandle(worldChanged); }
};

std::mutex registryMutex;
std::condition_variable listenerFinished;  // with registryMutex
std::map<std::string, std::shared_ptr<Listener>> listeners;

HANDLE makeInstance(const std::string& worldPath) {
  const std::wstring name = win32::toUtf16(pipePathFor(worldPath));
  // Message mode keeps each report whole; small buffers keep the pipe from hoarding stale input
  // reports (the world's own per-handle buffer decides which are kept, as the HID driver does).
  return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                          PIPE_UNLIMITED_INSTANCES, 64, 64, 0, nullptr);
}

// One instance of the pipe waiting for the program's next open.
struct Waiting {
  HANDLE instance = INVALID_HANDLE_VALUE;
  OVERLAPPED record{};
  bool connected = false;
};

bool startWaiting(const std::string& worldPath, Waiting& waiting) {
  waiting.instance = makeInstance(worldPath);
  if (waiting.instance == INVALID_HANDLE_VALUE) return false;
  waiting.record = OVERLAPPED{};
  waiting.record.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  waiting.connected = false;
  for (;;) {
    if (ConnectNamedPipe(waiting.instance, &waiting.record)) {
      waiting.connected = true;
    } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
      waiting.connected = true;
    } else if (GetLastError() == ERROR_NO_DATA) {
      // The program opened and closed it before we waited (a poll's quick look): wait again.
      DisconnectNamedPipe(waiting.instance);
      continue;
    } else if (GetLastError() != ERROR_IO_PENDING) {
      CloseHandle(waiting.record.hEvent);
      CloseHandle(waiting.instance);
      waiting.instance = INVALID_HANDLE_VALUE;
      return false;
    }
    break;
  }
  if (waiting.connected) SetEvent(waiting.record.hEvent);
  return true;
}

void stopWaiting(Waiting& waiting) {
  if (!waiting.connected) {
    CancelIoEx(waiting.instance, &waiting.record);
    DWORD ignored = 0;
    GetOverlappedResult(waiting.instance, &waiting.record, &ignored, TRUE);
  }
  CloseHandle(waiting.record.hEvent);
  CloseHandle(waiting.instance);
}

void listen(std::shared_ptr<Listener> listener, std::vector<Waiting> waiting) {
  bool ok = true;
  while (ok && listener->present()) {
    std::vector<HANDLE> events;
    for (Waiting& one : waiting) events.push_back(one.record.hEvent);
    events.push_back(listener->worldChanged);
    DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                        kPresenceCheckMs);
    if (woke >= WAIT_OBJECT_0 + waiting.size()) continue;  // a time to look at the device
    Waiting& done = waiting[woke - WAIT_OBJECT_0];
    DWORD ignored = 0;
    const bool connected =
        done.connected || GetOverlappedResult(done.instance, &done.record, &ignored, FALSE);
    HANDLE instance = done.instance;
    CloseHandle(done.record.hEvent);
    if (connected) {
      std::thread([serve = listener->serve, instance] {
        serve(instance);
        DisconnectNamedPipe(instance);
        CloseHandle(instance);
      }).detach();
    } else {
      CloseHandle(instance);
    }
    ok = startWaiting(listener->worldPath, done);
    if (!ok) complain("CreateNamedPipeW", "no new instance for " + listener->worldPath);
  }
  std::fprintf(stderr, "[devices] %s left the bus\n", listener->worldPath.c_str());
  // The device has gone: the pipe name disappears with the last instance, so an open from now on
  // fails as an open of a removed device does.
  for (Waiting& one : waiting) {
    if (one.instance != INVALID_HANDLE_VALUE) stopWaiting(one);
  }
  std::lock_guard<std::mutex> lock(registryMutex);
  listener->finished = true;
  listenerFinished.notify_all();
}

}  // namespace

std::string pipePathFor(const std::string& worldPath) {
  if (worldPath.rfind(kWorldPrefix, 0) != 0) return {};
  return kPipePrefix + worldPath.substr(sizeof kWorldPrefix - 1);
}

std::string worldPathFor(const std::string& pipePath) {
  if (pipePath.rfind(kPipePrefix, 0) != 0) return {};
  return kWorldPrefix + pipePath.substr(sizeof kPipePrefix - 1);
}

std::string worldPathOf(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};
  alignas(FILE_NAME_INFO) unsigned char storage[sizeof(FILE_NAME_INFO) + 1024];
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(storage);
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, sizeof storage)) return {};
  std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
  if (name.rfind(kPipeNamePrefix, 0) != 0) return {};
  return kWorldPrefix + win32::toUtf8(name.substr(wcslen(kPipeNamePrefix)));
}

bool deviceGone(HANDLE handle) {
  DWORD available = 0;
  if (PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) return false;
  DWORD error = GetLastError();
  return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA;
}

void keepListening(const std::string& worldPath, StillPresent present, ServeConnection serve) {
  std::lock_guard<std::mutex> lock(registryMutex);
  auto found = listeners.find(worldPath);
  if (found != listeners.end() && !found->second->finished) return;
  auto listener = std::make_shared<Listener>();
  listener->worldPath = worldPath;
  listener->present = std::move(present);
  listener->serve = std::move(serve);
  // Several instances wait at once: the program opens a device from several threads (the tray's
  // poll, the panel's requests, an input stream), and an open that found every instance taken
  // would fail as no open of a real device does. They wait before the enumeration returns.
  std::vector<Waiting> waiting(kSpareInstances);
  for (Waiting& one : waiting) {
    if (!startWaiting(worldPath, one)) {
      complain("CreateNamedPipeW", "no pipe for " + worldPath);
      return;
    }
  }
  listeners[worldPath] = listener;
  std::thread(listen, listener, std::move(waiting)).detach();
}

}  // namespace tw::devices

namespace tw::devices {

void notifyWorldChanged() {
  std::lock_guard<std::mutex> lock(registryMutex);
  for (auto& entry : listeners) SetEvent(entry.second->worldChanged);
}

bool waitUntilClosed(const std::string& worldPath, DWORD ms) {
  notifyWorldChanged();
  std::unique_lock<std::mutex> lock(registryMutex);
  return listenerFinished.wait_for(lock, std::chrono::milliseconds(ms), [&worldPath] {
    auto found = listeners.find(worldPath);
    return found == listeners.end() || found->second->finished;
  });
}

}  // namespace tw::devices
