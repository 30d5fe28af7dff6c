// Fetches one path from the update host through WinHTTP and prints the outcome:
//   https_probe <path> [maximum bytes]
// prints "ok <length> <body>" or "fail <message>". Built with the update host set to "localhost".
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "firmware/https_get.h"
#include "platform/win32/utf16.h"
#include "platform/win32/winhttp_https.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::puts("usage: https_probe <path> [maximum bytes]");
    return 2;
  }
  const std::string path = tw::win32::toUtf8(argv[1]);
  const std::size_t maxBytes = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 262144;

  tw::WinHttpPort port;
  std::atomic<bool> stop{false};
  tw::FetchedBytes data;
  std::size_t length = 0;
  char error[tw::HTTPS_ERROR_CAPACITY];
  unsigned long calls = 0;
  const int ok = tw::httpsGet(
      port, &stop, path, maxBytes, data, length, [&](std::uint64_t, std::uint64_t) { ++calls; },
      error, sizeof error);
  if (!ok) {
    std::printf("fail %s\n", error);
    return 1;
  }
  std::printf("ok %lu %.*s\n", static_cast<unsigned long>(length), static_cast<int>(length),
              reinterpret_cast<const char*>(data.get()));
  return 0;
}
