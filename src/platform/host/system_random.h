// The kernel's random generator on Linux.
#pragma once

#include "platform/crypto.h"

namespace tw {

class SystemRandom : public RandomSource {
 public:
  bool randomBytes(std::uint8_t* out, std::size_t length) override;
  EntropyHints entropyHints() override;
};

}  // namespace tw
