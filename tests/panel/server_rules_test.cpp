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

TEST_F(ServerRules, OnlyAWholeRequestIsActedOn) {
  const std::string line = "POST /api/fw/start?k=" + key + " HTTP/1.1\r\n" + host();
  const std::string restart = "action=restart";
  const std::string pad = "X-Pad: " + std::string(kRequestCapacity, 'p');
  // One row: the chunks that arrive, whether the receive wait then runs out (or the peer
  // closes), the answer ("status" when the action was taken, else "status: message") and how
  // many receives the server made (0: not counted).
  auto row = [&](const std::vector<std::string>& chunks, bool timeOut, const std::string& answer,
                 int receives) {
    const std::size_t before = firmware.actions().size();
    int made = 0;
    std::string sent = exchange(chunks, timeOut, &made);
    const std::size_t colon = answer.find(": ");
    const std::string what = chunks.front().substr(line.size(), 80);
    EXPECT_EQ(statusLine(sent), "HTTP/1.1 " + answer.substr(0, colon)) << what;
    if (colon != std::string::npos) {
      EXPECT_EQ(bodyOf(sent), "{\"ok\":false,\"error\":\"" + answer.substr(colon + 2) + "\"}")
          << what;
    }
    EXPECT_EQ(firmware.actions().size() - before, colon == std::string::npos ? 1u : 0u) << what;
    if (receives) {
      EXPECT_EQ(made, receives) << what;
    }
  };
  row({line + "Content-Length: 14\r\n\r\n", "action=", "restart"}, false, "200 OK", 3);
  row({line + "Content-Length: 14 \t\r\n\r\n" + restart}, false, "200 OK", 1);
  // Leading zeros beyond the size of any field the value might be cut to.
  row({line + "Content-Length: " + std::string(40, '0') + "14\r\n\r\n" + restart}, false, "200 OK",
      1);
  // Refused on the head alone, before any of the body is read.
  row({line + "Content-Length: 100000\r\n\r\n" + restart, "more"}, false,
      "413 Content Too Large: body too large", 1);
  row({line + "Content-Length: 18446744073709551617\r\n\r\n" + restart}, false,
      "413 Content Too Large: body too large", 1);
  for (const char* length : {"-1", "+14", "14x", "1 4", "0x0e", ""}) {
    row({line + "Content-Length: " + length + "\r\n\r\n" + restart, "more"}, false,
        "400 Bad Request: bad content length", 1);
  }
  row({line + "Content-Length: 14\r\nContent-Length: 14\r\n\r\n" + restart}, false,
      "400 Bad Request: repeated header", 1);
  row({line + "Transfer-Encoding: chunked\r\n\r\ne\r\n" + restart + "\r\n0\r\n\r\n"}, false,
      "501 Not Implemented: transfer codings are not supported", 1);
  // Bodies that stop short: the peer closes, or the receive wait runs out.
  row({line + "Content-Length: 100\r\n\r\n" + restart}, false, "400 Bad Request: incomplete body",
      2);
  row({line + "Content-Length: 100\r\n\r\n" + restart}, true,
      "408 Request Timeout: request timed out", 2);
  row({line + "Content-Length: 8192\r\n\r\n" + restart}, true,
      "408 Request Timeout: request timed out", 2);
  row({line + pad.substr(0, 9000) + "\r\nContent-Length: 8000\r\n\r\n", std::string(8000, 'x')},
      false, "413 Content Too Large: request too large", 2);
  // A head that never ends declares no body that could have come.
  row({line + "Content-Length: 14\r\n"}, false, "400 Bad Request: incomplete body", 2);
  row({line + "Content-Length: 14\r\n" + pad, "never read"}, false,
      "413 Content Too Large: request too large", 1);
  row({line + "Content-Length: 16\r\n\r\n" + restart + std::string("\0x", 2)}, false,
      "400 Bad Request: bad request", 1);
}

TEST_F(ServerRules, TheBodyIsExactlyTheDeclaredLength) {
  const std::string line = "POST /api/fw/start?k=" + key + " HTTP/1.1\r\n" + host();
  // What follows the declared 14 bytes is not read as part of the form.
  EXPECT_EQ(bodyOf(exchange({line + "Content-Length: 14\r\n\r\naction=restart&confirm=1"})),
            "{\"ok\":true}");
  // Without a length there is no body.
  expectError(exchange({line + "\r\naction=restart"}), "400 Bad Request", "no action");
  EXPECT_EQ(firmware.actions(), std::vector<std::string>{"restart"});
}

TEST_F(ServerRules, HeadersAreReadFromTheHeadAndEachOnlyOnce) {
  const std::string p = std::to_string(kPort);
  const std::string local = "Host: 127.0.0.1:" + p + "\r\n";
  const std::string ours = "Origin: http://127.0.0.1:" + p + "\r\n";
  auto withBody = [](const std::string& body) {
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  const std::string dev = "/api/dev?k=" + key;
  struct Case {
    std::string target;
    std::string headers;  // up to and with the empty line
    const char* status;
    const char* message;  // nullptr: answered
  };
  const std::vector<Case> cases = {
      // Header lines in a body are no headers.
      {dev, withBody("a=1\r\nHost: 127.0.0.1:" + p), "403 Forbidden", "not a local request"},
      {"/api/dev", local + withBody("a=1\r\nX-TW-Key: " + key), "403 Forbidden", "bad key"},
      {dev, local + withBody("a=1\r\nOrigin: http://evil.example"), "200 OK", nullptr},
      // A header a check reads, given twice in any case or order.
      {dev, local + "Host: evil.example\r\n\r\n", "400 Bad Request", "repeated header"},
      {dev, "Host: evil.example\r\n" + local + "\r\n", "400 Bad Request", "repeated header"},
      {dev, local + "host: 127.0.0.1:" + p + "\r\n\r\n", "400 Bad Request", "repeated header"},
      {"/", local + local + "\r\n", "400 Bad Request", "repeated header"},
      {dev, local + ours + "Origin: http://evil.example\r\n\r\n", "400 Bad Request",
       "repeated header"},
      {"/api/dev", local + "X-TW-Key: " + key + "\r\nX-TW-Key: x\r\n\r\n", "400 Bad Request",
       "repeated header"},
      {dev, local + "X-Host: evil.example\r\nOrigins: x\r\n\r\n", "200 OK", nullptr},
      // A NUL would hide what follows it from a reader that stops there.
      {dev, local + std::string("\0", 1) + "Origin: http://evil.example\r\n\r\n", "400 Bad Request",
       "bad request"},
  };
  for (const Case& c : cases) {
    std::string answer = exchange({"GET " + c.target + " HTTP/1.1\r\n" + c.headers});
    const std::string what = c.target + " " + c.headers;
    EXPECT_EQ(statusLine(answer), std::string("HTTP/1.1 ") + c.status) << what;
    if (c.message) {
      EXPECT_EQ(bodyOf(answer), std::string("{\"ok\":false,\"error\":\"") + c.message + "\"}")
          << what;
    }
  }
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
