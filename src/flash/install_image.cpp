// Choosing the image to install: the newest release when the update host has one newer than the
// built-in image (or the built-in image cannot be used), else the built-in image; then the checks
// that make sure it is whole, is ours and fits the dongle's layout.
#include <cstring>
#include <optional>

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

StageResult fail(const std::string& sentence) {
  return StageResult::failed(sentence);
}

// Makes sure the release list is no older than ten minutes, running the check on this thread
// when nobody else is. False when the job was cancelled meanwhile.
bool refreshReleaseList(FirmwareJobContext& job, const InstallPorts& ports) {
  FirmwareStore& store = job.store();
  for (int i = 0; i < kCheckPolls && store.isCheckRunning(); ++i) {
    if (!job.cancellableWait(kCheckPollMs)) return false;
  }
  const std::uint64_t now = job.clock().tickMs();
  const bool fresh = store.read([now](const FirmwareState& state) {
    return state.online.state == OnlineState::Ok && now - state.online.checkedAt <= kFreshCheckMs;
  });
  if (fresh) return true;
  if (!store.claimCheck()) return true;
  job.setProgress(JobPhase::Prepare, 2, "Checking %s for the newest firmware\xE2\x80\xA6",
                  UpdateHost);
  ports.runCheck();
  store.releaseCheck();
  return true;
}

// The file is whole, is ours, and fits the dongle's layout; fills `chosen.image`.
StageResult checkImage(ChosenImage& chosen) {
  char problem[200] = {};
  if (checkUf2(chosen.file, chosen.fileSize, chosen.image, problem, sizeof problem) != 1) {
    return fail(formatText(JOB_TEXT_CAPACITY,
                           "The firmware file failed its checks (%s). Nothing was changed.",
                           problem));
  }
  const FirmwareImage& image = chosen.image;
  if (image.program[0] != '\0' && std::strcmp(image.program, kOurProgramName) != 0) {
    return fail(formatText(
        JOB_TEXT_CAPACITY,
        "That file isn't Tarnwick Bridge firmware (it says \xE2\x80\x9C%s\xE2\x80\x9D). Nothing "
        "was changed.",
        image.program));
  }
  if (image.base != kFlashStart || image.size > kSettingsAddress - kFlashStart) {
    return fail("The firmware file doesn't fit the dongle's layout. Nothing was changed.");
  }
  return StageResult::done();
}

}  // namespace

ChosenImage chooseImage(FirmwareJobContext& job, const InstallPorts& ports, FirmwareAction action,
                        const std::string& from) {
  ChosenImage chosen;
  job.setProgress(JobPhase::Prepare, 1, "Getting the firmware ready\xE2\x80\xA6");
  if (!refreshReleaseList(job, ports)) {
    chosen.result = StageResult::cancelled();
    return chosen;
  }

  std::optional<ReleaseInfo> build;
  BuiltInImage builtIn;
  job.store().read([&](const FirmwareState& state) {
    if (state.online.state == OnlineState::Ok) {
      if (const ReleaseInfo* newest = selectBuild(&state.online.list)) build = *newest;
    }
    builtIn = state.builtIn;
  });
  const bool builtInUsable = builtIn.builtInState == BuiltInState::Verified;

  std::string error;
  std::string version;
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
    if (ports.fetchRelease(*build, chosen.downloaded, size, error, progress)) {
      chosen.file = chosen.downloaded.get();
      chosen.fileSize = size;
      version = build->version;
    }
  }

  if (chosen.file == nullptr) {
    if (builtInUsable) {
      if (action == FirmwareAction::Update && isUsableVersion(from.c_str()) &&
          compareVersions(kBuiltInImageVersion, from.c_str()) <= 0) {
        const std::string why = error.empty() ? std::string(UpdateHost) + " didn't answer" : error;
        chosen.result =
            fail(formatText(JOB_TEXT_CAPACITY, "Couldn't download %s: %s. Nothing was changed.",
                            build ? build->version : "the update", why.c_str()));
        return chosen;
      }
      chosen.file = builtIn.bytes;
      chosen.fileSize = builtIn.size;
      version = kBuiltInImageVersion;
      if (!error.empty()) {
        job.setDetail("Couldn't download %s (%s), so this app is installing its built-in %s.",
                      build ? build->version : "the update", error.c_str(), kBuiltInImageVersion);
        if (build) {
          chosen.skippedRelease = build->version;
          chosen.skippedWhy = error;
        }
        // A file that fails its signature fails it every time: it is not offered again until
        // the release list names another.
        if (build && isSignatureFailure(error)) {
          job.markReleaseUnusable(*build);
        }
      }
    } else if (error.empty()) {
      chosen.result =
          fail("No firmware is available to install. Connect to the internet and try again.");
      return chosen;
    } else {
      chosen.result = fail(formatText(JOB_TEXT_CAPACITY,
                                      "Couldn't download the firmware: %s. Nothing was changed.",
                                      error.c_str()));
      return chosen;
    }
  }

  chosen.result = checkImage(chosen);
  if (chosen.result.stops()) return chosen;
  chosen.version = cutUtf8(version, JOB_VERSION_CAPACITY);
  job.setTarget(chosen.version);
  return chosen;
}

}  // namespace tw
