// Choosing the image to install: the newest release when the update host has one newer than the
// built-in image (or the built-in image cannot be used), else the built-in image; then the checks
// that make sure it is whole, is ours and fits the dongle's layout.
#include <cstring>

#include "common/text.h"
#include "firmware/built_in_image.h"
#include "firmware/uf2_check.h"
#include "firmware/update_host.h"
#include "firmware/versions.h"
#include "flash/install_work.h"
#include "flash/our_firmware.h"

namespace tw {
namespace {

constexpr std::uint32_t kCheckPollMs = 100;
constexpr int kCheckPolls = 150;
// A check this recent is as good as a new one.
constexpr std::uint64_t kFreshCheckMs = 600000;

// The reasons a release's file is refused for its signature.
bool isSignatureFailure(const std::string& reason) {
  return reason == "it arrived without a Tarnwick signature" ||
         reason == "it isn't signed by Tarnwick";
}

FirmwareJobEnding fail(const std::string& sentence) {
  return FirmwareJobEnding::failed(sentence);
}

// Makes sure the release list is no older than ten minutes, running the check on this thread
// when nobody else is. False when the job was cancelled meanwhile.
bool refreshReleaseList(InstallWork& work) {
  FirmwareStore& store = work.job.store();
  for (int i = 0; i < kCheckPolls && store.isCheckRunning(); ++i) {
    if (!work.job.cancellableWait(kCheckPollMs)) return false;
  }
  const std::uint64_t now = work.job.clock().tickMs();
  const bool fresh = store.read([now](const FirmwareState& state) {
    return state.online.state == OnlineState::Ok && now - state.online.checkedAt <= kFreshCheckMs;
  });
  if (fresh) return true;
  if (!store.claimCheck()) return true;
  work.job.setProgress(JobPhase::Prepare, 2, "Checking %s for the newest firmware\xE2\x80\xA6",
                       UpdateHost);
  work.ports.runCheck();
  store.releaseCheck();
  return true;
}

}  // namespace

std::optional<FirmwareJobEnding> chooseImage(InstallWork& work) {
  FirmwareJobContext& job = work.job;
  job.setProgress(JobPhase::Prepare, 1, "Getting the firmware ready\xE2\x80\xA6");
  if (!refreshReleaseList(work)) return FirmwareJobEnding::cancelled();

  std::optional<ReleaseInfo> build;
  BuiltInImage builtIn;
  job.store().read([&](const FirmwareState& state) {
    if (state.online.state == OnlineState::Ok) {
      if (const ReleaseInfo* chosen = selectBuild(&state.online.list)) build = *chosen;
    }
    builtIn = state.builtIn;
  });
  const bool builtInUsable = builtIn.builtInState == BuiltInState::Verified;

  std::string error;
  if (build && (!builtInUsable || compareVersions(build->version, kBuiltInImageVersion) > 0)) {
    FirmwareFetchProgress progress;
    progress.downloading = [&job](const ReleaseInfo& release) {
      job.setProgress(JobPhase::Download, 2, "Downloading firmware %s\xE2\x80\xA6",
                      release.version);
    };
    progress.received = [&job](std::uint64_t received, std::uint64_t total) {
      job.downloadProgress(received, total);
    };
    std::size_t size = 0;
    if (work.ports.fetchRelease(*build, work.downloaded, size, error, progress)) {
      work.source = work.downloaded.get();
      work.sourceSize = size;
      work.sourceVersion = build->version;
    }
  }

  if (work.source == nullptr) {
    if (builtInUsable) {
      if (work.action == FirmwareAction::Update && isUsableVersion(work.from.c_str()) &&
          compareVersions(kBuiltInImageVersion, work.from.c_str()) <= 0) {
        const std::string why = error.empty() ? std::string(UpdateHost) + " didn't answer" : error;
        return fail(formatText(JOB_TEXT_CAPACITY, "Couldn't download %s: %s. Nothing was changed.",
                               build ? build->version : "the update", why.c_str()));
      }
      work.source = builtIn.bytes;
      work.sourceSize = builtIn.size;
      work.sourceVersion = kBuiltInImageVersion;
      if (!error.empty()) {
        job.setDetail("Couldn't download %s (%s), so this app is installing its built-in %s.",
                      build ? build->version : "the update", error.c_str(), kBuiltInImageVersion);
        if (build) {
          work.skippedRelease = build->version;
          work.skippedWhy = error;
        }
        // A file that fails its signature fails it every time: it is not offered again until
        // the release list names another.
        if (build && isSignatureFailure(error)) {
          job.markReleaseUnusable(*build);
        }
      }
    } else if (error.empty()) {
      return fail("No firmware is available to install. Connect to the internet and try again.");
    } else {
      return fail(formatText(JOB_TEXT_CAPACITY,
                             "Couldn't download the firmware: %s. Nothing was changed.",
                             error.c_str()));
    }
  }

  char problem[200] = {};
  if (checkUf2(work.source, work.sourceSize, work.image, problem, sizeof problem) != 1) {
    return fail(formatText(JOB_TEXT_CAPACITY,
                           "The firmware file failed its checks (%s). Nothing was changed.",
                           problem));
  }
  if (work.image.program[0] != '\0' && std::strcmp(work.image.program, kOurProgramName) != 0) {
    return fail(formatText(
        JOB_TEXT_CAPACITY,
        "That file isn't Tarnwick Bridge firmware (it says \xE2\x80\x9C%s\xE2\x80\x9D). Nothing "
        "was changed.",
        work.image.program));
  }
  if (work.image.base != kFlashStart || work.image.size > kSettingsAddress - kFlashStart) {
    return fail("The firmware file doesn't fit the dongle's layout. Nothing was changed.");
  }
  work.target = cutUtf8(work.sourceVersion, JOB_VERSION_CAPACITY);
  job.setTarget(work.target);
  return std::nullopt;
}

}  // namespace tw
