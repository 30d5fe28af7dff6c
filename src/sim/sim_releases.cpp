#include "sim/sim_releases.h"

#include <algorithm>

#include "sim/firmware_builder.h"

namespace tw::sim {
namespace {

constexpr char kListPath[] = "/firmware/manifest.json";
constexpr std::uint32_t kSlowChunk = 16384;
constexpr std::uint32_t kSlowPauseMs = 50;

// What of a version may appear in a file name on the host.
std::string fileNameText(const std::string& version) {
  std::string text;
  for (char c : version) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_';
    if (kept) text += c;
  }
  return text.empty() ? std::string("unnamed") : text;
}

}  // namespace

SimReleases::SimReleases(SimUpdateHost& host, Clock& clock, std::string hostName)
    : host_(host),
      clock_(clock),
      hostName_(std::move(hostName)),
      developmentKey_(ReleaseSigner::development()),
      otherKey_(ReleaseSigner::stranger()) {
  std::lock_guard<std::mutex> lock(mutex_);
  serveLocked();
}

std::vector<std::uint8_t> SimReleases::standInFirmware(const std::string& version) {
  return makeReleaseUf2(version);
}

void SimReleases::publish(const std::string& version, std::vector<std::uint8_t> file,
                          bool otherKey) {
  Build build;
  build.version = version;
  build.sha256 = ReleaseSigner::sha256Hex(file.data(), file.size());
  build.sig = (otherKey ? otherKey_ : developmentKey_).signHex(file);
  build.file = std::move(file);
  std::lock_guard<std::mutex> lock(mutex_);
  builds_.erase(std::remove_if(builds_.begin(), builds_.end(),
                               [&](const Build& b) { return b.version == version; }),
                builds_.end());
  builds_.insert(builds_.begin(), std::move(build));
  serveLocked();
}

void SimReleases::publish(const std::string& version, bool otherKey) {
  publish(version, standInFirmware(version), otherKey);
}

void SimReleases::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Build& build : builds_) host_.remove(filePath(build.version));
  builds_.clear();
  serveLocked();
}

void SimReleases::setFault(ReleaseFault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  fault_ = fault;
  serveLocked();
}

std::string SimReleases::filePath(const std::string& version) {
  return "/firmware/tarnwick-bridge-" + fileNameText(version) + ".uf2";
}

std::string SimReleases::fileUrl(const std::string& version) const {
  return "https://" + hostName_ + filePath(version);
}

std::vector<std::uint8_t> SimReleases::file(const std::string& version) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Build& build : builds_) {
    if (build.version == version) return build.file;
  }
  return {};
}

std::string SimReleases::releaseList() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return list_;
}

void SimReleases::serveLocked() {
  std::vector<SimBuild> entries;
  for (const Build& build : builds_) {
    SimBuild entry;
    entry.version = build.version;
    entry.url = fileUrl(build.version);
    entry.sha256 = build.sha256;
    entry.sig = build.sig;
    std::size_t size = build.file.size();
    switch (fault_) {
      case ReleaseFault::WrongSize:
        size += 512;
        break;
      case ReleaseFault::WrongDigest:
        entry.sha256[0] = entry.sha256[0] == '0' ? '1' : '0';
        break;
      case ReleaseFault::NoSignature:
        entry.sig.clear();
        break;
      case ReleaseFault::OtherKey:
        entry.sig = otherKey_.signHex(build.file);
        break;
      default:
        break;
    }
    entry.size = std::to_string(size);
    entry.notes = "Tarnwick Bridge firmware " + build.version + ".";
    entries.push_back(entry);

    SimResponse response;
    response.body.assign(build.file.begin(), build.file.end());
    if (fault_ == ReleaseFault::Slow) response.chunkBytes = kSlowChunk;
    if (fault_ == ReleaseFault::CutShort) {
      response.contentLengthText = std::to_string(build.file.size());
      response.body.resize(build.file.size() / 2);
    }
    host_.respond(filePath(build.version), response);
  }
  list_ = SimUpdateHost::releaseListJson(builds_.empty() ? "" : builds_.front().version, entries);
  if (fault_ == ReleaseFault::NoList) {
    host_.remove(kListPath);
  } else if (fault_ == ReleaseFault::BadList) {
    host_.serve(kListPath, "<html>Service unavailable</html>");
  } else {
    host_.serve(kListPath, list_);
  }
  if (fault_ == ReleaseFault::Slow) {
    Clock& clock = clock_;
    host_.onRead([&clock](std::uint64_t) { clock.sleepMs(kSlowPauseMs); });
  } else {
    host_.onRead(nullptr);
  }
}

}  // namespace tw::sim
