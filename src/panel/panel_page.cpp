#include "panel/panel_page.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "panel/http_text.h"
#include "panel/server_limits.h"

namespace tw {

void fallbackKeyBytes(const EntropyHints& hints, std::uint8_t* out, std::size_t length) {
  std::uint64_t x = hints.performanceCounter ^ (hints.tickMs << 21) ^ (hints.processId << 43);
  for (std::size_t i = 0; i < length; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out[i] = static_cast<std::uint8_t>(x & 0xFF);
  }
}

std::string makeRunKey(RandomSource& random) {
  std::uint8_t bytes[kRunKeyLength / 2] = {};
  if (!random.randomBytes(bytes, sizeof bytes)) {
    fallbackKeyBytes(random.entropyHints(), bytes, sizeof bytes);
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string key;
  key.reserve(kRunKeyLength);
  for (std::uint8_t byte : bytes) {
    key.push_back(kDigits[byte >> 4]);
    key.push_back(kDigits[byte & 0x0F]);
  }
  return key;
}

bool preparePanelPage(std::string_view asset, std::string_view runKey, PanelPage& page) {
  page = PanelPage{};
  if (asset.size() < kKeyPlaceholder.size() || asset.size() > UINT32_MAX ||
      runKey.size() != kKeyPlaceholder.size()) {
    return false;
  }
  std::size_t at = asset.find(kKeyPlaceholder);
  if (at == std::string_view::npos) return false;
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[asset.size()]);
  if (!bytes) return false;
  std::memcpy(bytes.get(), asset.data(), asset.size());
  std::memcpy(bytes.get() + at, runKey.data(), runKey.size());
  page.bytes = std::move(bytes);
  page.length = static_cast<std::uint32_t>(asset.size());
  return true;
}

void servePage(SocketConnection& connection, const PanelPage& page) {
  // The page carries the key and drives the dongle: no other site may show it in a frame, where
  // it could be made to act on clicks meant for something else. The policy header is the
  // current rule; X-Frame-Options is for browsers that predate it. No address of ours goes out as
  // a referrer to wherever the page leads: its calls carry the key in their query strings.
  char head[kPageHeadCapacity];
  int headLength = std::snprintf(head, sizeof head,
                                 "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                 "Content-Length: %u\r\nCache-Control: no-store\r\n"
                                 "X-Content-Type-Options: nosniff\r\n"
                                 "Content-Security-Policy: frame-ancestors 'none'\r\n"
                                 "X-Frame-Options: DENY\r\nReferrer-Policy: no-referrer\r\n"
                                 "Connection: close\r\n\r\n",
                                 static_cast<unsigned>(page.length));
  if (headLength <= 0 || static_cast<std::size_t>(headLength) >= sizeof head) return;
  if (!sendAll(connection, head, static_cast<std::size_t>(headLength))) return;
  sendAll(connection, page.bytes.get(), page.length);
}

}  // namespace tw
