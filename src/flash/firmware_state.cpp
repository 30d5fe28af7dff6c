#include "flash/firmware_state.h"

namespace tw {

std::string offerVersion(const FirmwareState& state, bool* fromList) {
  if (fromList != nullptr) *fromList = false;
  // Until the release list is checked online, only the built-in image can be offered.
  return state.builtIn.builtInState == 1 ? std::string(kBuiltInImageVersion) : std::string();
}

}  // namespace tw
