#include "firmware/release_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware/update_host.h"
#include "sim/update_host_sim.h"

namespace tw {
namespace {

using sim::SimBuild;
using sim::SimUpdateHost;

SimBuild goodBuild(const std::string& version, const std::string& channel = "stable") {
  SimBuild b;
  b.version = version;
  b.channel = channel;
  b.url = std::string(UpdateFirmwarePrefix) + "tarnwick-" + version + ".uf2";
  b.sha256 = std::string(64, 'a');
  b.sig = std::string(128, 'b');
  b.size = "4096";
  b.notes = "Fixes.";
  return b;
}

struct Result {
  int ok;
  std::string error;
  ReleaseList list;
};

Result parse(const std::string& document) {
  Result r;
  char error[200] = "stale";
  r.ok = parseReleaseList(document.data(), document.size(), r.list, error, sizeof error);
  r.error = error;
  return r;
}

Result parse(const std::vector<SimBuild>& builds, const std::string& latest = "") {
  return parse(SimUpdateHost::releaseListJson(latest, builds));
}

// Whether a list holding only `b` keeps it.
bool kept(const SimBuild& b) {
  return parse({b}).ok == 1;
}

TEST(ReleaseListStructure, UnreadableDocumentsFailTheList) {
  for (const char* text : {"", "[]", "\"x\"", "{\"builds\":[]", "{\"builds\":[],}", "nul"}) {
    Result r = parse(std::string(text));
    EXPECT_EQ(r.ok, 0) << text;
    EXPECT_EQ(r.error, "the release list could not be read") << text;
  }
  // More values than the 768 tokens the list is read with.
  std::string big = "{\"x\":[";
  for (int i = 0; i < 800; ++i) big += i == 0 ? "0" : ",0";
  big += "]}";
  EXPECT_EQ(parse(big).error, "the release list could not be read");
}

TEST(ReleaseListStructure, BuildsMustBeAnArrayWithAUsableEntry) {
  EXPECT_EQ(parse(std::string("{}")).error, "the release list has no builds");
  EXPECT_EQ(parse(std::string("{\"builds\":{}}")).error, "the release list has no builds");
  EXPECT_EQ(parse(std::string("{\"Builds\":[]}")).error, "the release list has no builds");
  EXPECT_EQ(parse(std::string("{\"builds\":[]}")).error, "the release list has no usable builds");
  EXPECT_EQ(parse(std::string("{\"builds\":[1,\"x\",[],null]}")).error,
            "the release list has no usable builds");
  SimBuild bad = goodBuild("1.0.0");
  bad.size = "1";
  Result r = parse({bad, bad});
  EXPECT_EQ(r.ok, 0);
  EXPECT_EQ(r.error, "the release list has no usable builds");
  EXPECT_EQ(r.list.count, 0);
  EXPECT_EQ(r.list.builds[0].version[0], '\0');  // no leftovers of the dropped build
}

TEST(ReleaseListStructure, EveryTruncationOfAValidListFails) {
  const std::string document =
      SimUpdateHost::releaseListJson("1.1.0", {goodBuild("1.0.0"), goodBuild("1.1.0")});
  ASSERT_EQ(parse(document).ok, 1);
  const std::size_t lastBrace = document.rfind('}');
  for (std::size_t n = 0; n < lastBrace + 1; ++n) {
    Result r = parse(document.substr(0, n));
    EXPECT_EQ(r.ok, 0) << n;
    EXPECT_EQ(r.error, "the release list could not be read") << n;
    EXPECT_EQ(r.list.count, 0) << n;
  }
}

TEST(ReleaseListStructure, MessagesOnlyWhenABufferIsGiven) {
  ReleaseList list;
  EXPECT_EQ(parseReleaseList("{}", 2, list, nullptr, 0), 0);
  char small[12];
  EXPECT_EQ(parseReleaseList("{}", 2, list, small, sizeof small), 0);
  EXPECT_STREQ(small, "the release");
}

TEST(ReleaseListBuilds, KeepsAtMostTwelveInListOrder) {
  std::vector<SimBuild> builds;
  for (int i = 0; i < 13; ++i) builds.push_back(goodBuild("1." + std::to_string(i)));
  Result r = parse(builds);
  ASSERT_EQ(r.ok, 1);
  ASSERT_EQ(r.list.count, 12);
  for (int i = 0; i < 12; ++i) {
    EXPECT_STREQ(r.list.builds[i].version, ("1." + std::to_string(i)).c_str());
  }
}

TEST(ReleaseListBuilds, DroppedBuildsAndNonObjectsLeaveNoGap) {
  SimBuild bad = goodBuild("2.0.0");
  bad.sha256 = "xyz";
  std::string document = SimUpdateHost::releaseListJson("", {bad, goodBuild("1.0.0")});
  document.insert(document.find('[') + 1, "[{\"version\":\"9.9\"}], 7, ");
  Result r = parse(document);
  ASSERT_EQ(r.ok, 1);
  ASSERT_EQ(r.list.count, 1);
  EXPECT_STREQ(r.list.builds[0].version, "1.0.0");
  EXPECT_STREQ(r.list.builds[0].sha256, std::string(64, 'a').c_str());
  EXPECT_EQ(r.list.builds[1].sha256[0], '\0');
}

TEST(ReleaseListBuilds, StoresEveryField) {
  SimBuild b = goodBuild("1.3.0", "beta");
  b.released = "2026-02-03";
  b.notes = "Faster pairing \xE2\x80\x94 and fixes.";
  Result r = parse({b}, "1.3.0");
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.error, "");
  EXPECT_STREQ(r.list.latest, "1.3.0");
  const ReleaseInfo& got = r.list.builds[0];
  EXPECT_STREQ(got.version, "1.3.0");
  EXPECT_STREQ(got.channel, "beta");
  EXPECT_STREQ(got.released, "2026-02-03");
  EXPECT_STREQ(got.url, b.url.c_str());
  EXPECT_EQ(got.size, 4096u);
  EXPECT_STREQ(got.notes, b.notes.c_str());
  EXPECT_STREQ(got.sig, std::string(128, 'b').c_str());
}

TEST(ReleaseListBuilds, VersionNeedsTwoPartsAndIsMadePrintable) {
  EXPECT_FALSE(kept(goodBuild("1")));
  EXPECT_FALSE(kept(goodBuild("beta")));
  SimBuild b = goodBuild("1.0");
  b.version = "1.2-\xC3\xA9t\xC3\xA9\x01";
  Result r = parse({b});
  ASSERT_EQ(r.ok, 1);
  EXPECT_STREQ(r.list.builds[0].version, "1.2-??t?? ");
  b.version = "1.2-" + std::string(60, 'x');
  EXPECT_EQ(std::strlen(parse({b}).list.builds[0].version), 47u);
}

TEST(ReleaseListUrl, OnlyPlainNamesUnderTheFirmwareFolder) {
  const std::string prefix = UpdateFirmwarePrefix;
  auto withUrl = [](const std::string& url) {
    SimBuild b = goodBuild("1.0.0");
    b.url = url;
    return kept(b);
  };
  EXPECT_TRUE(withUrl(prefix + "a.uf2"));
  EXPECT_TRUE(withUrl(prefix + "beta/tarnwick_1.0-rc.uf2"));
  EXPECT_FALSE(withUrl(prefix + ".uf2"));
  EXPECT_FALSE(withUrl(prefix + "../a.uf2"));
  EXPECT_FALSE(withUrl(prefix + "x/../a.uf2"));
  EXPECT_FALSE(withUrl(prefix + "a..b.uf2"));
  EXPECT_FALSE(withUrl(prefix + "a.UF2"));
  EXPECT_FALSE(withUrl(prefix + "a b.uf2"));
  EXPECT_FALSE(withUrl(prefix + "a%20b.uf2"));
  EXPECT_FALSE(withUrl(prefix + "a.uf2?x=1"));
  EXPECT_FALSE(withUrl(prefix + "a.uf2.zip"));
  EXPECT_FALSE(withUrl(prefix + "\xC3\xA9.uf2"));
  EXPECT_FALSE(withUrl("http://" + std::string(UpdateHost) + "/firmware/a.uf2"));
  EXPECT_FALSE(withUrl("https://" + std::string(UpdateHost) + "/a.uf2"));
  EXPECT_FALSE(withUrl("https://" + std::string(UpdateHost) + ".evil.example/firmware/a.uf2"));
  EXPECT_FALSE(withUrl("https://evil.example/firmware/a.uf2"));
  EXPECT_FALSE(withUrl(""));
}

TEST(ReleaseListUrl, AnAddressLongerThanItsBufferIsRefusedNotCut) {
  const std::string prefix = UpdateFirmwarePrefix;
  // Cut to 255 bytes this would read as a different, well-formed address.
  std::string name = std::string(255 - prefix.size() - 4, 'a') + ".uf2";
  SimBuild b = goodBuild("1.0.0");
  b.url = prefix + name;
  ASSERT_EQ(b.url.size(), 255u);
  EXPECT_TRUE(kept(b));
  b.url += "-other.uf2";
  EXPECT_FALSE(kept(b));
}

// The document of a list holding `b`, with the "@@" in one of its values replaced by `rawTail`
// as it stands in the JSON text (an escape stays an escape).
std::string withRawTail(const SimBuild& b, const std::string& rawTail) {
  std::string document = SimUpdateHost::releaseListJson("", {b});
  document.replace(document.find("@@"), 2, rawTail);
  return document;
}

TEST(ReleaseListWholeValues, OneCharacterTooManyIsNeverCutAway) {
  // Each value is as long as its buffer allows; whatever comes after it must make it unusable,
  // however the cut to the buffer would have moved back to a character boundary.
  const std::string prefix = UpdateFirmwarePrefix;
  const std::string longestUrl = prefix + std::string(255 - prefix.size() - 4, 'a') + ".uf2";
  const std::vector<std::string> tails = {
      "\x80",                   // a stray continuation byte
      std::string(12, '\xBF'),  // a run of them
      "\xC3\xA9",
      "\xE2\x80\x94",
      "\xF0\x9F\x8E\xAE",  // whole characters
      "\xC3",              // a lead byte alone
      "\\u00e9",
      "\\u2014",
      "\\ud83c\\udfae",  // the same as escapes
      "\\u0000",
      "\\u0000x",
      "x",  // the end of the text, and one plain byte
  };
  for (const std::string& tail : tails) {
    SimBuild url = goodBuild("1.0.0");
    url.url = longestUrl + "@@";
    EXPECT_EQ(parse(withRawTail(url, tail)).ok, 0) << "url + " << tail;
    SimBuild sha = goodBuild("1.0.0");
    sha.sha256 = std::string(64, 'a') + "@@";
    EXPECT_EQ(parse(withRawTail(sha, tail)).ok, 0) << "sha256 + " << tail;
    SimBuild sig = goodBuild("1.0.0");
    sig.sig = std::string(128, 'b') + "@@";
    Result r = parse(withRawTail(sig, tail));
    ASSERT_EQ(r.ok, 1) << "sig + " << tail;
    EXPECT_STREQ(r.list.builds[0].sig, "") << "sig + " << tail;
  }
  // Without a tail every one of them is whole, and escapes of allowed characters are read as
  // those characters.
  SimBuild plain = goodBuild("1.0.0");
  plain.url = longestUrl + "@@";
  EXPECT_EQ(parse(withRawTail(plain, "")).ok, 1);
  plain.url = "@@";
  std::string escapedUrl = "https:\\/\\/" + std::string(UpdateHost) + "\\/firmware\\/\\u0061.uf2";
  Result escaped = parse(withRawTail(plain, escapedUrl));
  ASSERT_EQ(escaped.ok, 1);
  EXPECT_STREQ(escaped.list.builds[0].url, (prefix + "a.uf2").c_str());
  SimBuild sig = goodBuild("1.0.0");
  sig.sig = std::string(127, 'b') + "@@";
  EXPECT_STREQ(parse(withRawTail(sig, "\\u0062")).list.builds[0].sig,
               std::string(128, 'b').c_str());
}

TEST(ReleaseListChecksum, ExactlySixtyFourHexDigitsStoredInLowercase) {
  SimBuild b = goodBuild("1.0.0");
  b.sha256 = std::string(32, 'A') + std::string(32, 'f');
  Result r = parse({b});
  ASSERT_EQ(r.ok, 1);
  EXPECT_STREQ(r.list.builds[0].sha256, (std::string(32, 'a') + std::string(32, 'f')).c_str());
  b.sha256 = std::string(63, 'a');
  EXPECT_FALSE(kept(b));
  b.sha256 = std::string(63, 'a') + "g";
  EXPECT_FALSE(kept(b));
  b.sha256 = std::string(65, 'a');  // would fit once cut to its buffer
  EXPECT_FALSE(kept(b));
  b.sha256 = "";
  EXPECT_FALSE(kept(b));
}

TEST(ReleaseListSignature, MalformedSignaturesAreEmptiedButTheBuildStays) {
  SimBuild b = goodBuild("1.0.0");
  b.sig = std::string(127, 'a');
  Result r = parse({b});
  ASSERT_EQ(r.ok, 1);
  EXPECT_STREQ(r.list.builds[0].sig, "");
  b.sig = std::string(129, 'a');
  r = parse({b});
  ASSERT_EQ(r.ok, 1);
  EXPECT_STREQ(r.list.builds[0].sig, "");
  b.sig = std::string(127, 'a') + "z";
  EXPECT_STREQ(parse({b}).list.builds[0].sig, "");
  b.sig = std::string(128, 'C');
  EXPECT_STREQ(parse({b}).list.builds[0].sig, std::string(128, 'c').c_str());
  b.sig = "";
  r = parse({b});
  EXPECT_EQ(r.ok, 1);
  EXPECT_STREQ(r.list.builds[0].sig, "");
}

TEST(ReleaseListSize, WholeMultiplesOf512WithinSixteenMebibytes) {
  auto sizeOf = [](const std::string& size) -> long {
    SimBuild b = goodBuild("1.0.0");
    b.size = size;
    Result r = parse({b});
    return r.ok ? static_cast<long>(r.list.builds[0].size) : -1;
  };
  EXPECT_EQ(sizeOf("512"), 512);
  EXPECT_EQ(sizeOf("16777216"), 16777216);
  EXPECT_EQ(sizeOf("2048.9"), 2048);
  EXPECT_EQ(sizeOf("5.12e2"), 512);
  EXPECT_EQ(sizeOf("1000"), -1);
  EXPECT_EQ(sizeOf("0"), -1);
  EXPECT_EQ(sizeOf("-512"), -1);
  EXPECT_EQ(sizeOf("16777728"), -1);
  EXPECT_EQ(sizeOf("16777216.5"), -1);
  EXPECT_EQ(sizeOf("1e999"), -1);
  EXPECT_EQ(sizeOf("\"1024\""), -1);
  EXPECT_EQ(sizeOf("true"), -1);
  EXPECT_EQ(sizeOf("0x400"), -1);
  std::string noSize = SimUpdateHost::releaseListJson("", {goodBuild("1.0.0")});
  noSize.replace(noSize.find("\"size\""), 12, "\"sighs\": 409");
  EXPECT_EQ(parse(noSize).ok, 0);
}

TEST(SelectBuild, LatestThenStableThenFirst) {
  Result r = parse(
      {goodBuild("1.0.0", "beta"), goodBuild("1.1.0", "stable"), goodBuild("2.0.0", "stable")},
      "2.0.0");
  ASSERT_EQ(r.list.count, 3);
  EXPECT_STREQ(selectBuild(&r.list)->version, "2.0.0");
  std::strcpy(r.list.latest, "3.0.0");  // names a build the list does not keep
  EXPECT_STREQ(selectBuild(&r.list)->version, "1.1.0");
  r.list.latest[0] = '\0';
  EXPECT_STREQ(selectBuild(&r.list)->version, "1.1.0");
  std::strcpy(r.list.builds[1].channel, "Stable");
  std::strcpy(r.list.builds[2].channel, "");
  // No stable build: the first, even though a later one is newer.
  EXPECT_STREQ(selectBuild(&r.list)->version, "1.0.0");
  std::strcpy(r.list.latest, "2.0");  // exact text only, no version comparison
  EXPECT_STREQ(selectBuild(&r.list)->version, "1.0.0");
  r.list.count = 0;
  EXPECT_EQ(selectBuild(&r.list), nullptr);
  EXPECT_EQ(selectBuild(nullptr), nullptr);
}

}  // namespace
}  // namespace tw
