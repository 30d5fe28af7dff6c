// The CryptoAPI random generator.
#pragma once

#include "platform/crypto.h"

namespace tw {

class CryptoApiRandom : public RandomSource {
 public:
  bool randomBytes(std::uint8_t* out, std::size_t length) override;
  EntropyHints entropyHints() override;
};

}  // namespace tw
