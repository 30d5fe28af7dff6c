#include "firmware/json_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tw {
namespace {

struct Parsed {
  std::string text;
  std::vector<JsonToken> tokens;
  int count;
};

Parsed parse(const std::string& text, int capacity = 64) {
  Parsed p{text, std::vector<JsonToken>(static_cast<std::size_t>(capacity)), 0};
  p.count = jsonParse(p.text.data(), p.text.size(), p.tokens.data(), capacity);
  return p;
}

int tokenCount(const std::string& text, int capacity = 64) {
  return parse(text, capacity).count;
}

std::string nested(int levels, const std::string& inside) {
  return std::string(static_cast<std::size_t>(levels), '[') + inside +
         std::string(static_cast<std::size_t>(levels), ']');
}

// The decoded value of member `key` of the top object, through jsonGetString.
std::string stringOf(const std::string& text, const char* key, std::size_t capacity = 256) {
  Parsed p = parse(text);
  EXPECT_GT(p.count, 0) << text;
  std::vector<char> out(capacity + 1, 'X');
  jsonGetString(p.text.data(), p.tokens.data(), p.count, 0, key, out.data(), capacity);
  return std::string(out.data());
}

double numberOf(const std::string& value) {
  Parsed p = parse("[" + value + "]");
  EXPECT_EQ(p.count, 2) << value;
  return jsonGetNumber(p.text.data(), p.tokens.data(), p.count, 1);
}

std::string unescaped(const std::string& literal, std::size_t capacity = 64) {
  Parsed p = parse("\"" + literal + "\"");
  EXPECT_EQ(p.count, 1) << literal;
  std::vector<char> out(capacity + 1, 'X');
  EXPECT_EQ(jsonUnescape(p.text.data(), p.tokens.data(), p.count, 0, out.data(), capacity), 1);
  return std::string(out.data());
}

TEST(JsonParseDocument, AcceptsOneValueWithBomAndSurroundingWhitespace) {
  EXPECT_EQ(tokenCount("\xEF\xBB\xBF{\"a\":1}"), 3);
  EXPECT_EQ(tokenCount(" \t\r\n[1, 2]\n"), 3);
  EXPECT_EQ(tokenCount("42"), 1);
  EXPECT_EQ(tokenCount("{\"a\":1} x"), -1);
  EXPECT_EQ(tokenCount("[1] [2]"), -1);
  EXPECT_EQ(tokenCount(""), -1);
  EXPECT_EQ(tokenCount("  "), -1);
  EXPECT_EQ(tokenCount("\xEF\xBB"), -1);
  EXPECT_EQ(tokenCount("[1]\f"), -1);  // form feed is not whitespace here
}

TEST(JsonParseDocument, RejectsTrailingCommasAndBrokenContainers) {
  EXPECT_EQ(tokenCount("[1,]"), -1);
  EXPECT_EQ(tokenCount("{\"a\":1,}"), -1);
  EXPECT_EQ(tokenCount("[,]"), -1);
  EXPECT_EQ(tokenCount("[1 2]"), -1);
  EXPECT_EQ(tokenCount("[1}"), -1);
  EXPECT_EQ(tokenCount("{\"a\":1]"), -1);
  EXPECT_EQ(tokenCount("{\"a\" 1}"), -1);
  EXPECT_EQ(tokenCount("{a:1}"), -1);
  EXPECT_EQ(tokenCount("{\"a\":}"), -1);
  EXPECT_EQ(tokenCount("[1"), -1);
  EXPECT_EQ(tokenCount("["), -1);
  EXPECT_EQ(tokenCount("[}"), -1);
  EXPECT_EQ(tokenCount("{]"), -1);
}

TEST(JsonParseDocument, EmptyContainersAreOneTokenOfSizeZero) {
  for (const char* text : {"{}", "[ ]", "{ \n}"}) {
    Parsed p = parse(text);
    ASSERT_EQ(p.count, 1) << text;
    EXPECT_EQ(p.tokens[0].size, 0);
    EXPECT_EQ(p.tokens[0].next, 1);
    EXPECT_EQ(p.tokens[0].end, static_cast<int>(p.text.size()));
  }
}

TEST(JsonParseDocument, DepthLimitIsThirtyTwoLevelsBelowTheTop) {
  EXPECT_EQ(tokenCount(nested(32, "1")), 33);
  EXPECT_EQ(tokenCount(nested(33, "1")), -1);
  EXPECT_EQ(tokenCount(nested(33, "")), 33);  // the innermost array itself sits at depth 32
  EXPECT_EQ(tokenCount(nested(34, "")), -1);
  // Objects count the same way as arrays.
  std::string deep = "1";
  for (int i = 0; i < 33; ++i) deep = "{\"k\":" + deep + "}";
  EXPECT_EQ(tokenCount(deep, 128), -1);
  // Far deeper input is refused without exhausting the stack.
  EXPECT_EQ(tokenCount(nested(100000, "1")), -1);
}

TEST(JsonParseDocument, CapacityCountsEveryValueAndKey) {
  EXPECT_EQ(tokenCount("[1,2,3]", 3), -1);
  EXPECT_EQ(tokenCount("[1,2,3]", 4), 4);
  EXPECT_EQ(tokenCount("{\"a\":\"b\"}", 2), -1);
  EXPECT_EQ(tokenCount("{\"a\":\"b\"}", 3), 3);
  Parsed p = parse("[1]");
  EXPECT_EQ(jsonParse(p.text.data(), p.text.size(), p.tokens.data(), 0), -1);
}

TEST(JsonParsePrimitive, AcceptsKeywordsAndAnythingStartingLikeANumber) {
  EXPECT_EQ(tokenCount("[true,false,null]"), 4);
  EXPECT_EQ(tokenCount("[tru]"), -1);
  EXPECT_EQ(tokenCount("[truex]"), -1);
  EXPECT_EQ(tokenCount("[nul]"), -1);
  EXPECT_EQ(tokenCount("[True]"), -1);
  EXPECT_EQ(tokenCount("[-x]"), 2);
  EXPECT_EQ(tokenCount("[1.2.3]"), 2);
  EXPECT_EQ(tokenCount("[+1]"), -1);
  EXPECT_EQ(tokenCount("[.5]"), -1);
  EXPECT_EQ(tokenCount(std::string("[1\x01]")), -1);
  EXPECT_EQ(tokenCount(std::string("[1\0]", 4)), -1);
}

TEST(JsonParseString, ValidatesCharactersAndEscapes) {
  EXPECT_EQ(tokenCount("\"a\\\"\\\\\\/\\b\\f\\n\\r\\t\""), 1);
  EXPECT_EQ(tokenCount("\"\\u00e9\\uABCD\""), 1);
  EXPECT_EQ(tokenCount("\"a\tb\""), -1);
  EXPECT_EQ(tokenCount("\"a\nb\""), -1);
  EXPECT_EQ(tokenCount("\"\\x41\""), -1);
  EXPECT_EQ(tokenCount("\"\\u00g0\""), -1);
  EXPECT_EQ(tokenCount("\"\\u00e\""), -1);
  EXPECT_EQ(tokenCount("\"abc"), -1);
  EXPECT_EQ(tokenCount("\"abc\\"), -1);
  EXPECT_EQ(tokenCount("\"\\u12"), -1);
  EXPECT_EQ(tokenCount("\"\xC3\xA9\x7F\""), 1);  // UTF-8 and DEL pass
}

TEST(JsonTokens, RecordOffsetsAndSkipLinks) {
  //                 0123456789012345678901234567890
  Parsed p = parse("{\"a\":[1,{\"b\":[]}],\"c\":\"xy\"}");
  ASSERT_EQ(p.count, 9);
  const JsonToken& top = p.tokens[0];
  EXPECT_EQ(top.type, JSON_OBJECT);
  EXPECT_EQ(top.size, 2);
  EXPECT_EQ(top.next, 9);
  EXPECT_EQ(p.tokens[1].type, JSON_STRING);  // key "a"
  EXPECT_EQ(p.tokens[1].start, 2);
  EXPECT_EQ(p.tokens[1].end, 3);
  const JsonToken& array = p.tokens[2];
  EXPECT_EQ(array.type, JSON_ARRAY);
  EXPECT_EQ(array.size, 2);
  EXPECT_EQ(array.start, 5);
  EXPECT_EQ(array.end, 17);
  EXPECT_EQ(array.next, 7);  // past [1,{"b":[]}] in one step
  EXPECT_EQ(p.tokens[4].next, 7);
  EXPECT_EQ(p.tokens[7].type, JSON_STRING);  // key "c"
  EXPECT_EQ(p.tokens[8].start, 23);
  EXPECT_EQ(p.tokens[8].end, 25);
}

TEST(JsonFindKey, MatchesRawKeyBytesAndSkipsNestedValues) {
  Parsed p = parse("{\"a\":{\"b\":1,\"c\":[{\"b\":2}]},\"b\":3,\"b\":4,\"B\":5}");
  ASSERT_GT(p.count, 0);
  const char* t = p.text.data();
  const int b = jsonFindKey(t, p.tokens.data(), p.count, 0, "b");
  ASSERT_GT(b, 0);
  EXPECT_EQ(jsonGetNumber(t, p.tokens.data(), p.count, b), 3.0);  // not the nested ones, first one
  const int inner = jsonFindKey(t, p.tokens.data(), p.count, 0, "a");
  EXPECT_EQ(jsonGetNumber(t, p.tokens.data(), p.count,
                          jsonFindKey(t, p.tokens.data(), p.count, inner, "b")),
            1.0);
  EXPECT_EQ(jsonFindKey(t, p.tokens.data(), p.count, 0, "d"), -1);
  EXPECT_EQ(jsonFindKey(t, p.tokens.data(), p.count, 0, ""), -1);
  EXPECT_EQ(
      jsonGetNumber(t, p.tokens.data(), p.count, jsonFindKey(t, p.tokens.data(), p.count, 0, "B")),
      5.0);
}

TEST(JsonFindKey, EscapedKeysNeverMatch) {
  Parsed p = parse("{\"n\\u0061me\":1,\"name\":2}");
  const int at = jsonFindKey(p.text.data(), p.tokens.data(), p.count, 0, "name");
  EXPECT_EQ(jsonGetNumber(p.text.data(), p.tokens.data(), p.count, at), 2.0);
  Parsed only = parse("{\"n\\u0061me\":1}");
  EXPECT_EQ(jsonFindKey(only.text.data(), only.tokens.data(), only.count, 0, "name"), -1);
}

TEST(JsonFindKey, RefusesWhatIsNotANonEmptyObject) {
  Parsed p = parse("[{}, {\"a\":1}]");
  const char* t = p.text.data();
  EXPECT_EQ(jsonFindKey(t, p.tokens.data(), p.count, 0, "a"), -1);  // an array
  EXPECT_EQ(jsonFindKey(t, p.tokens.data(), p.count, 1, "a"), -1);  // no members
  EXPECT_EQ(jsonFindKey(t, p.tokens.data(), p.count, 2, "a"), 4);
  EXPECT_EQ(jsonFindKey(t, p.tokens.data(), p.count, -1, "a"), -1);
  EXPECT_EQ(jsonFindKey(t, p.tokens.data(), p.count, p.count, "a"), -1);
  // A token list cut short of the object's members stays inside the list.
  EXPECT_EQ(jsonFindKey(t, p.tokens.data(), 4, 2, "a"), -1);
}

TEST(JsonArrayItem, FollowsNextLinksOverNestedElements) {
  Parsed p = parse("[[1,[2,3]],{\"k\":[4]},5]");
  ASSERT_EQ(p.count, 11);
  const JsonToken* tk = p.tokens.data();
  EXPECT_EQ(jsonArrayItem(tk, p.count, 0, 0), 1);
  EXPECT_EQ(jsonArrayItem(tk, p.count, 0, 1), 6);
  EXPECT_EQ(jsonArrayItem(tk, p.count, 0, 2), 10);
  EXPECT_EQ(jsonArrayItem(tk, p.count, 0, 3), -1);
  EXPECT_EQ(jsonArrayItem(tk, p.count, 0, -1), -1);
  EXPECT_EQ(jsonArrayItem(tk, p.count, 6, 0), -1);  // an object
  EXPECT_EQ(jsonArrayItem(tk, p.count, 3, 1), 5);
  EXPECT_EQ(jsonArrayItem(tk, 9, 0, 2), -1);  // the link would leave the list
}

TEST(JsonUnescape, DecodesEscapesToBytes) {
  EXPECT_EQ(unescaped("a\\\"b\\\\c\\/d"), "a\"b\\c/d");
  EXPECT_EQ(unescaped("\\b\\f\\n\\r\\t"), "\x08\x0C\x0A\x0D\x09");
  EXPECT_EQ(unescaped("\\u0041\\u00e9\\u20AC"), "A\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(unescaped("x\\u0000y"), "x");
}

TEST(JsonUnescape, PairsSurrogatesAndReplacesLoneOnes) {
  EXPECT_EQ(unescaped("\\ud83d\\ude00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(unescaped("\\uD83D\\uDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(unescaped("\\ud83d"), "\xEF\xBF\xBD");
  EXPECT_EQ(unescaped("\\ude00"), "\xEF\xBF\xBD");
  EXPECT_EQ(unescaped("\\ud83dx"), "\xEF\xBF\xBDx");
  // The escape after an unpaired high surrogate is read on its own.
  EXPECT_EQ(unescaped("\\ud83d\\u0041"),
            "\xEF\xBF\xBD"
            "A");
  EXPECT_EQ(unescaped("\\ud83d\\ud83d\\ude00"), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

TEST(JsonUnescape, KeepsWithinCapacity) {
  EXPECT_EQ(unescaped("abcdef", 4), "abc");
  // A character that does not fit is left out; a later single byte still goes in.
  EXPECT_EQ(unescaped("a\\u00e9b", 3), "ab");
  EXPECT_EQ(unescaped("ab\\ud83d\\ude00", 5), "ab");
  EXPECT_EQ(unescaped("abc", 1), "");
  Parsed p = parse("[\"s\", 1]");
  char out[8] = "X";
  EXPECT_EQ(jsonUnescape(p.text.data(), p.tokens.data(), p.count, 1, out, 0), 0);
  EXPECT_EQ(jsonUnescape(p.text.data(), p.tokens.data(), p.count, 2, out, sizeof out), 0);
  EXPECT_EQ(jsonUnescape(p.text.data(), p.tokens.data(), p.count, -1, out, sizeof out), 0);
  EXPECT_EQ(jsonUnescape(p.text.data(), p.tokens.data(), p.count, 3, out, sizeof out), 0);
  EXPECT_STREQ(out, "");
}

TEST(JsonGetString, CleansControlBytesAndKeepsUtf8) {
  EXPECT_EQ(stringOf("{\"k\":\"a\\u0001b\"}", "k"), "a b");
  EXPECT_EQ(stringOf("{\"k\":\"a\\tb\\nc\x7F\"}", "k"), "a b c ");
  EXPECT_EQ(stringOf("{\"k\":\"\xC3\xA9t\xC3\xA9\"}", "k"), "\xC3\xA9t\xC3\xA9");
}

TEST(JsonGetString, EmptyForMissingOrNonStringValues) {
  EXPECT_EQ(stringOf("{\"k\":1}", "k"), "");
  EXPECT_EQ(stringOf("{\"k\":[\"x\"]}", "k"), "");
  EXPECT_EQ(stringOf("{\"k\":null}", "k"), "");
  EXPECT_EQ(stringOf("{\"j\":\"x\"}", "k"), "");
  EXPECT_EQ(stringOf("{\"k\":\"\"}", "k"), "");
}

TEST(JsonGetString, CutsWithoutLeavingABrokenCharacter) {
  // Eight letters and a two-byte character into ten bytes: the character does not fit whole.
  EXPECT_EQ(stringOf("{\"k\":\"abcdefgh\xC3\xA9\"}", "k", 10), "abcdefgh");
  EXPECT_EQ(stringOf("{\"k\":\"abcdefgh\xC3\xA9\"}", "k", 11), "abcdefgh\xC3\xA9");
  EXPECT_EQ(stringOf("{\"k\":\"abcdefg\xE2\x82\xAC\"}", "k", 10), "abcdefg");
  EXPECT_EQ(stringOf("{\"k\":\"abcdefg\\u20ac!\"}", "k", 10), "abcdefg");
  EXPECT_EQ(stringOf("{\"k\":\"\xF0\x9F\x98\x80\"}", "k", 3), "");
  EXPECT_EQ(stringOf("{\"k\":\"abc\"}", "k", 3), "ab");
  EXPECT_EQ(stringOf("{\"k\":\"abc\"}", "k", 1), "");
  // Stray continuation bytes alone before the cut leave nothing.
  EXPECT_EQ(stringOf("{\"k\":\"\x80\x80\x80\x80\"}", "k", 3), "");
}

TEST(JsonGetString, WorkBufferHoldsAKilobyte) {
  const std::string longText(2000, 'z');
  EXPECT_EQ(stringOf("{\"k\":\"" + longText + "\"}", "k", 2000), std::string(1023, 'z'));
}

TEST(JsonGetNumber, ReadsDecimalNumbersOnly) {
  EXPECT_EQ(numberOf("512"), 512.0);
  EXPECT_EQ(numberOf("-2.5e2"), -250.0);
  EXPECT_EQ(numberOf("2048.9"), 2048.9);
  EXPECT_EQ(numberOf("1.2.3"), 1.2);
  EXPECT_EQ(numberOf("-x"), 0.0);
  EXPECT_EQ(numberOf("0x200"), 0.0);
  EXPECT_EQ(numberOf("-nan"), 0.0);
  EXPECT_EQ(numberOf("-inf"), 0.0);
  EXPECT_EQ(numberOf("1e"), 1.0);
  EXPECT_EQ(numberOf(std::string(47, '1')), std::stod(std::string(47, '1')));
  EXPECT_EQ(numberOf(std::string(48, '1')), 0.0);
  EXPECT_EQ(numberOf("true"), 0.0);
  Parsed p = parse("[\"5\"]");
  EXPECT_EQ(jsonGetNumber(p.text.data(), p.tokens.data(), p.count, 1), 0.0);
  EXPECT_EQ(jsonGetNumber(p.text.data(), p.tokens.data(), p.count, -1), 0.0);
  EXPECT_EQ(jsonGetNumber(p.text.data(), p.tokens.data(), p.count, 9), 0.0);
}

}  // namespace
}  // namespace tw
