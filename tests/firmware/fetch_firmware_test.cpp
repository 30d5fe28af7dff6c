// Getting a release's file: downloaded from the simulated update host, checked against the release
// list, stored in the cache on the simulated file system, signed; the cached copy used when it is
// good and replaced when it is not; every refusal with its reason.
#include "firmware/fetch_firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/firmware_cache.h"
#include "firmware/update_host.h"
#include "platform/host/openssl_signature.h"
#include "sim/sim_file_system.h"
#include "sim/sim_releases.h"
#include "sim/virtual_clock.h"
#include "trusted_release_key.h"

namespace tw {
namespace {

constexpr char kFolder[] = "C:\\Users\\Tess\\AppData\\Local\\Tarnwick Bridge\\firmware";

std::vector<std::uint8_t> smallFile(std::uint8_t seed, std::size_t size = 8192) {
  std::vector<std::uint8_t> file(size);
  for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return file;
}

std::string text(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

struct FetchFixture {
  FetchFixture() { releases.publish("1.3.0", smallFile(3)); }

  // The build of `version` as the release list validates it.
  ReleaseInfo release(const std::string& version) {
    ReleaseList list;
    const std::string json = releases.releaseList();
    EXPECT_EQ(parseReleaseList(json.data(), json.size(), list, nullptr, 0), 1);
    for (int i = 0; i < list.count; ++i) {
      if (version == list.builds[i].version) return list.builds[i];
    }
    ADD_FAILURE() << "no build " << version;
    return ReleaseInfo{};
  }

  struct Outcome {
    bool ok = false;
    std::string reason;
    std::string bytes;
    int downloads = 0;
    std::uint64_t lastReceived = 0;
  };
  Outcome fetch(const ReleaseInfo& info) {
    Outcome outcome;
    FirmwareFetchProgress progress;
    progress.downloading = [&](const ReleaseInfo& r) {
      EXPECT_STREQ(r.version, info.version);
      ++outcome.downloads;
    };
    progress.received = [&](std::uint64_t received, std::uint64_t) {
      outcome.lastReceived = received;
    };
    FetchedBytes data;
    std::size_t size = 0;
    outcome.ok = fetchFirmware(ports, info, data, size, outcome.reason, progress);
    if (outcome.ok) outcome.bytes.assign(reinterpret_cast<const char*>(data.get()), size);
    EXPECT_EQ(host.openHandles(), 0);
    EXPECT_EQ(files.openFiles(), 0);
    return outcome;
  }
  Outcome fetch(const std::string& version) { return fetch(release(version)); }

  std::vector<std::string> cacheFiles() {
    std::vector<FolderEntry> entries;
    std::uint32_t error = 0;
    files.listFolder(std::string(kFolder) + "\\*", entries, error);
    std::vector<std::string> names;
    for (const FolderEntry& entry : entries) {
      if (entry.name != "." && entry.name != "..") names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string cached(const std::string& name) {
    return files.fileContent(std::string(kFolder) + "\\" + name).value_or("(none)");
  }

  sim::VirtualClock clock;
  sim::SimFileSystem files{clock};
  sim::SimUpdateHost host{UpdateHost};
  sim::SimReleases releases{host, clock, UpdateHost};
  OpenSslSignatureVerifier signatures;
  FirmwareFetchPorts ports{host, files, signatures, build::kTrustedReleaseKey, nullptr};
};

TEST(FetchFirmware, DownloadsChecksStoresAndThenUsesTheCachedCopy) {
  FetchFixture f;
  const std::string published = text(smallFile(3));
  FetchFixture::Outcome first = f.fetch("1.3.0");
  ASSERT_TRUE(first.ok) << first.reason;
  EXPECT_EQ(first.bytes, published);
  EXPECT_EQ(first.downloads, 1);
  EXPECT_EQ(first.lastReceived, published.size());
  EXPECT_EQ(f.host.record().path, "/firmware/tarnwick-bridge-1.3.0.uf2");
  EXPECT_EQ(f.cacheFiles(), std::vector<std::string>{"tarnwick-bridge-1.3.0.uf2"});
  EXPECT_EQ(f.cached("tarnwick-bridge-1.3.0.uf2"), published);

  // The host is gone: the good cached copy needs no download, and is still checked for its
  // signature.
  sim::SimHttpsFaults offline;
  offline.send = HTTPS_ERROR_CANNOT_CONNECT;
  f.host.setFaults(offline);
  FetchFixture::Outcome second = f.fetch("1.3.0");
  ASSERT_TRUE(second.ok) << second.reason;
  EXPECT_EQ(second.bytes, published);
  EXPECT_EQ(second.downloads, 0);
}

TEST(FetchFirmware, ACachedCopyThatIsNotThePublishedFileIsReplaced) {
  const std::string published = text(smallFile(3));
  std::string sameSizeOtherBytes = published;
  sameSizeOtherBytes[100] ^= 0x20;
  for (const std::string& stale :
       {sameSizeOtherBytes, published.substr(0, 4096), published + published, std::string()}) {
    FetchFixture f;
    ASSERT_TRUE(f.files.addFile(std::string(kFolder) + "\\tarnwick-bridge-1.3.0.uf2", stale));
    FetchFixture::Outcome outcome = f.fetch("1.3.0");
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_EQ(outcome.downloads, 1);
    EXPECT_EQ(f.cached("tarnwick-bridge-1.3.0.uf2"), published);
  }
}

TEST(FetchFirmware, StoringCleansUpOlderVersionsAndStalePartFiles) {
  FetchFixture f;
  const std::string folder = kFolder;
  for (const char* name : {"tarnwick-bridge-1.2.0.uf2", "tarnwick-bridge-1.3.0.uf2.part",
                           "TARNWICK-BRIDGE-0.9.uf2", "notes.txt", "other-1.3.0.uf2"}) {
    ASSERT_TRUE(f.files.addFile(folder + "\\" + name, "old"));
  }
  ASSERT_TRUE(f.files.addDirectory(folder + "\\tarnwick-bridge-folder.uf2"));
  ASSERT_TRUE(f.fetch("1.3.0").ok);
  EXPECT_EQ(f.cacheFiles(),
            (std::vector<std::string>{"notes.txt", "other-1.3.0.uf2", "tarnwick-bridge-1.3.0.uf2",
                                      "tarnwick-bridge-folder.uf2"}));
}

TEST(FetchFirmware, TheCacheNameKeepsOnlyLettersDigitsDashesAndDots) {
  FetchFixture f;
  f.releases.publish("1.2.0 beta", smallFile(5));
  ASSERT_TRUE(f.fetch("1.2.0 beta").ok);
  EXPECT_EQ(f.cacheFiles(), std::vector<std::string>{"tarnwick-bridge-1.2.0beta.uf2"});

  struct Case {
    const char* version;
    std::string text;
  } cases[] = {
      {"1.2.0", "1.2.0"},
      {"1.2.0 beta", "1.2.0beta"},
      {"v1.2_3+build/..\\x", "v1.23build..x"},
      {"1.0-rc.1", "1.0-rc.1"},
      {"caf\xc3\xa9 2.0", "caf2.0"},
      {" +_/", ""},
      {"", ""},
      {nullptr, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(cacheVersionText(c.version), c.text) << c.text;
  EXPECT_EQ(cacheVersionText(std::string(80, '7').c_str()), std::string(63, '7'));
}

TEST(FetchFirmware, AVersionWithNothingForTheNameIsDownloadedButNeverCached) {
  FetchFixture f;
  ReleaseInfo info = f.release("1.3.0");
  std::strcpy(info.version, "+ +");
  for (int attempt = 0; attempt < 2; ++attempt) {
    FetchFixture::Outcome outcome = f.fetch(info);
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_EQ(outcome.downloads, 1);
  }
  EXPECT_EQ(f.files.pathKind(kFolder), PathKind::Missing);
}

TEST(FetchFirmware, AFailureToStoreStillUsesTheDownload) {
  struct Case {
    const char* operation;
    std::uint32_t error;
  } cases[] = {
      {"createFile", FILE_ERROR_ACCESS_DENIED},
      {"write", FILE_ERROR_DISK_FULL},
      {"close", FILE_ERROR_WRITE_FAULT},
      {"renameOver", FILE_ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    FetchFixture f;
    ASSERT_TRUE(f.files.addFile(std::string(kFolder) + "\\tarnwick-bridge-1.2.0.uf2", "older"));
    f.files.failAlways(c.operation, c.error);
    FetchFixture::Outcome outcome = f.fetch("1.3.0");
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_EQ(outcome.bytes, text(smallFile(3)));
    f.files.clearFailures();
    // Nothing half-written is left, and nothing was cleaned up for a copy that wasn't stored.
    EXPECT_EQ(f.cacheFiles(), std::vector<std::string>{"tarnwick-bridge-1.2.0.uf2"});
  }
  FetchFixture f;
  f.files.setLocalAppDataFolder(std::nullopt);
  EXPECT_TRUE(f.fetch("1.3.0").ok);
}

TEST(FetchFirmware, RefusalsGiveTheirReasonsAndLeaveNothingCachedThatFailedItsChecks) {
  struct Case {
    sim::ReleaseFault fault;
    const char* reason;
    bool cached;  // the download passed size and digest, so the cache keeps it
  } cases[] = {
      {sim::ReleaseFault::WrongSize, "the download was the wrong size", false},
      {sim::ReleaseFault::WrongDigest, "the download didn't match its published checksum", false},
      {sim::ReleaseFault::NoSignature, "it arrived without a Tarnwick signature", true},
      {sim::ReleaseFault::OtherKey, "it isn't signed by Tarnwick", true},
      {sim::ReleaseFault::CutShort, "the download was cut short", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    FetchFixture f;
    f.releases.setFault(c.fault);
    const ReleaseInfo info = f.release("1.3.0");
    FetchFixture::Outcome outcome = f.fetch(info);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.reason, c.reason);
    EXPECT_EQ(f.cacheFiles().size(), c.cached ? 1u : 0u);
    // A cached copy that fails its signature stays, and fails again without a download.
    if (c.cached) {
      FetchFixture::Outcome again = f.fetch(info);
      EXPECT_EQ(again.reason, c.reason);
      EXPECT_EQ(again.downloads, 0);
    }
  }
  FetchFixture f;
  const ReleaseInfo info = f.release("1.3.0");
  f.releases.clear();
  EXPECT_EQ(f.fetch(info).reason, std::string(UpdateHost) + " answered 404");
}

TEST(FetchFirmware, TheRequestPathIsWhatFollowsTheHostName) {
  EXPECT_EQ(downloadPath("https://updates.tarnwick.example/firmware/a/b-1.uf2"),
            "/firmware/a/b-1.uf2");
  EXPECT_EQ(downloadPath("https://updates.tarnwick.example"), "/");
  EXPECT_EQ(downloadPath(""), "/");
}

}  // namespace
}  // namespace tw
