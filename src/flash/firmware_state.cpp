#include "flash/firmware_state.h"

#include "common/text.h"
#include "firmware/versions.h"

namespace tw {

std::string releaseIdentity(const ReleaseInfo& build) {
  return std::string(build.version) + '\n' + build.sha256 + '\n' + build.sig;
}

const char* offerVersion(const FirmwareState& state, OfferedVersion& out, bool* fromList) {
  if (fromList != nullptr) *fromList = false;
  out.text[0] = '\0';
  const char* version =
      state.builtIn.builtInState == BuiltInState::Verified ? kBuiltInImageVersion : "";
  // While a check runs, or after one failed, the stored list may be stale: it is not consulted.
  if (state.online.state == OnlineState::Ok) {
    const ReleaseInfo* build = selectBuild(&state.online.list);
    if (build != nullptr && !state.unusableRelease.empty() &&
        releaseIdentity(*build) == state.unusableRelease) {
      build = nullptr;
    }
    if (build != nullptr && (version[0] == '\0' || compareVersions(build->version, version) > 0)) {
      version = build->version;
      if (fromList != nullptr) *fromList = true;
    }
  }
  const std::string_view kept = utf8Prefix(version, sizeof out.text - 1);
  kept.copy(out.text, kept.size());
  out.text[kept.size()] = '\0';
  return out.text;
}

std::string offerVersion(const FirmwareState& state, bool* fromList) {
  OfferedVersion offer;
  return offerVersion(state, offer, fromList);
}

}  // namespace tw
