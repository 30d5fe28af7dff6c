#include "device_pipes.h"

#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "device_world.h"
#include "platform/win32/utf16.h"

namespace tw::devices {
namespace {

constexpr char kWorldPrefix[] = "\\\\?\\";
constexpr char kPipePrefix[] = "\\\\.\\pipe\\tw-";
constexpr wchar_t kPipeNamePrefix[] = L"\\tw-";  // how FileNameInfo names our pipes
// How often a waiting listener looks whether its device is still there.
constexpr DWORD kPresenceCheckMs = 20;

struct Listener {
  std::string worldPath;
  StillPresent present;
  ServeConnection serve;
  HANDLE first = INVALID_HANDLE_VALUE;  // made before keepListening returns
  bool finished = false;                // guarded by the registry's mutex
};

std::mutex registryMutex;
std::map<std::string, std::shared_ptr<Listener>> listeners;

HANDLE makeInstance(const std::string& worldPath) {
  const std::wstring name = win32::toUtf16(pipePathFor(worldPath));
  // Message mode keeps each report whole; small buffers keep the pipe from hoarding stale input
  // reports (the world's own per-handle buffer decides which are kept, as the HID driver does).
  return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                          PIPE_UNLIMITED_INSTANCES, 64, 64, 0, nullptr);
}

// Waits for a client on `instance`; false when the device left first.
bool awaitClient(HANDLE instance, const StillPresent& present) {
  for (;;) {
    OVERLAPPED record{};
    record.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool connected = ConnectNamedPipe(instance, &record) != FALSE;
    DWORD error = connected ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
      connected = true;
    } else if (error == ERROR_IO_PENDING) {
      while (!connected) {
        if (WaitForSingleObject(record.hEvent, kPresenceCheckMs) == WAIT_OBJECT_0) {
          DWORD ignored = 0;
          connected = GetOverlappedResult(instance, &record, &ignored, FALSE) != FALSE;
          if (!connected) {
            error = GetLastError();
            break;
          }
        } else if (!present()) {
          CancelIoEx(instance, &record);
          DWORD ignored = 0;
          GetOverlappedResult(instance, &record, &ignored, TRUE);
          error = ERROR_OPERATION_ABORTED;
          break;
        }
      }
    }
    CloseHandle(record.hEvent);
    // A client that opened and closed before we looked (the program's open of a device it then
    // let go at once) leaves the instance to be reset, not the device gone.
    if (!connected && error == ERROR_NO_DATA) {
      DisconnectNamedPipe(instance);
      continue;
    }
    return connected;
  }
}

void listen(std::shared_ptr<Listener> listener) {
  HANDLE instance = listener->first;
  while (instance != INVALID_HANDLE_VALUE && awaitClient(instance, listener->present)) {
    // The next instance is made before this one is served, so a second open never finds none.
    HANDLE next = makeInstance(listener->worldPath);
    std::thread([serve = listener->serve, instance] {
      serve(instance);
      DisconnectNamedPipe(instance);
      CloseHandle(instance);
    }).detach();
    instance = next;
  }
  // The device has gone: the pipe name disappears with the last instance, so an open from now on
  // fails as an open of a removed device does.
  if (instance != INVALID_HANDLE_VALUE) CloseHandle(instance);
  std::lock_guard<std::mutex> lock(registryMutex);
  listener->finished = true;
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
  listener->first = makeInstance(worldPath);
  if (listener->first == INVALID_HANDLE_VALUE) {
    complain("CreateNamedPipeW", "no pipe for " + worldPath);
    return;
  }
  listeners[worldPath] = listener;
  std::thread(listen, listener).detach();
}

}  // namespace tw::devices
