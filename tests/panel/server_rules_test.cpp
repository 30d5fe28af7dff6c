// The request rules (Host, Origin, key, routing, methods, reading) through the whole reading and
// checking path, over in-memory connections on virtual time.
#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "common/strict_json.h"
#include "dongle/dongle_link.h"
#include "panel/http_server.h"
#include "panel_page_asset.h"
#include "server_fixture.h"
#include "sim/memory_connection.h"
#include "sim/virtual_clock.h"
#include "sim/world.h"

namespace tw {
namespace {

using test::bodyOf;
using test::statusLine;

// A socket library that works but whose listeners are only counted, never used.
class CountingSockets : public SocketPort {
 public:
  bool startup() override { return true; }
  std::unique_ptr<ListeningSocket> createListener() override {
    ++listenersCreated;
    return nullptr;
  }
  int listenersCreated = 0;
};

class ServerRules : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kPort = 17835;

  void SetUp() override {
    ASSERT_TRUE(server.prepareWithoutSocket(kPort));
    key = server.runKey();
  }

  // One connection: `chunks` arrive one receive each, then the peer closes (or, with
  // `timeOutAtEnd`, the receive wait runs out). Returns all the server sent.
  std::string exchange(const std::vector<std::string>& chunks, bool timeOutAtEnd = false,
                       int* receives = nullptr) {
    sim::MemoryConnection connection;
    for (const std::string& chunk : chunks) connection.addChunk(chunk);
    connection.timeOutAtEnd = timeOutAtEnd;
    server.serveConnection(connection);
    EXPECT_TRUE(connection.shutDown);
    if (receives) *receives = connection.receiveCalls;
    return connection.sent;
  }
  std::string request(const std::string& line, const std::string& headers) {
    return exchange({line + "\r\n" + headers + "\r\n"});
  }
  std::string host() { return "Host: 127.0.0.1:" + std::to_string(kPort) + "\r\n"; }
  std::string api(const std::string& pathAndQuery, const std::string& extra = "") {
    return request("GET " + pathAndQuery + " HTTP/1.1", host() + extra);
  }
  void expectError(const std::string& answer, const std::string& status,
                   const std::string& message) {
    EXPECT_EQ(statusLine(answer), "HTTP/1.1 " + status) << answer;
    EXPECT_EQ(bodyOf(answer), "{\"ok\":false,\"error\":\"" + message + "\"}") << answer;
  }

