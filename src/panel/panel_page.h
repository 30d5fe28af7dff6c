// The per-run key and the served copy of the panel page that carries it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/crypto.h"
#include "platform/sockets.h"

namespace tw {

// The page asset holds this once, as the key constant of its first script.
inline constexpr std::string_view kKeyPlaceholder = "TWTOKENPLACEHOLDER00000000000000";
inline constexpr std::size_t kRunKeyLength = 32;

// 16 bytes from the seeded xorshift generator used when the system generator fails.
void fallbackKeyBytes(const EntropyHints& hints, std::uint8_t* out, std::size_t length);

// 32 lowercase hexadecimal digits encoding 16 random bytes, high nibble first.
std::string makeRunKey(RandomSource& random);

// The page as served: a heap copy of the asset with the first placeholder overwritten by the key.
struct PanelPage {
  std::unique_ptr<char[]> bytes;
  std::uint32_t length = 0;
  std::string_view view() const { return {bytes.get(), length}; }
};

// False when memory runs out, the asset is shorter than 32 bytes or holds no placeholder.
bool preparePanelPage(std::string_view asset, std::string_view runKey, PanelPage& page);

// Answers GET "/" with the page.
void servePage(SocketConnection& connection, const PanelPage& page);

}  // namespace tw
