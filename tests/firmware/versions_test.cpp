#include "firmware/versions.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

TEST(ParseVersion, ReadsUpToThreePartsAndKeepsTheSuffix) {
  struct Case {
    const char* text;
    std::uint32_t major, minor, patch;
    int parts;
    const char* suffix;
  } cases[] = {
      {"1.2.3", 1, 2, 3, 3, ""},
      {"  v1.2-rc1", 1, 2, 0, 2, "-rc1"},
      {"V0.9.3-beta", 0, 9, 3, 3, "-beta"},
      {"1.2.3.4", 1, 2, 3, 3, "4"},
      {"1.2.3.x", 1, 2, 3, 3, ".x"},
      {"1.2.", 1, 2, 0, 2, "."},
      {"1..2", 1, 0, 0, 1, "..2"},
      {"7", 7, 0, 0, 1, ""},
      {"beta", 0, 0, 0, 0, "beta"},
      {"vv1.2", 0, 0, 0, 0, "v1.2"},
      {"\t1.2", 0, 0, 0, 0, "\t1.2"},
      {"", 0, 0, 0, 0, ""},
      {"1234567890123.5", 123456789, 5, 0, 2, ""},
  };
  for (const Case& c : cases) {
    FirmwareVersion v = parseVersion(c.text);
    EXPECT_EQ(v.major, c.major) << c.text;
    EXPECT_EQ(v.minor, c.minor) << c.text;
    EXPECT_EQ(v.patch, c.patch) << c.text;
    EXPECT_EQ(v.parts, c.parts) << c.text;
    EXPECT_EQ(v.suffix, c.suffix) << c.text;
  }
  EXPECT_EQ(parseVersion(nullptr).parts, 0);
}

TEST(IsUsableVersion, NeedsTwoNumericParts) {
  EXPECT_TRUE(isUsableVersion("1.2"));
  EXPECT_TRUE(isUsableVersion("V1.2.3"));
  EXPECT_TRUE(isUsableVersion(" 0.9.3-beta"));
  EXPECT_FALSE(isUsableVersion(""));
  EXPECT_FALSE(isUsableVersion("1"));
  EXPECT_FALSE(isUsableVersion("1."));
  EXPECT_FALSE(isUsableVersion("beta"));
  EXPECT_FALSE(isUsableVersion(nullptr));
}

TEST(CompareVersions, NumbersDecideFirst) {
  EXPECT_EQ(compareVersions("1.10.0", "1.9.9"), 1);
  EXPECT_EQ(compareVersions("1.9.9", "1.10.0"), -1);
  EXPECT_EQ(compareVersions("V1.2", "1.2.0"), 0);
  EXPECT_EQ(compareVersions("2.0.0-rc1", "1.99.99"), 1);
  EXPECT_EQ(compareVersions("0.9.3", "0.9.10"), -1);
  EXPECT_EQ(compareVersions(nullptr, ""), 0);
  EXPECT_EQ(compareVersions(nullptr, "0.0.1"), -1);
  EXPECT_EQ(compareVersions("12345678901.0", "1234567890.0"), 0);  // parts stop at nine digits
}

TEST(CompareVersions, ReleasesOutrankPreReleases) {
  EXPECT_EQ(compareVersions("1.2.3+abc", "1.2.3"), 0);
  EXPECT_EQ(compareVersions("1.2.3+abc", "1.2.3+xyz"), 0);
  EXPECT_EQ(compareVersions("1.2.3-+abc", "1.2.3"), 0);
  EXPECT_EQ(compareVersions("1.2.3-beta", "1.2.3"), -1);
  EXPECT_EQ(compareVersions("1.2.3", "1.2.3-rc1"), 1);
  EXPECT_EQ(compareVersions("1.2.3", "1.2.3rc1"), 1);
  EXPECT_EQ(compareVersions("1.2.3", "1.2.3.4"), 1);
  EXPECT_EQ(compareVersions("1.2.3", "1.2.3-"), 0);  // a lone "-" leaves an empty suffix
}

TEST(CompareVersions, PreReleaseSuffixesCompareRunsOfDigitsAsNumbers) {
  EXPECT_EQ(compareVersions("1.2.3-rc9", "1.2.3-rc10"), -1);
  EXPECT_EQ(compareVersions("1.2.3-rc10", "1.2.3-rc9"), 1);
  EXPECT_EQ(compareVersions("1.2.3-rc", "1.2.3-rc.1"), -1);
  EXPECT_EQ(compareVersions("1.2.3-rc.1", "1.2.3-rc"), 1);
  EXPECT_EQ(compareVersions("1.2.3-rc1+a", "1.2.3-rc1+b"), 0);
  EXPECT_EQ(compareVersions("1.2.3-rc01", "1.2.3-rc1"), 0);
  EXPECT_EQ(compareVersions("1.2.3-alpha", "1.2.3-beta"), -1);
  EXPECT_EQ(compareVersions("1.2.3-Beta", "1.2.3-beta"), -1);      // bytes, not letters
  EXPECT_EQ(compareVersions("1.2.3-rc\xC3\xA9", "1.2.3-rcz"), 1);  // unsigned bytes
  EXPECT_EQ(compareVersions("1.2.3-rc1", "1.2.3rc1"), 0);
  EXPECT_EQ(compareVersions("1.2.3--rc", "1.2.3-rc"), -1);  // only one "-" is dropped
  EXPECT_EQ(compareVersions("1.2.3.4", "1.2.3.5"), -1);
  EXPECT_EQ(compareVersions("1.2.3-rc99999999999", "1.2.3-rc999999999"), 0);
}

TEST(PackedVersion, PacksMajorMinorPatch) {
  EXPECT_EQ(packedVersion("1.2.0"), 1002000u);
  EXPECT_EQ(packedVersion("1.2"), 1002000u);
  EXPECT_EQ(packedVersion("2.10.7"), 2010007u);
  EXPECT_EQ(packedVersion("x"), 0u);
}

}  // namespace
}  // namespace tw
