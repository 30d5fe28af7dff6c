#include <gtest/gtest.h>

#include "panel/base64.h"
#include "panel/http_text.h"
#include "panel/panel_page.h"
#include "common/strict_json.h"
#include "panel/server_limits.h"
#include "sim/memory_connection.h"
#include "server_fixture.h"

namespace tw {
namespace {

TEST(HeaderValue, MatchesLineStartsOnlyAndKeepsTrailingBlanks) {
  const std::string request =
      "GET /Host: x HTTP/1.1\r\nX-Host: bad\r\nhOsT:\t 127.0.0.1:1 \r\nHost: second\r\n\r\n";
  std::string value;
  ASSERT_TRUE(headerValue(request, "Host", value, 128));
  EXPECT_EQ(value, "127.0.0.1:1 ");
  EXPECT_FALSE(headerValue("Host: only-on-request-line\r\n\r\n", "Host", value, 128));
  EXPECT_FALSE(headerValue("GET / HTTP/1.1\r\nHostname: x\r\n\r\n", "Host", value, 128));
  ASSERT_TRUE(headerValue("GET / HTTP/1.1\r\nOrigin:\r\n\r\n", "Origin", value, 256));
  EXPECT_EQ(value, "");
  ASSERT_TRUE(headerValue("GET /\nHost: abcdefgh", "Host", value, 4));
  EXPECT_EQ(value, "abc");
}

TEST(FormValue, FindsWholeNamesAndDecodes) {
  std::string v;
  EXPECT_TRUE(formValue("xk=1&k=a+b%41%zz%4", "k", v, 128));
  EXPECT_EQ(v, "a bA%zz%4");
  EXPECT_TRUE(formValue("k=&k=2", "k", v, 128));
  EXPECT_EQ(v, "");
  EXPECT_FALSE(formValue("k", "k", v, 128));
  EXPECT_FALSE(formValue("", "k", v, 128));
  EXPECT_FALSE(formValue("kk=1&ak=2", "k", v, 128));
  // The cut comes before decoding: "%41" cut to "%4" stays as it is.
  EXPECT_TRUE(formValue("id=12%41", "id", v, 5));
  EXPECT_EQ(v, "12%4");
  EXPECT_TRUE(formValue("id=%2B7&x", "id", v, 16));
  EXPECT_EQ(v, "+7");
}

TEST(FormValue, ParsesDecimalLikeC) {
  EXPECT_EQ(parseDecimal(" 7"), 7);
  EXPECT_EQ(parseDecimal("+12abc"), 12);
  EXPECT_EQ(parseDecimal("-1"), -1);
  EXPECT_EQ(parseDecimal("x1"), 0);
  EXPECT_EQ(parseDecimal(""), 0);
  EXPECT_GT(parseDecimal("99999999999999999999999999"), 8192);
}

TEST(Base64, EncodesWithPaddingAndDecodesLeniently) {
  const std::uint8_t bytes[] = {'M', 'a', 'n', 0xFF, 0x00};
  char out[16];
  EXPECT_EQ(base64Encode(bytes, 3, out), 4u);
  EXPECT_STREQ(out, "TWFu");
  EXPECT_EQ(base64Encode(bytes, 4, out), 8u);
  EXPECT_STREQ(out, "TWFu/w==");
  EXPECT_EQ(base64Encode(bytes, 5, out), 8u);
  EXPECT_STREQ(out, "TWFu/wA=");
  EXPECT_EQ(base64Encode(bytes, 0, out), 0u);
  EXPECT_STREQ(out, "");

  std::uint8_t decoded[kMaxDecodedBytes];
  EXPECT_EQ(base64Decode(" T W\nF u\t/w==!*", decoded), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded), 4), "Man\xFF");
  EXPECT_EQ(base64Decode("====", decoded), 0);
  EXPECT_EQ(base64Decode("QQ", decoded), 1);  // leftover bits are dropped
}

TEST(Base64, StopsAt512Bytes) {
  std::uint8_t payload[513] = {};
  char text[base64EncodedCapacity(513)];
  std::uint8_t decoded[kMaxDecodedBytes];
  base64Encode(payload, 512, text);
  EXPECT_EQ(base64Decode(text, decoded), 512);
  base64Encode(payload, 513, text);
  EXPECT_EQ(base64Decode(text, decoded), -1);
}

TEST(JsonError, EscapesAndBoundsTheMessage) {
  sim::MemoryConnection connection;
  sendJsonError(connection, "400 Bad Request", std::string("a\"b\\c\n\x01\xC3\xA9", 9));
  EXPECT_EQ(test::bodyOf(connection.sent),
            "{\"ok\":false,\"error\":\"a\\\"b\\\\c\\u000a\\u0001\xC3\xA9\"}");
  const std::string head =
      "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json; charset=utf-8\r\n"
      "Content-Length: " +
      std::to_string(test::bodyOf(connection.sent).size()) +
      "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: "
      "close\r\n\r\n";
  EXPECT_EQ(connection.sent.substr(0, head.size()), head);

  EXPECT_EQ(escapeErrorMessage(std::string(2000, 'x')).size(), 633u);
  EXPECT_LE(escapeErrorMessage(std::string(2000, '\n')).size(), 633u + 6);
}

std::string hexOf(const std::string& bytes) {
  std::string out;
  char pair[4];
  for (unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02x ", c);
    out += pair;
  }
  return out;
}

