// The control panel page built from assets/panel/ (one self-contained HTML document).
#pragma once

#include <cstddef>
#include <string_view>

extern const unsigned char twPanelPage[];
extern const std::size_t twPanelPageSize;

namespace tw::assets {

inline std::string_view panelPageAsset() {
  return {reinterpret_cast<const char*>(twPanelPage), twPanelPageSize};
}

}  // namespace tw::assets