  sim::VirtualClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  CountingSockets sockets;
  test::FixedRandom random{0x3C};
  PanelHttpServer server{{sockets, random, clock}, dongle, firmware, assets::panelPageAsset()};
  std::string key;
};

TEST_F(ServerRules, ServesThePageWithTheKeyInPlace) {
  std::string answer = request("GET /?x=1 HTTP/1.1", host());
  ASSERT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
  std::string head = answer.substr(0, answer.find("\r\n\r\n") + 2);
  EXPECT_NE(head.find("\r\nContent-Type: text/html; charset=utf-8\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(twPanelPageSize) + "\r\n"),
            std::string::npos);
  EXPECT_NE(head.find("\r\nCache-Control: no-store\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nX-Content-Type-Options: nosniff\r\n"), std::string::npos);
  std::string page = bodyOf(answer);
  EXPECT_EQ(page.size(), twPanelPageSize);
  EXPECT_NE(page.find("<title>Tarnwick Panel</title>"), std::string::npos);
  EXPECT_NE(page.find("\"" + key + "\""), std::string::npos);
  EXPECT_EQ(page.find("TWTOKENPLACEHOLDER"), std::string::npos);
  // Only GET serves the page.
  for (const char* method : {"HEAD", "POST", "get"}) {
    std::string other = request(std::string(method) + " / HTTP/1.1", host());
    EXPECT_EQ(statusLine(other), "HTTP/1.1 404 Not Found") << method;
    EXPECT_EQ(bodyOf(other), "No.\n");
  }
}

TEST_F(ServerRules, NoOtherSiteMayFrameThePageOrLearnItsAddress) {
  std::string answer = request("GET / HTTP/1.1", host());
  std::string head = answer.substr(0, answer.find("\r\n\r\n") + 2);
  EXPECT_NE(head.find("\r\nContent-Security-Policy: frame-ancestors 'none'\r\n"), std::string::npos)
      << head;
  EXPECT_NE(head.find("\r\nX-Frame-Options: DENY\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nReferrer-Policy: no-referrer\r\n"), std::string::npos) << head;
}

TEST_F(ServerRules, HostMustNameThisServer) {
  const std::string target = "GET /api/dev?k=" + key + " HTTP/1.1";
  const std::string p = std::to_string(kPort);
  for (const std::string& bad : std::vector<std::string>{
           std::string(), "Host: 127.0.0.1\r\n",
           "Host: 127.0.0.1:" + std::to_string(kPort + 1) + "\r\n",
           "Host: rebind.example:" + p + "\r\n", "Host: 127.1:" + p + "\r\n",
           "Host: [::ffff:127.0.0.1]:" + p + "\r\n", "Host: 127.0.0.1:" + p + "x\r\n",
           "Host: 127.0.0.1:" + p + " \r\n", "Host: localhost.:" + p + "\r\n"}) {
    expectError(request(target, bad), "403 Forbidden", "not a local request");
  }
  for (const std::string& good : std::vector<std::string>{
           "Host: LOCALHOST:" + p + "\r\n", "Host: [::1]:" + p + "\r\n",
           "host:127.0.0.1:" + p + "\r\n", "Host:\t localhost:" + p + "\r\n"}) {
    EXPECT_EQ(statusLine(request(target, good)), "HTTP/1.1 200 OK") << good;
  }
  // The first Host header decides.
  expectError(request(target, "Host: evil.example\r\nHost: 127.0.0.1:" + p + "\r\n"),
              "403 Forbidden", "not a local request");
  // The page too is served only to a local Host.
  expectError(request("GET / HTTP/1.1", "Host: rebind.example:" + p + "\r\n"), "403 Forbidden",
              "not a local request");
}

TEST_F(ServerRules, AbsoluteFormTargetIsNotServed) {
  std::string answer = api("http://127.0.0.1:" + std::to_string(kPort) + "/api/dev?k=" + key);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(bodyOf(answer), "No.\n");
}

TEST_F(ServerRules, OriginWhenSentMustBeOurs) {
  const std::string p = std::to_string(kPort);
  const std::string path = "/api/dev?k=" + key;
  for (const std::string& bad : std::vector<std::string>{
           "Origin: http://evil.example\r\n", "Origin: null\r\n", "Origin:\r\n",
           "Origin: http://127.0.0.1:" + p + "/\r\n", "Origin: https://127.0.0.1:" + p + "\r\n",
           "Origin: http://[::1]:" + p + "\r\n", "Origin: http://127.0.0.1\r\n"}) {
    expectError(api(path, bad), "403 Forbidden", "cross-origin");
  }
  for (const std::string& good : std::vector<std::string>{
           "Origin: http://127.0.0.1:" + p + "\r\n", "Origin: HTTP://LocalHost:" + p + "\r\n"}) {
    EXPECT_EQ(statusLine(api(path, good)), "HTTP/1.1 200 OK") << good;
  }
  // The Origin check comes before the key: a foreign page learns nothing of the key's state.
  expectError(api("/api/dev", "Origin: http://evil.example\r\n"), "403 Forbidden", "cross-origin");
}

TEST_F(ServerRules, KeyMustMatchExactly) {
  std::string upper = key;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  ASSERT_NE(upper, key);  // the fixed key holds letters
  for (const std::string& bad :
       std::vector<std::string>{"/api/dev", "/api/dev?k=" + upper, "/api/dev?k=" + key + "0",
                                "/api/dev?k=" + key.substr(1), "/api/dev?K=" + key}) {
    expectError(api(bad), "403 Forbidden", "bad key");
  }
  // An empty k is the key; it does not fall back to the header.
  expectError(api("/api/dev?k=", "X-TW-Key: " + key + "\r\n"), "403 Forbidden", "bad key");
  expectError(api("/api/dev", "X-TW-Key: " + upper + "\r\n"), "403 Forbidden", "bad key");
  EXPECT_EQ(statusLine(api("/api/dev", "X-TW-Key: " + key + "\r\n")), "HTTP/1.1 200 OK");
  EXPECT_EQ(statusLine(api("/api/dev?a=1&k=" + key)), "HTTP/1.1 200 OK");
  // Percent-encoding is decoded before the comparison.
  std::string encoded = "%" + std::to_string(30 + (key[0] - '0')) + key.substr(1);
  if (key[0] >= '0' && key[0] <= '9') {
    EXPECT_EQ(statusLine(api("/api/dev?k=" + encoded)), "HTTP/1.1 200 OK");
  }
}

TEST_F(ServerRules, PathsAndMethods) {
  std::string answer = api("/api?k=" + key);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 404 Not Found");
  EXPECT_NE(answer.find("Content-Type: text/plain; charset=utf-8"), std::string::npos);
  EXPECT_EQ(bodyOf(answer), "No.\n");
  expectError(api("/api/?k=" + key), "404 Not Found", "no such call");
  expectError(api("/api/"), "403 Forbidden", "bad key");
  expectError(api("/api/DEV?k=" + key), "404 Not Found", "no such call");
  expectError(api("/api/dev/?k=" + key), "404 Not Found", "no such call");
  for (const char* method : {"post", "POSTX", "GET"}) {
    std::string refused =
        request(std::string(method) + " /api/output?k=" + key + " HTTP/1.1", host());
    expectError(refused, "405 Method Not Allowed", "POST only");
    EXPECT_NE(refused.find("\r\nAllow: POST\r\n"), std::string::npos) << refused;
  }
  // Any method reaches the calls that take any.
  for (const char* method : {"GET", "POST", "PUT", "DELETE"}) {
    EXPECT_EQ(statusLine(request(std::string(method) + " /api/dev?k=" + key + " HTTP/1.1", host())),
              "HTTP/1.1 200 OK")
        << method;
  }
  expectError(request("GET", host()), "400 Bad Request", "bad request");
  expectError(request("", host()), "400 Bad Request", "bad request");
  expectError(request("   ", host()), "400 Bad Request", "bad request");
  // A method longer than 7 characters is read as its first 7, and the rest as the target.
  answer = request("GETGETGET /api/dev?k=" + key + " HTTP/1.1", host());
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(bodyOf(answer), "No.\n");
}

TEST_F(ServerRules, EveryJsonAnswerIsValidJson) {
  for (const std::string& path : std::vector<std::string>{
           "/api/dev?k=" + key, "/api/open?k=" + key, "/api/feature?id=248&k=" + key,
           "/api/feature?id=0&k=" + key, "/api/nothing?k=" + key, "/api/dev"}) {
    std::string body = bodyOf(api(path));
    EXPECT_TRUE(test::StrictJson().parse(body)) << path << ": " << body;
  }
}

TEST_F(ServerRules, OversizeHeaderBlockIsHandledWithWhatArrived) {
  std::string head = "GET /api/dev?k=" + key + " HTTP/1.1\r\n" + host() + "X-Pad: ";
  head += std::string(kRequestCapacity - head.size(), 'p');
  int receives = 0;
  std::string answer = exchange({head, "never read"}, false, &receives);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_NE(bodyOf(answer).find("\"found\":true"), std::string::npos);
  EXPECT_EQ(receives, 1);
}

TEST_F(ServerRules, RequestsArriveInPieces) {
  // The save command.
  const std::string whole = "POST /api/feature?k=" + key + " HTTP/1.1\r\n" + host() +
                            "Content-Length: 20\r\n\r\nid=246&data=Ag%3D%3D";
  std::vector<std::string> bytes;
  for (char c : whole) bytes.emplace_back(1, c);
  bytes.push_back("never read");
  int receives = 0;
  std::string answer = exchange(bytes, false, &receives);
  EXPECT_EQ(bodyOf(answer), "{\"ok\":true}") << answer;
  EXPECT_EQ(world.dongle().saveCount(), 1u);
  // Reading stops with the declared body's last byte.
  EXPECT_EQ(receives, static_cast<int>(whole.size()));
}

TEST_F(ServerRules, DeclaredLengthsStopReadingEarly) {
  const std::string line = "POST /api/feature?k=" + key + " HTTP/1.1\r\n" + host();
  for (const char* length : {"9000", "-1", "18446744073709551617"}) {
    int receives = 0;
    std::string answer = exchange({line + "Content-Length: " + length + "\r\n\r\nid=7", "&data=AA"},
                                  true, &receives);
    EXPECT_EQ(receives, 1) << length;
    expectError(answer, "400 Bad Request", "no data");
  }
  // 8192 is still read.
  int receives = 0;
  exchange({line + "Content-Length: 8192\r\n\r\nid=7", "&data=AA"}, false, &receives);
  EXPECT_EQ(receives, 3);
}

TEST_F(ServerRules, ShortBodyIsHandledWhenThePeerStopsSending) {
  expectError(exchange({"POST /api/feature?k=" + key + " HTTP/1.1\r\n" + host() +
                        "Content-Length: 100\r\n\r\nid=248"}),
              "400 Bad Request", "no data");
}

TEST_F(ServerRules, SilentConnectionIsClosedUnanswered) {
  EXPECT_EQ(exchange({}, true), "");
  EXPECT_EQ(exchange({}, false), "");
  // A request that stops half way is answered with what arrived once the wait runs out.
  std::string answer = exchange({"GET /api/dev?k=" + key + " HTTP/1.1\r\n" + host()}, true);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 200 OK");
}

TEST_F(ServerRules, FormValuesAreDecodedBeforeUse) {
  const std::string base = "/api/feature?k=" + key + "&id=";
  EXPECT_EQ(statusLine(api(base + "%20248")), "HTTP/1.1 200 OK");
  EXPECT_EQ(statusLine(api(base + "+248")), "HTTP/1.1 200 OK");
  EXPECT_EQ(statusLine(api(base + "248abc")), "HTTP/1.1 200 OK");
  for (const char* bad : {"0", "256", "%2", "%zz248", "-248", ""}) {
    expectError(api(base + bad), "400 Bad Request", "bad id");
  }
  expectError(api("/api/feature?k=" + key), "400 Bad Request", "no id");
}

TEST(ServerStart, FailsWithoutThePlaceholderBeforeAnySocket) {
  sim::VirtualClock clock;
  sim::World world{clock};
  DongleLink dongle{world.hid()};
  test::BusyFlagFirmware firmware;
  test::FixedRandom random;
  CountingSockets sockets;
  PanelHttpServer server{
      {sockets, random, clock}, dongle, firmware, "<html>no key constant here at all</html>"};
  EXPECT_FALSE(server.prepareWithoutSocket(17832));
  EXPECT_FALSE(server.startServer());
  EXPECT_EQ(server.serverPort(), 0u);
  EXPECT_EQ(sockets.listenersCreated, 0);
}

}  // namespace
}  // namespace tw
