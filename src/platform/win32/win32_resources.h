// Resources of the running module (Tarnwick.exe).
#pragma once

#include "platform/resources.h"

namespace tw {

class Win32Resources : public Resources {
 public:
  bool loadRcData(int id, const std::uint8_t*& bytes, std::size_t& size) override;
};

}  // namespace tw
