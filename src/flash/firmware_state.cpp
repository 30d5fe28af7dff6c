#include "flash/firmware_state.h"

#include "common/text.h"
#include "firmware/versions.h"

namespace tw {
namespace {

constexpr std::size_t kVersionCapacity = 64;

}  // namespace

std::string offerVersion(const FirmwareState& state, bool* fromList) {
  if (fromList != nullptr) *fromList = false;
  std::string version;
  if (state.builtIn.builtInState == 1) version = kBuiltInImageVersion;
  // While a check runs, or after one failed, the stored list may be stale: it is not consulted.
  if (state.online.state != OnlineState::Ok) return version;
  const ReleaseInfo* build = selectBuild(&state.online.list);
  if (build == nullptr) return version;
  if (version.empty() || compareVersions(build->version, version.c_str()) > 0) {
    version = cutUtf8(build->version, kVersionCapacity);
    if (fromList != nullptr) *fromList = true;
  }
  return version;
}

}  // namespace tw