TEST(JsonError, BodyIsValidJsonWhateverTheMessageHolds) {
  const std::string fffd = "\xEF\xBF\xBD";  // U+FFFD, what a byte outside any character becomes
  const std::string below(632, 'x');        // the next character starts just below the limit
  struct Case {
    std::string message;
    std::string error;  // the "error" member as a JSON reader decodes it
  };
  const std::vector<Case> cases = {
      {"plain", "plain"},
      {std::string("\"\\/\n\t\x01\x1f\x7f\0end", 12),
       std::string("\"\\/\n\t\x01\x1f\x7f\0end", 12)},
      {"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xAE", "caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xAE"},
      // Bytes that are no part of a well-formed character, one replacement each.
      {"\x80", fffd},
      {"a\xC3", "a" + fffd},
      {"\xC3(", fffd + "("},
      {"\xE2\x80\"}", fffd + fffd + "\"}"},
      {"\xF0\x9F\x8E", fffd + fffd + fffd},
      {"\xC0\xAF", fffd + fffd},                        // overlong "/"
      {"\xE0\x80\xAF", fffd + fffd + fffd},             // overlong again
      {"\xED\xA0\x80", fffd + fffd + fffd},             // a surrogate
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // beyond U+10FFFF
      {"\xF5\xFE\xFF", fffd + fffd + fffd},
      // At the limit: characters are kept or left out whole, never cut.
      {below + "\xF0\x9F\x8E\xAE" + "y", below + "\xF0\x9F\x8E\xAE"},
      {below + "\xC3\xA9", below + "\xC3\xA9"},
      {below + "x\xE2\x80\x94", below + "x"},
      {below + "\n", below + "\n"},
      {below + "\xF0\x9F\x8E", below + fffd},
      {std::string(2000, '"'), std::string(317, '"')},
      {std::string(2000, '\xF0'),
       [&] {
         std::string all;
         for (int i = 0; i < 106; ++i) all += fffd;
         return all;
       }()},
  };
  for (const Case& c : cases) {
    sim::MemoryConnection connection;
    sendJsonError(connection, kBadRequest, c.message);
    const std::string body = test::bodyOf(connection.sent);
    test::StrictJson json;
    ASSERT_TRUE(json.parse(body)) << hexOf(c.message) << "\n" << hexOf(body);
    EXPECT_EQ(body.rfind("{\"ok\":false,\"error\":\"", 0), 0u) << body;
    EXPECT_EQ(json.topStrings().at("error"), c.error) << hexOf(c.message);
    EXPECT_LT(body.size(), kErrorObjectCapacity);
    EXPECT_NE(connection.sent.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos);
  }
}

TEST(JsonError, StrictCheckRefusesWhatIsNotJson) {
  // The check the table above relies on must itself tell broken bodies apart.
  for (const char* bad :
       {"{\"ok\":false,\"error\":\"x", "{\"a\":1,}", "{\"a\":01}", "{\"a\":\"\x80\"}",
        "{\"a\":\"\xC3\"}", "{\"a\":\"\\ud800\"}", "{\"a\":\"\\x\"}", "{a:1}", "{\"a\":\"\x01\"}",
        "{\"a\":tru}", "{} {}", ""}) {
    EXPECT_FALSE(test::StrictJson().parse(bad)) << bad;
  }
  for (const char* good :
       {"{\"a\":[1,-0.5e+3,true,null,{}],\"b\":\"\\ud83c\\udfae\\/\"}", " [] "}) {
    EXPECT_TRUE(test::StrictJson().parse(good)) << good;
  }
}

TEST(JsonError, AbandonsTheAnswerWhenTheSendFails) {
  sim::MemoryConnection connection;
  connection.sendBudget = 10;
  sendResponse(connection, "200 OK", kJsonType, "{\"ok\":true}");
  EXPECT_EQ(connection.sent.size(), 10u);
}

TEST(RunKey, IsLowercaseHexOfTheRandomBytes) {
  test::FixedRandom random(0xA5);
  EXPECT_EQ(makeRunKey(random), "a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5");
}

TEST(RunKey, FallsBackToTheSeededGenerator) {
  test::FixedRandom broken(0, false);
  std::string key = makeRunKey(broken);
  ASSERT_EQ(key.size(), 32u);
  EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
  // The generator follows the seed: same hints, same key; other hints, another key.
  EXPECT_EQ(makeRunKey(broken), key);
  broken.hints.processId = 43;
  EXPECT_NE(makeRunKey(broken), key);

  std::uint8_t bytes[2];
  fallbackKeyBytes(EntropyHints{1, 0, 0}, bytes, 2);
  std::uint64_t x = 1;
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  EXPECT_EQ(bytes[0], x & 0xFF);
}

TEST(PanelPage, ReplacesTheFirstPlaceholderAndKeepsTheLength) {
  const std::string key = "0123456789abcdef0123456789abcdef";
  std::string asset = "<script>const K=\"TWTOKENPLACEHOLDER00000000000000\";</script>";
  PanelPage page;
  ASSERT_TRUE(preparePanelPage(asset, key, page));
  EXPECT_EQ(page.view(), "<script>const K=\"" + key + "\";</script>");
  EXPECT_FALSE(preparePanelPage("short", key, page));
  EXPECT_FALSE(preparePanelPage(std::string(100, 'x'), key, page));
  EXPECT_TRUE(preparePanelPage("TWTOKENPLACEHOLDER00000000000000", key, page));
  EXPECT_EQ(page.view(), key);
}

}  // namespace
}  // namespace tw
