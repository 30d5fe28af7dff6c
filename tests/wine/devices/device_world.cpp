#include "device_world.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device_pipes.h"
#include "drive_mirror.h"
#include "platform/win32/win32_clock.h"
#include "sim/firmware_builder.h"
#include "sim/world_commands.h"
#include "tray_watch.h"

namespace tw::devices {
namespace {

std::atomic<bool> vanishRequested{false};
std::atomic<unsigned> hidListings{0};

// How long the tray window takes to answer a message sent to it now, in milliseconds; -1 when
// there is no window or it did not answer within two seconds.
long uiAnswerMs() {
  HWND window = FindWindowW(L"TarnwickBridgeTrayWnd", nullptr);
  if (window == nullptr)
    window = FindWindowExW(HWND_MESSAGE, nullptr, L"TarnwickBridgeTrayWnd", nullptr);
  if (window == nullptr) return -1;
  const ULONGLONG start = GetTickCount64();
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result)) return -1;
  return static_cast<long>(GetTickCount64() - start);
}

std::string hexText(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

bool computeActive() {
  const char* port = std::getenv("TW_DEVICES_PORT");
  const char* program = std::getenv("TW_DEVICES_PROGRAM");
  if (port == nullptr || program == nullptr) return false;
  // A browser or helper the program starts inherits the environment; only the program itself
  // hosts the world, or two worlds would fight over the same device names.
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  const char* base = path + length;
  while (base > path && base[-1] != '\\' && base[-1] != '/') --base;
  return _stricmp(base, program) == 0;
}

// One line in, one line out: what the command printed, prefixed "ok" or "error".
std::string runCommand(sim::WorldCommands::Outcome outcome, const std::string& line,
                       const std::string& printed) {
  using Outcome = sim::WorldCommands::Outcome;
  if (outcome == Outcome::NotMine) return "error unknown command: " + line;
  std::string answer = outcome == Outcome::Done ? "ok" : "error";
  if (!printed.empty()) answer += " " + printed;
  return answer;
}

void serveControlClient(SOCKET client) {
  static std::mutex commandMutex;  // one command at a time, whichever client sent it
  std::string pending;
  char buffer[512];
  for (;;) {
    int got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::string printed;
      std::string answer;
      if (line == "tray") {
        answer = "ok " + trayShown() + "\n";
      } else if (line == "balloons") {
        answer = "ok " + trayBalloons() + "\n";
      } else if (line == "ui-answer-ms") {
        answer = "ok " + std::to_string(uiAnswerMs()) + "\n";
      } else if (line.rfind("release-uf2 ", 0) == 0) {
        // The build the update host publishes, from the same recipe as the Linux app's.
        answer = "ok " + hexText(sim::makeReleaseUf2(line.substr(12))) + "\n";
      } else if (line == "listings") {
        answer = "ok " + std::to_string(hidListings.load()) + "\n";
      } else if (line == "handles") {
        DWORD count = 0;
        GetProcessHandleCount(GetCurrentProcess(), &count);
        answer = "ok " + std::to_string(count) + "\n";
      } else if (line == "vanish") {
        vanishAfterNextListing();
        answer = "ok (the dongle leaves the bus after the next listing)\n";
      } else {
        std::lock_guard<std::mutex> lock(commandMutex);
        sim::WorldCommands commands(world(), [&printed](const std::string& text) {
          if (!printed.empty()) printed += " / ";
          for (char c : text) printed += c == '\n' ? ' ' : c;
        });
        answer = runCommand(commands.execute(line), line, printed) + "\n";
        notifyWorldChanged();
      }
      for (std::size_t sent = 0; sent < answer.size();) {
        int wrote = send(client, answer.data() + sent, static_cast<int>(answer.size() - sent), 0);
        if (wrote <= 0) break;
        sent += static_cast<std::size_t>(wrote);
      }
    }
  }
  closesocket(client);
}

void controlLoop() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::atoi(std::getenv("TW_DEVICES_PORT"))));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener == INVALID_SOCKET ||
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4) != 0) {
    std::fprintf(stderr, "[devices] the control port could not be opened\n");
    return;
  }
  world();  // the dongle is plugged in before the first command can arrive
  startDriveMirror();
  for (;;) {
    SOCKET client = accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    std::thread(serveControlClient, client).detach();
  }
}

}  // namespace

bool active() {
  static const bool value = computeActive();
  return value;
}

sim::World& world() {
  // Never destroyed: the program's threads may still call in while the process ends.
  static sim::World* instance = new sim::World(*new win32::Win32Clock);
  return *instance;
}

void complain(const char* function, const std::string& fact) {
  std::fprintf(stderr, "[devices] CONTRACT %s: %s\n", function, fact.c_str());
  std::fflush(stderr);
}

void vanishAfterNextListing() {
  vanishRequested = true;
}
bool takeVanishRequest() {
  return vanishRequested.exchange(false);
}
void noteHidListing() {
  ++hidListings;
}

void startControl() {
  static std::once_flag once;
  std::call_once(once, [] { std::thread(controlLoop).detach(); });
}

}  // namespace tw::devices

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  // The thread starts once the loader lets go; nothing else may be done here.
  if (reason == DLL_PROCESS_ATTACH && tw::devices::active()) {
    tw::devices::watchTray();
    tw::devices::startControl();
  }
  return TRUE;
}
