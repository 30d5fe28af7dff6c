#include "common/text.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

TEST(TextCut, NeverSplitsAUtf8Sequence) {
  // "a—b": the dash is three bytes; a 3-byte capacity leaves room for "a" only.
  EXPECT_EQ(cutUtf8("a\xE2\x80\x94"
                    "b",
                    3),
            "a");
  EXPECT_EQ(cutUtf8("a\xE2\x80\x94"
                    "b",
                    5),
            "a\xE2\x80\x94");
  EXPECT_EQ(cutUtf8("abc", 1), "");
  EXPECT_EQ(cutUtf8("abc", 0), "");
}

TEST(TextCut, Utf16UnitsCountSurrogatePairsAsTwo) {
  std::string emoji = "\xF0\x9F\x8E\xAE";  // one character outside the BMP
  EXPECT_EQ(utf16Length("a\xE2\x80\x94" + emoji), 4u);
  EXPECT_EQ(cutToUtf16Units("ab" + emoji, 3), "ab");
  EXPECT_EQ(cutToUtf16Units("ab" + emoji, 4), "ab" + emoji);
}

TEST(TextFormat, CutsToCapacityWithoutBreakingCharacters) {
  EXPECT_EQ(formatText(6, "%s",
                       "12\xE2\x80\x94"
                       "45"),
            "12\xE2\x80\x94");
  EXPECT_EQ(formatText(5, "%s",
                       "12\xE2\x80\x94"
                       "45"),
            "12");
  EXPECT_EQ(formatText(64, "%d-%s", 7, "x"), "7-x");
}

}  // namespace
}  // namespace tw
